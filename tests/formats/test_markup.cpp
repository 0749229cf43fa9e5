// The one escaper of every page and document: what each option adds to the markup
// characters that are always escaped.
#include "formats/Markup.h"

#include <gtest/gtest.h>

namespace {

TEST(Markup, EachOptionAddsItsOwnAndNothingElse)
{
    using M = Markup::EscapeOption;
    const QString text = QStringLiteral("<a href=\"x\">Tom's & Łoś</a>\t\r\n\x01\u0085") +
                         QString::fromUcs4(U"\U0001F600");
    const struct
    {
        Markup::EscapeOptions options;
        QString out;
    } cases[] = {
        {{},
         QStringLiteral("&lt;a href=&quot;x&quot;&gt;Tom's &amp; Łoś&lt;/a&gt;\t\r\n\x01\u0085") +
             QString::fromUcs4(U"\U0001F600")},
        {M::Apostrophe,
         QStringLiteral(
             "&lt;a href=&quot;x&quot;&gt;Tom&#39;s &amp; Łoś&lt;/a&gt;\t\r\n\x01\u0085") +
             QString::fromUcs4(U"\U0001F600")},
        {M::Latin1Only,
         QStringLiteral("&lt;a href=&quot;x&quot;&gt;Tom's &amp; &#321;o&#347;&lt;/a&gt;\t\r\n"
                        "\x01&#133;&#128512;")},
        {M::NoControls,
         QStringLiteral("&lt;a href=&quot;x&quot;&gt;Tom's &amp; Łoś&lt;/a&gt;\t \n \u0085") +
             QString::fromUcs4(U"\U0001F600")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Markup::escape(text, c.options), c.out) << int(c.options);
    // Latin-1 letters stay letters on a Latin-1 page; a lone surrogate is a reference.
    EXPECT_EQ(Markup::escape(QStringLiteral("Müller ß é"), M::Latin1Only),
              QStringLiteral("Müller ß é"));
    EXPECT_EQ(Markup::escape(QString(QChar(0xD800)), M::Latin1Only), "&#55296;");
}

} // namespace
