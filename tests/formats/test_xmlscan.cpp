// The scanner of worksheet XML: the tokens a reader gets, whole or fed a few bytes at a
// time, and a clean stop on damaged input.
#include "formats/XmlScan.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

// Hands out its data at most `step` bytes per read, as a slow stream might.
class Trickle : public QIODevice
{
public:
    Trickle(QByteArray data, qint64 step) : m_data(std::move(data)), m_step(step)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = qMin(qMin(max, m_step), qint64(m_data.size()) - m_pos);
        memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_step;
    qint64 m_pos = 0;
};

// The tokens as text: <name a=v>, </name>, "text"; blank texts left out.
QStringList tokens(QIODevice *device, QString *error = nullptr)
{
    XmlScan xml(device);
    QStringList out;
    for (;;) {
        switch (xml.next()) {
        case XmlScan::StartElement: {
            QString t = "<" + QString::fromUtf8(xml.name());
            for (const char *a : {"r", "t", "c"})
                if (!xml.attribute(a).isEmpty())
                    t += QStringLiteral(" %1=%2").arg(a, QString::fromUtf8(xml.attribute(a)));
            out << t + ">";
            break;
        }
        case XmlScan::EndElement:
            out << "</" + QString::fromUtf8(xml.name()) + ">";
            break;
        case XmlScan::Text:
            if (!xml.text().trimmed().isEmpty())
                out << "\"" + xml.text() + "\"";
            break;
        case XmlScan::End:
            return out;
        case XmlScan::Error:
            if (error)
                *error = xml.errorString();
            out << "ERROR";
            return out;
        }
    }
}

TEST(XmlScan, TokensWholeAndInDrips)
{
    const QByteArray xml =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE x><!-- a <comment> -->"
        "<x:sheet xmlns:x=\"u\"><row r='1' t=\"a>b\"><c r=\"A1\"/><c r = \"B1\" t=\"s\">"
        "<v>M&#252;ller &amp; S&#xF6;hne &lt;3&gt; &quot;&apos; &bogus; &#0;</v></c>"
        "<t><![CDATA[<raw> & ]]></t></row></x:sheet>";
    const QStringList expected{"<sheet>",
                               "<row r=1 t=a>b>",
                               "<c r=A1>",
                               "</c>",
                               "<c r=B1 t=s>",
                               "<v>",
                               "\"Müller & Söhne <3> \"' &bogus; &#0;\"",
                               "</v>",
                               "</c>",
                               "<t>",
                               "\"<raw> & \"",
                               "</t>",
                               "</row>",
                               "</sheet>"};
    QByteArray copy = xml;
    QBuffer whole(&copy);
    whole.open(QIODevice::ReadOnly);
    EXPECT_EQ(tokens(&whole), expected);
    for (const qint64 step : {1, 2, 3, 7}) {
        SCOPED_TRACE(step);
        Trickle drips(xml, step);
        EXPECT_EQ(tokens(&drips), expected);
    }
}

TEST(XmlScan, DamagedInputStopsWithAReason)
{
    const char *cases[] = {
        "<a><b",          // ends inside a tag
        "<a t=\"x></a>",  // unclosed value
        "<a><!-- no end", // unclosed comment
        "<a><![CDATA[ x", // unclosed CDATA
        "<a b></a>",      // attribute without value
        "<a><b <c></a>",  // a tag inside a tag
        "<?xml",          // unclosed instruction
        "< >",            // no name
    };
    for (const char *c : cases) {
        SCOPED_TRACE(c);
        QByteArray bytes(c);
        QBuffer b(&bytes);
        b.open(QIODevice::ReadOnly);
        QString error;
        const QStringList t = tokens(&b, &error);
        ASSERT_FALSE(t.isEmpty());
        EXPECT_EQ(t.last(), "ERROR");
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(XmlScan, SkipsWholeElements)
{
    QByteArray bytes("<c><f>SUM(<x/>)</f><v>1</v></c><d/>");
    QBuffer b(&bytes);
    b.open(QIODevice::ReadOnly);
    XmlScan xml(&b);
    ASSERT_EQ(xml.next(), XmlScan::StartElement); // c
    ASSERT_EQ(xml.next(), XmlScan::StartElement); // f
    ASSERT_TRUE(xml.skipElement());
    ASSERT_EQ(xml.next(), XmlScan::StartElement);
    EXPECT_TRUE(xml.isStart("v"));
    ASSERT_EQ(xml.next(), XmlScan::Text);
    EXPECT_EQ(xml.text(), "1");
    xml.next();
    ASSERT_EQ(xml.next(), XmlScan::EndElement);
    EXPECT_TRUE(xml.isEnd("c"));
    ASSERT_EQ(xml.next(), XmlScan::StartElement);
    EXPECT_TRUE(xml.isStart("d"));
    EXPECT_TRUE(xml.isEnd("d") || xml.next() == XmlScan::EndElement);
    EXPECT_EQ(xml.next(), XmlScan::End);
    EXPECT_EQ(xml.next(), XmlScan::End);
}

} // namespace
