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

// The rows a text file's bytes give.
std::vector<QStringList> rowsOf(const QByteArray &bytes)
{
    return TextFormat::readRows(bytes).rows;
}

QByteArray utf16(const QString &s, bool bigEndian)
{
    QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE");
    for (QChar ch : s) {
        const char hi = char(ch.unicode() >> 8), lo = char(ch.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
    }
    return out;
}

using Rows = std::vector<QStringList>;

TEST(TextRead, LineEnds)
{
    EXPECT_EQ(rowsOf("a\r\nb\r\n"), (Rows{{"a"}, {"b"}}));
    EXPECT_EQ(rowsOf("a\nb"), (Rows{{"a"}, {"b"}}));
    EXPECT_EQ(rowsOf("a\rb\r\n\r\nc"), (Rows{{"a"}, {"b"}, {"c"}}));
    EXPECT_EQ(rowsOf("a\n\rb"), (Rows{{"a"}, {"b"}})); // LF CR is two line ends
    EXPECT_EQ(rowsOf("\r\nx"), (Rows{{}, {"x"}}));
    EXPECT_EQ(rowsOf(""), Rows{});
}

struct FieldCase
{
    const char *line;
    QStringList fields;
};

class TextFields : public ::testing::TestWithParam<FieldCase>
{
};

// The first line is the title row whatever it holds: its fields as the table receives
// them.
TEST_P(TextFields, SplitAsTheTableReceivesThem)
{
    const Rows rows = rowsOf(QByteArray(GetParam().line) + "\r\n");
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TextFields,
    ::testing::Values(
        FieldCase{"12\tMeier\t10:15:22,31\t \t", {"12", "Meier", "10:15:22,31", " "}},
        FieldCase{"12\t\tMeier", {"12", "Meier"}},
        FieldCase{"12\t\t\t\tMeier\t\t", {"12", "Meier"}},
        FieldCase{"12;;Meier", {"12", " ", "Meier"}}, FieldCase{"Nr.;Fahrer", {"Nr.", "Fahrer"}},
        FieldCase{"12;Meier;", {"12", "Meier"}}, FieldCase{";", {" "}}, FieldCase{"\t", {" "}},
        // A TAB makes TAB the separator; semicolons and quotes are then text.
        FieldCase{"1;2\t3", {"1;2", "3"}},
        FieldCase{"12\t\"Meier; Sohn\"\t", {"12", "\"Meier; Sohn\""}},
        // No trimming.
        FieldCase{" 7 ; Meier ", {" 7 ", " Meier "}}, FieldCase{"\tMeier", {" ", "Meier"}},
        FieldCase{"a;b;c;d;e;f", {"a", "b", "c", "d", "e", "f"}}, FieldCase{"", {}},
        FieldCase{"solo", {"solo"}},
        // Quotes inside a field are text.
        FieldCase{"12;Meier \"Bubi\";x", {"12", "Meier \"Bubi\"", "x"}},
        FieldCase{"12;Meier\";x", {"12", "Meier\"", "x"}}));

// Semicolon lines as spreadsheet programs export them.
TEST(TextRead, QuotedFields)
{
    const struct
    {
        const char *what;
        QByteArray bytes;
        Rows rows;
    } cases[] = {
        {"a semicolon inside quotes",
         "Nr.;Fahrer;Verein\r\n12;\"Meier; Sohn\";MSC\r\n",
         {{"Nr.", "Fahrer", "Verein"}, {"12", "Meier; Sohn", "MSC"}}},
        {"doubled quotes",
         "Nr.;Fahrer\r\n12;\"Karl \"\"Bubi\"\" Meier\";x\r\n",
         {{"Nr.", "Fahrer"}, {"12", "Karl \"Bubi\" Meier", "x"}}},
        {"a line break inside quotes is one blank, and the row goes on",
         "\"Nr.\";\"Fahrer\"\r\n12;\"Meier\r\nSohn\";x\r\n13;\"A\nB\rC\";y\n",
         {{"Nr.", "Fahrer"}, {"12", "Meier Sohn", "x"}, {"13", "A B C", "y"}}},
        {"a TAB inside quotes on a later line is a blank too",
         "Nr.;Fahrer\r\n12;\"Meier\r\nund\tSohn\";x\r\n",
         {{"Nr.", "Fahrer"}, {"12", "Meier und Sohn", "x"}}},
        {"empty quotes keep their column",
         "Nr.;Fahrer\r\n12;\"\";x\r\n",
         {{"Nr.", "Fahrer"}, {"12", " ", "x"}}},
        {"text after the closing quote belongs to the field",
         "Nr.;Fahrer\r\n12;\"Meier\" jun.;x\r\n",
         {{"Nr.", "Fahrer"}, {"12", "Meier jun.", "x"}}},
        {"a quote never closed is text and ends at the line end",
         "Nr.;Fahrer\r\n12;\"Meier;x\r\n13;Kunz\r\n",
         {{"Nr.", "Fahrer"}, {"12", "\"Meier", "x"}, {"13", "Kunz"}}},
        {"a quoted field at the end of the file",
         "Nr.;Fahrer\r\n12;\"Meier\"",
         {{"Nr.", "Fahrer"}, {"12", "Meier"}}},
        {"quotes alone in a field",
         "Nr.;Fahrer\r\n12;\"\"\"\"\r\n",
         {{"Nr.", "Fahrer"}, {"12", "\""}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rowsOf(c.bytes), c.rows);
    }
}

// Starter lists as spreadsheet programs and editors save them.
TEST(TextRead, Encodings)
{
    using E = TextFormat::Encoding;
    const QString list = QStringLiteral("Nr.\tFahrer\r\n12\tJürgen Weiß €\r\n13\tŁoś\r\n");
    const Rows rows{
        {"Nr.", "Fahrer"}, {"12", QStringLiteral("Jürgen Weiß €")}, {"13", QStringLiteral("Łoś")}};
    const Rows latin{{"Nr.", "Fahrer"}, {"12", QStringLiteral("Jürgen Weiß €")}};
    const struct
    {
        const char *what;
        QByteArray bytes;
        E encoding;
        qsizetype mark;
        Rows rows;
    } cases[] = {
        {"UTF-16 LE with mark", utf16(list, false), E::Utf16LE, 2, rows},
        {"UTF-16 BE with mark", utf16(list, true), E::Utf16BE, 2, rows},
        {"UTF-16 LE, semicolons and quotes",
         utf16(QStringLiteral("Nr.;Fahrer\r\n12;\"Łoś; Söhne\"\r\n"), false),
         E::Utf16LE,
         2,
         {{"Nr.", "Fahrer"}, {"12", QStringLiteral("Łoś; Söhne")}}},
        {"UTF-16 with a character beyond the first plane",
         utf16(QStringLiteral("Nr.;Fahrer\r\n1;Ada 😀\r\n"), false),
         E::Utf16LE,
         2,
         {{"Nr.", "Fahrer"}, {"1", QStringLiteral("Ada 😀")}}},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + list.toUtf8(), E::Utf8, 3, rows},
        {"UTF-8 without mark", list.toUtf8(), E::Utf8, 0, rows},
        {"Windows-1252", "Nr.\tFahrer\r\n12\tJ\xFCrgen Wei\xDF \x80\r\n", E::Windows1252, 0, latin},
        {"UTF-8 look-alike cut short is Windows-1252",
         "Nr.\tFahrer\r\n12\tJ\xC3",
         E::Windows1252,
         0,
         {{"Nr.", "Fahrer"}, {"12", QStringLiteral("JÃ")}}},
        {"plain ASCII", "Nr.;Fahrer\n1;A\n", E::Utf8, 0, {{"Nr.", "Fahrer"}, {"1", "A"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const TextFormat::Detected d = TextFormat::detect(c.bytes);
        EXPECT_EQ(d.encoding, c.encoding);
        EXPECT_EQ(d.markSize, c.mark);
        EXPECT_TRUE(TextFormat::isText(c.bytes, d));
        EXPECT_EQ(rowsOf(c.bytes), c.rows);
    }
}

TEST(TextRead, WhatIsNoText)
{
    const QByteArray fewControls = QByteArray(90, 'a') + QByteArray(10, '\x1B');
    const QByteArray manyControls = QByteArray(89, 'a') + QByteArray(11, '\x1B');
    const struct
    {
        const char *what;
        QByteArray bytes;
        bool text;
    } cases[] = {
        {"empty", "", true},
        {"a NUL", QByteArray("Nr.\0;Fahrer", 11), false},
        {"one control character in ten", fewControls, true},
        {"more", manyControls, false},
        {"TAB, CR, LF and form feed are text", "a\tb\r\n\f\r\n\t\t\t\t", true},
        {"ASCII as UTF-16 holds zero bytes", utf16("Nr.;Fahrer\r\n", false), true},
        {"but no zero character", utf16(QString("Nr.") + QChar(0) + "x", true), false},
        // Only the beginning is looked at.
        {"a NUL far behind", QByteArray(TextFormat::SniffBytes, 'a') + QByteArray(1, '\0'), true},
        {"a NUL just within", QByteArray(TextFormat::SniffBytes - 1, 'a') + QByteArray(1, '\0'),
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TextFormat::isText(c.bytes, TextFormat::detect(c.bytes)), c.text);
    }
}

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
        TextFormat::Rows rows = TextFormat::readRows(c.lines.join("\r\n").toUtf8());
        EXPECT_EQ(rows.used, c.used);
        const TableData t = TextFormat::table(std::move(rows.rows), 4, titles);
        EXPECT_EQ(t.colCount, 4);
        EXPECT_EQ(t.rows, c.rows);
    }
}

// A line of more fields than any table takes keeps MaxFields of them, and says how many
// columns it would need.
TEST(TextRead, FieldsBeyondEveryTable)
{
    QByteArray line = "12";
    for (int k = 1; k <= 150; ++k)
        line += "\tx" + QByteArray::number(k);
    const TextFormat::Rows rows = TextFormat::readRows("Nr.\r\n" + line);
    ASSERT_EQ(rows.rows.size(), 2u);
    EXPECT_EQ(rows.rows[1].size(), TextFormat::MaxFields);
    EXPECT_EQ(rows.rows[1].last(), "x" + QString::number(TextFormat::MaxFields - 1));
    EXPECT_EQ(rows.used, 151);
}

// Read and written again, the golden file is the same byte for byte.
TEST(TextRead, GoldenFileComesBackAsItWas)
{
    const QByteArray golden = fileBytes(goldenFile("protocol_n4.txt"));
    ASSERT_FALSE(golden.isEmpty());
    const TableData t = TextFormat::table(TextFormat::readRows(golden).rows, 6);
    EXPECT_EQ(t.rows[1], (QStringList{"12", "Meier", kT, " ", " ", " "}));
    EXPECT_EQ(TextFormat::encode(TextFormat::protocolText(t)), golden);
}

// Today's reading of lines whose fields do not begin with a quote: the lines of the
// decoded text, runs of TABs shrunk, split at TAB or semicolon, a separator at the end
// dropped, empty fields one blank, blank lines after the first skipped.
Rows plainReading(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines << text.mid(start, i - start);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    Rows rows;
    for (QString line : lines) {
        while (line.contains("\t\t"))
            line.replace("\t\t", "\t");
        QStringList fields = line.split(line.contains('\t') ? '\t' : ';');
        if (fields.last().isEmpty())
            fields.removeLast();
        bool blank = true;
        for (QString &f : fields) {
            if (f.isEmpty())
                f = " ";
            blank = blank && TableData::isBlank(f);
        }
        if (rows.empty() || !blank)
            rows.push_back(fields);
    }
    return rows;
}

// Random lists of plain fields, in UTF-8 and in Windows-1252, read as they always were.
TEST(TextRead, PlainFieldsAsTheyAlwaysWere)
{
    const QString alphabet = QStringLiteral("ab \t;\r\n\"ü€.1");
    quint32 x = 20240601;
    auto next = [&x](quint32 n) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % n;
    };
    for (int sample = 0; sample < 2000; ++sample) {
        QString text;
        const int n = int(next(60));
        for (int i = 0; i < n; ++i)
            text += alphabet[int(next(quint32(alphabet.size())))];
        // A quote that begins a field of a semicolon line starts a quoted field now.
        qsizetype lineStart = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\r' && text[i] != '\n')
                continue;
            const qsizetype end = i;
            if (!text.mid(lineStart, end - lineStart).contains('\t'))
                for (qsizetype k = lineStart; k < end; ++k)
                    if (text[k] == '"' && (k == lineStart || text[k - 1] == ';'))
                        text[k] = 'q';
            lineStart = i + 1;
        }
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(rowsOf(text.toUtf8()), plainReading(text));
        QString latin = text;
        latin.replace(QStringLiteral("€"), QStringLiteral("ü"));
        QByteArray cp;
        for (QChar ch : latin)
            cp.append(char(ch.unicode()));
        EXPECT_EQ(rowsOf(cp), plainReading(latin));
    }
}

} // namespace
