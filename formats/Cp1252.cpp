#include "formats/Cp1252.h"

#include <cstring>

namespace {
// Bytes 0x80 to 0x9F. The five bytes the code page leaves unassigned map to the C1
// control of the same number, as Windows does, so that every byte survives a round trip.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int byteFor(char16_t u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == u)
            return 0x80 + i;
    return -1;
}
} // namespace

bool Cp1252::canEncode(QChar ch)
{
    return byteFor(ch.unicode()) >= 0;
}

bool Cp1252::canEncode(const QString &text)
{
    for (QChar ch : text)
        if (!canEncode(ch))
            return false;
    return true;
}

QByteArray Cp1252::encode(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const int b = byteFor(ch.unicode());
        out.append(b < 0 ? '?' : char(b));
    }
    return out;
}

QString Cp1252::decode(QByteArrayView bytes)
{
    // Latin-1 agrees with the code page everywhere but 0x80..0x9F, and is decoded fast.
    bool high = false;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b < 0xA0) {
            high = true;
            break;
        }
    }
    QString out = QString::fromLatin1(bytes);
    if (!high)
        return out;
    for (QChar &ch : out)
        if (ch.unicode() >= 0x80 && ch.unicode() < 0xA0)
            ch = QChar(kHigh[ch.unicode() - 0x80]);
    return out;
}

bool Cp1252::validUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = p + bytes.size();
    while (p < end) {
        // Eight ASCII bytes at a time: most of a starter list.
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more;
        char32_t cp;
        char32_t least;
        if ((c & 0xE0) == 0xC0) {
            more = 1, cp = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, cp = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, cp = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (end - p <= more)
            return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += more + 1;
    }
    return true;
}

QString Cp1252::decodeText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    return validUtf8(bytes) ? QString::fromUtf8(bytes) : decode(bytes);
}
