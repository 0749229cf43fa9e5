#include "formats/Cp1252.h"

#include <gtest/gtest.h>

namespace {

TEST(Windows1252, EveryByteSurvivesDecodeAndEncode)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString s = Cp1252::decode(all);
    ASSERT_EQ(s.size(), 256);
    EXPECT_TRUE(Cp1252::canEncode(s));
    EXPECT_EQ(Cp1252::encode(s), all);
}

struct ByteCase
{
    unsigned char byte;
    char16_t unicode;
};

class Windows1252Bytes : public ::testing::TestWithParam<ByteCase>
{
};

// The range where the code page differs from Latin-1, and its edges.
TEST_P(Windows1252Bytes, MapsToItsCharacter)
{
    const QString s = Cp1252::decode(QByteArray(1, char(GetParam().byte)));
    EXPECT_EQ(s, QString(QChar(GetParam().unicode)));
    EXPECT_EQ(Cp1252::encode(QString(QChar(GetParam().unicode))),
              QByteArray(1, char(GetParam().byte)));
}

INSTANTIATE_TEST_SUITE_P(Table, Windows1252Bytes,
                         ::testing::Values(ByteCase{0x80, u'€'}, ByteCase{0x8A, u'Š'},
                                           ByteCase{0x84, u'„'}, ByteCase{0x93, u'“'},
                                           ByteCase{0x96, u'–'}, ByteCase{0x9F, u'Ÿ'},
                                           ByteCase{0x81, 0x0081}, ByteCase{0x9D, 0x009D},
                                           ByteCase{0xA0, 0x00A0}, ByteCase{0xDF, u'ß'},
                                           ByteCase{0xFC, u'ü'}, ByteCase{0x7F, 0x007F}));

TEST(Windows1252, CharactersWithoutAByte)
{
    EXPECT_TRUE(Cp1252::canEncode(QStringLiteral("Müller € „Zitat“")));
    for (const QString &s : {QStringLiteral("Ł"), QStringLiteral("ő"), QStringLiteral("😀"),
                             QString(QChar(0x0080)), QString(QChar(0x0099))}) {
        EXPECT_FALSE(Cp1252::canEncode(s)) << s.toStdString();
        EXPECT_EQ(Cp1252::encode(s).count('?'), s.size());
    }
}

struct DecodeCase
{
    QByteArray bytes;
    QString text;
};

class TextDecoding : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(TextDecoding, Utf8OrWindows1252)
{
    EXPECT_EQ(Cp1252::decodeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Files, TextDecoding,
                         ::testing::Values(
                             // Valid UTF-8 with non-ASCII characters.
                             DecodeCase{QByteArray("J\xC3\xBCrgen"), QStringLiteral("Jürgen")},
                             // A byte-order mark, even before plain ASCII.
                             DecodeCase{QByteArray("\xEF\xBB\xBFNr."), QStringLiteral("Nr.")},
                             // Single bytes that are not UTF-8.
                             DecodeCase{QByteArray("J\xFCrgen \x80"), QStringLiteral("Jürgen €")},
                             // UTF-8 look-alike cut short is Windows-1252.
                             DecodeCase{QByteArray("ab\xC3"), QStringLiteral("abÃ")},
                             DecodeCase{QByteArray("plain"), QStringLiteral("plain")},
                             // Four bytes for a character beyond the first plane.
                             DecodeCase{QByteArray("\xF0\x9F\x98\x80"), QStringLiteral("😀")},
                             // Not UTF-8: overlong, a surrogate, beyond U+10FFFF.
                             DecodeCase{QByteArray("\xC0\xAF"), QStringLiteral("À¯")},
                             DecodeCase{QByteArray("\xED\xA0\x80"), QStringLiteral("í\u00A0€")},
                             DecodeCase{QByteArray("\xF4\x90\x80\x80"),
                                        QStringLiteral("ô\u0090€€")},
                             DecodeCase{QByteArray(), QString()}));

} // namespace
