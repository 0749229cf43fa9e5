#include "formats/HtmlReport.h"
#include "tests/formats/ResultsTable.h"
#include "tests/support/core/FailingDevice.h"
#include "tests/support/core/Files.h"

#include <QBuffer>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QStringList pageLines(const TableData &t, const QString &title = QStringLiteral("tornelo"))
{
    QString page = HtmlReport::pageText(t, title);
    EXPECT_TRUE(page.endsWith(QStringLiteral("</html>\r\n")));
    page.chop(2);
    return page.split(QStringLiteral("\r\n"));
}

TEST(HtmlPage, GoldenTwoCarsSecondWithoutTimes)
{
    const TableData t =
        resultsTable(2, {{"12", "Meier", "10:15:22,31", "10:17:01,05"}, {"7", "Schulz"}});
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(HtmlReport::write(t, QStringLiteral("Zeitnahme"), buf));
    EXPECT_EQ(buf.data(), fileBytes(goldenFile("report_n2.html")));

    const QStringList l = pageLines(t);
    EXPECT_EQ(l.filter(QRegularExpression("^<th>")).size(), 4);
    EXPECT_EQ(l.filter(QRegularExpression("^<tr><td>")).size(), 2);
}

TEST(HtmlPage, EveryDataRowBlankOrNotAndOneHeaderCellPerColumn)
{
    const QStringList l = pageLines(resultsTable(4, {{"1", "A", "x"}, {}, {"3", "C"}}));
    EXPECT_EQ(l.filter(QRegularExpression("^<th>")),
              (QStringList{"<th>Nr.", "<th>Fahrer", "<th>Zeit 1", "<th>Zeit 2", "<th>Zeit 3",
                           "<th>Zeit 4"}));
    EXPECT_EQ(
        l.filter(QRegularExpression("^<tr><td>")),
        (QStringList{"<tr><td>1<td>A<td>x<td><td><td></tr>", "<tr><td><td><td><td><td><td></tr>",
                     "<tr><td>3<td>C<td><td><td><td></tr>"}));
}

TEST(HtmlPage, CellTextsAreEscapedAndKeepEveryCharacter)
{
    const TableData t = resultsTable(
        1, {{"1", "A & B", "<script>alert(1)</script>"}, {"2", QStringLiteral("Łoś Müller € 😀")}});
    const QString title = QStringLiteral("Zeit\"nahme<");
    const QStringList l = pageLines(t, title);
    EXPECT_TRUE(l.contains("<tr><td>1<td>A &amp; B<td>&lt;script&gt;alert(1)&lt;/script&gt;</tr>"));
    EXPECT_TRUE(l.contains(QStringLiteral("<tr><td>2<td>&#321;o&#347; Müller &#8364; "
                                          "&#128512;<td></tr>")));
    EXPECT_TRUE(l.contains("<TITLE>Quendra Zeitenprotokoll Zeit&quot;nahme&lt;</TITLE>"));
    EXPECT_TRUE(l.last().contains("title=\"Zeit&quot;nahme&lt;\""));

    // Single bytes as declared: Latin-1 stays one byte, nothing is lost.
    const QByteArray bytes = HtmlReport::pageBytes(t, title);
    EXPECT_TRUE(bytes.contains("M\xFCller"));
    EXPECT_FALSE(bytes.contains('?'));
}

TEST(HtmlPage, ApplicationTitleInTitleAndLink)
{
    const QStringList l = pageLines(resultsTable(1, {{"1"}}), QStringLiteral("Zeitnahme"));
    EXPECT_EQ(l[3], "<TITLE>Quendra Zeitenprotokoll Zeitnahme</TITLE>");
    EXPECT_EQ(l[l.size() - 2], "</table>");
    EXPECT_TRUE(l.last().startsWith("</table><P align=right><A href="));
    EXPECT_TRUE(l.last().contains(" title=\"Zeitnahme\">"));
    EXPECT_TRUE(l.last().endsWith("</A></P></body></html>"));
}

TEST(HtmlPage, DeviceThatFailsIsReported)
{
    FailingDevice dev(100);
    dev.open(QIODevice::WriteOnly);
    EXPECT_FALSE(HtmlReport::write(resultsTable(1, {{"1"}}), "t", dev));
}

} // namespace
