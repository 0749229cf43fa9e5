#include "platform/Colors.h"

#include <QApplication>
#include <QPalette>

QColor toQColor(TColor c)
{
    if ((c & 0xFF000000u) == 0xFF000000u) {
        const QPalette pal = QApplication::palette();
        switch (c & 0xFF) {
        case 5: // window
            return pal.color(QPalette::Base);
        case 13: // highlight
            return pal.color(QPalette::Highlight);
        case 14: // highlight text
            return pal.color(QPalette::HighlightedText);
        case 16: // button shadow
            return pal.color(QPalette::Dark);
        case 20: // button highlight
            return pal.color(QPalette::Light);
        default: // 15 button face and the rest
            return pal.color(QPalette::Button);
        }
    }
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

TColor fromQColor(const QColor &c)
{
    return TColor(c.red()) | (TColor(c.green()) << 8) | (TColor(c.blue()) << 16);
}
