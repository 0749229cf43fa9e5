// The spreadsheet formats alone: the document handed to LibreOffice and the loading rules.
#include "formats/SheetFormat.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

std::vector<QStringList> rows(std::initializer_list<QStringList> l)
{
    return std::vector<QStringList>(l);
}

TEST(SheetLoad, RowCountColumnsAndTitles)
{
    const QStringList defaults{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"};
    const struct
    {
        const char *what;
        std::vector<QStringList> sheet;
        std::vector<QStringList> table;
    } cases[] = {
        {"titles and three cars", rows({{"Nr.", "Fahrer"}, {"1", "A"}, {"2", "B"}, {"3", "C"}}),
         rows({defaults, {"1", "A", "", ""}, {"2", "B", "", ""}, {"3", "C", "", ""}})},
        {"an empty first cell in row 3 ends the table",
         rows({{"Nr.", "Fahrer"}, {"1", "A"}, {"", "B"}, {"3", "C"}}),
         rows({defaults, {"1", "A", "", ""}})},
        {"a blank first cell does not", rows({{"Nr.", "Fahrer"}, {" ", "A"}}),
         rows({defaults, {" ", "A", "", ""}})},
        {"more columns are dropped",
         rows({{"Nr.", "Fahrer", "T1", "T2", "T3"}, {"1", "A", "x", "y", "z"}}),
         rows({{"Nr.", "Fahrer", "T1", "T2"}, {"1", "A", "x", "y"}})},
        {"column 1 keeps an empty title", rows({{"Nr."}, {"1"}}),
         rows({{"Nr.", "", "Zeit 1", "Zeit 2"}, {"1", "", "", ""}})},
        {"only a title row", rows({{"Start", "Name"}}),
         rows({{"Start", "Name", "Zeit 1", "Zeit 2"}, {"", "", "", ""}})},
        {"nothing at all", rows({}), rows({defaults, {"", "", "", ""}})},
        {"an empty first cell in row 1", rows({{"", "Fahrer"}, {"1", "A"}}),
         rows({defaults, {"", "", "", ""}})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const TableData t = SheetFormat::tableFromSheet(c.sheet, 4);
        EXPECT_EQ(t.colCount, 4);
        EXPECT_EQ(t.rows, c.table);
    }
}

TEST(SheetDocument, WellFormedWithEveryTextKept)
{
    TableData t;
    t.colCount = 3;
    t.rows = {{"Nr.", "Fahrer", "Zeit 1"},
              {"007", "<b>A & B</b>", "  two  blanks "},
              {"8", "ctl\x01x", ""}};
    const QByteArray doc = SheetFormat::flatOds(t, QStringLiteral("Zeit\"nahme"));
    QXmlStreamReader xml(doc);
    QStringList texts;
    QString sheet;
    bool inParagraph = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.name() == QLatin1String("p"))
            inParagraph = xml.isStartElement();
        if (xml.isStartElement() && xml.name() == QLatin1String("table"))
            sheet = xml.attributes().value(QStringLiteral("table:name")).toString();
        if (xml.isStartElement() && xml.name() == QLatin1String("table-cell"))
            texts << QString();
        if (xml.isCharacters() && inParagraph)
            texts.last() += xml.text();
        if (xml.isStartElement() && xml.name() == QLatin1String("s"))
            texts.last() += QString(xml.attributes().value(QStringLiteral("text:c")).toInt(), ' ');
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(sheet, "Zeit\"nahme");
    EXPECT_EQ(texts, (QStringList{"Nr.", "Fahrer", "Zeit 1", "007", "<b>A & B</b>",
                                  "  two  blanks ", "8", "ctl x", ""}));
}

TEST(SheetDocument, SpreadsheetsAreKnownByNameOrFirstBytes)
{
    const struct
    {
        const char *name;
        QByteArray bytes;
        bool sheet;
    } cases[] = {
        {"a.xls", "", true},
        {"a.XLSX", "", true},
        {"a.ods", "", true},
        {"a.txt", QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest", 12), true},
        {"a.txt", "PK\x03\x04zip", true},
        {"a.txt", "Nr.\tFahrer\r\n", false},
        {"a.csv", "PK", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SheetFormat::looksLikeSpreadsheet(c.name, c.bytes), c.sheet) << c.name;
}

} // namespace
