#include "formats/TextFormat.h"
#include "tests/formats/ResultsTable.h"
#include "tests/support/core/FailingDevice.h"
#include "tests/support/core/Files.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

const QString kT = QStringLiteral("10:15:22,31");

TEST(TextWrite, GoldenCarTwelveWithOneTime)
{
    const TableData t = resultsTable(4, {{"12", "Meier", kT}});
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(TextFormat::write(t, buf));
    EXPECT_EQ(buf.data(), fileBytes(goldenFile("protocol_n4.txt")));
}

TEST(TextWrite, RowsWithoutStartNumberAreLeftOutButBlankNumbersStay)
{
    const TableData t =
        resultsTable(1, {{"1", "A", "x"}, {"", "ohne Nummer", "y"}, {"  ", "B"}, {"3"}});
    EXPECT_EQ(TextFormat::protocolText(t), QStringLiteral("Nr.\tFahrer\tZeit 1\t\r\n"
                                                          "1\tA\tx\t\r\n"
                                                          "  \tB\t \t\r\n"
                                                          "3\t \t \t\r\n"));
    // Without a start number in the first row the file stays empty.
    EXPECT_EQ(TextFormat::protocolText(resultsTable(1, {{"", "A"}, {"2", "B"}})), QString());
}

TEST(TextWrite, Windows1252WhileEverythingFitsElseUtf8WithMark)
{
    TableData t = resultsTable(1, {{"1", QStringLiteral("Müller €")}});
    const QByteArray cp = TextFormat::encode(TextFormat::protocolText(t));
    EXPECT_TRUE(cp.contains("M\xFCller \x80"));
    EXPECT_FALSE(cp.startsWith("\xEF\xBB\xBF"));

    t.rows[1][1] = QStringLiteral("Łukasz Müller");
    const QByteArray u = TextFormat::encode(TextFormat::protocolText(t));
    EXPECT_TRUE(u.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(u.contains(QStringLiteral("Łukasz Müller").toUtf8()));
}

TEST(TextWrite, DeviceThatFailsHalfwayIsReported)
{
    const TableData t = resultsTable(4, {{"12", "Meier", kT}});
    FailingDevice dev(20);
    dev.open(QIODevice::WriteOnly);
    EXPECT_FALSE(TextFormat::write(t, dev));
    FailingDevice big(4096);
    big.open(QIODevice::WriteOnly);
    EXPECT_TRUE(TextFormat::write(t, big));
    EXPECT_EQ(big.written, fileBytes(goldenFile("protocol_n4.txt")));
}

TEST(TextRead, DeviceThatFailsHalfwayGivesNothing)
{
    FailingDevice dev(10, QByteArray(100, 'a'));
    dev.open(QIODevice::ReadOnly);
    EXPECT_FALSE(TextFormat::readAll(dev).has_value());
    QBuffer buf;
    buf.setData(QByteArray(70000, 'b'));
    buf.open(QIODevice::ReadOnly);
    auto all = TextFormat::readAll(buf);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->size(), 70000);
    // More than the limit gives nothing.
    buf.seek(0);
    EXPECT_FALSE(TextFormat::readAll(buf, 69999).has_value());
    buf.seek(0);
    EXPECT_TRUE(TextFormat::readAll(buf, 70000).has_value());
}

TEST(TextRead, LineEnds)
{
    using L = QStringList;
    EXPECT_EQ(TextFormat::splitLines("a\r\nb\r\n"), (L{"a", "b"}));
    EXPECT_EQ(TextFormat::splitLines("a\nb"), (L{"a", "b"}));
    EXPECT_EQ(TextFormat::splitLines("a\rb\r\n\r\nc"), (L{"a", "b", "", "c"}));
    EXPECT_EQ(TextFormat::splitLines("\r\nx"), (L{"", "x"}));
    EXPECT_EQ(TextFormat::splitLines(""), L{});
}

struct FieldCase
{
    const char *line;
    QStringList fields;
};

class TextFields : public ::testing::TestWithParam<FieldCase>
{
};

TEST_P(TextFields, SplitAsTheTableReceivesThem)
{
    EXPECT_EQ(TextFormat::splitFields(QString::fromUtf8(GetParam().line), 4), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TextFields,
    ::testing::Values(FieldCase{"12\tMeier\t10:15:22,31\t \t", {"12", "Meier", "10:15:22,31", " "}},
                      FieldCase{"12\t\tMeier", {"12", "Meier"}},
                      FieldCase{"12\t\t\t\tMeier\t\t", {"12", "Meier"}},
                      FieldCase{"12;;Meier", {"12", " ", "Meier"}},
                      FieldCase{"Nr.;Fahrer", {"Nr.", "Fahrer"}},
                      FieldCase{"12;Meier;", {"12", "Meier"}},
                      // A TAB makes TAB the separator; semicolons are then text.
                      FieldCase{"1;2\t3", {"1;2", "3"}},
                      // No trimming.
                      FieldCase{" 7 ; Meier ", {" 7 ", " Meier "}},
                      FieldCase{"\tMeier", {" ", "Meier"}},
                      FieldCase{"a;b;c;d;e;f", {"a", "b", "c", "d"}}, FieldCase{"", {}},
                      FieldCase{"solo", {"solo"}}));

// The table that lines give for N = 2, whose title row was Nr., Fahrer, Zeit 1, Zeit 2.
TEST(TextRead, LinesToTable)
{
    using L = QStringList;
    const L titles{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"};
    const L blank{"", "", "", ""};
    const struct
    {
        const char *what;
        L lines;
        std::vector<L> rows;
        int used;
    } cases[] = {
        {"semicolons, time titles empty",
         {"Nr.;Fahrer", "12;Meier"},
         {{"Nr.", "Fahrer", "", ""}, {"12", "Meier", "", ""}},
         2},
        {"an empty first line: default titles for columns 0 and 1",
         {"", "5\tX"},
         {{"Nr.", "Fahrer", "", ""}, {"5", "X", "", ""}},
         2},
        {"more fields than columns: dropped, but counted",
         {"A\tB\tC\tD\tE\tF", "1\t2\t3\t4\t5\t6"},
         {{"A", "B", "C", "D"}, {"1", "2", "3", "4"}},
         6},
        {"blank fields at the end need no column",
         {"Nr.\tFahrer", "1\tA\tx\t \t \t"},
         {{"Nr.", "Fahrer", "", ""}, {"1", "A", "x", " "}},
         3},
        {"a title line alone leaves one empty data row",
         {"Nr.\tFahrer\tZeit 1\tZeit 2\t"},
         {titles, blank},
         4},
        {"an empty file keeps the titles", {}, {titles, blank}, 0},
        {"a title of blanks counts as blank",
         {"  ;\x01;Z1"},
         {{"Nr.", "Fahrer", "Z1", ""}, blank},
         3},
        {"empty and blank lines after the titles are skipped",
         {"Nr.;Fahrer", "", "12;Meier", ";;", " \t ", "13;Kunz"},
         {{"Nr.", "Fahrer", "", ""}, {"12", "Meier", "", ""}, {"13", "Kunz", "", ""}},
         2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<QStringList> rows = TextFormat::fieldRows(c.lines);
        EXPECT_EQ(TextFormat::columnsUsed(rows), c.used);
        const TableData t = TextFormat::table(rows, 4, titles);
        EXPECT_EQ(t.colCount, 4);
        EXPECT_EQ(t.rows, c.rows);
    }
}

} // namespace
