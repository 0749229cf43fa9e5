#include "formats/Cp1252.h"

#include <QStringDecoder>

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

QString Cp1252::decode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(b >= 0x80 && b < 0xA0 ? QChar(kHigh[b - 0x80]) : QChar(b));
    }
    return out;
}

QString Cp1252::decodeText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (!ascii) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString s = utf8(bytes);
        if (!utf8.hasError())
            return s;
    }
    return decode(bytes);
}
