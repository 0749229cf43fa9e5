#pragma once

#include <QPixmap>

// The two barrier icons: 0 locked (red sign, white horizontal bar), 1 free (green sign,
// white vertical bar), 30 x 30.
QPixmap barrierIcon(int lockState);
// The barrier icon while its port is lost and being retried: a grey sign with a white
// cross, whatever the lock state.
QPixmap barrierIconNotConnected();
