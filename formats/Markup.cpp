#include "formats/Markup.h"

QString Markup::escape(const QString &text, EscapeOptions options)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        const char16_t u = ch.unicode();
        switch (u) {
        case '&':
            out += QStringLiteral("&amp;");
            continue;
        case '<':
            out += QStringLiteral("&lt;");
            continue;
        case '>':
            out += QStringLiteral("&gt;");
            continue;
        case '"':
            out += QStringLiteral("&quot;");
            continue;
        case '\'':
            if (options & Apostrophe) {
                out += QStringLiteral("&#39;");
                continue;
            }
            break;
        default:
            break;
        }
        if ((options & NoControls) && u < 0x20 && u != '\t' && u != '\n') {
            out += QLatin1Char(' ');
        } else if ((options & Latin1Only) && !(u < 0x80 || (u >= 0xA0 && u <= 0xFF))) {
            char32_t code = u;
            if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                code = QChar::surrogateToUcs4(ch, text.at(++i));
            out += QStringLiteral("&#") + QString::number(quint32(code)) + QLatin1Char(';');
        } else {
            out += ch;
        }
    }
    return out;
}
