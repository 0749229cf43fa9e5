#pragma once

#include "platform/Colors.h"
#include "tests/support/PaintCounter.h"

#include <QImage>
#include <QString>

// Reads the digits off a grabbed time display: samples the middle of each segment of a
// 45 x 89 digit (Thickness 5) and looks the lit pattern up in the digit table.
inline QChar readDigit(const QImage &img, int left, int top, TColor lit)
{
    static const int samples[7][2] = {{22, 5},  {22, 44}, {22, 83}, {5, 24},
                                      {39, 24}, {5, 63},  {39, 63}};
    static const int patterns[10] = {125, 80, 55, 87, 90, 79, 111, 81, 127, 95};
    int pattern = 0;
    for (int bit = 0; bit < 7; ++bit)
        if (pixelAt(img, left + samples[bit][0], top + samples[bit][1]) == lit)
            pattern |= 1 << bit;
    for (int d = 0; d < 10; ++d)
        if (patterns[d] == pattern)
            return QChar(u'0' + d);
    return QChar(u'?');
}

// One row of the panel as text, HH:MM:SS,hh; '?' where no digit is lit in `lit`.
inline QString readRow(const QImage &panel, int row, TColor lit)
{
    static const int lefts[8] = {8, 56, 136, 184, 264, 312, 392, 440};
    const int top = row == 0 ? 11 : 136;
    QString s;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 || i == 4)
            s += u':';
        if (i == 6)
            s += u',';
        s += readDigit(panel, lefts[i], top, lit);
    }
    return s;
}
