// Workbooks written and read without LibreOffice: .xlsx and .ods both ways, .xls read.
#include "formats/SheetFormat.h"
#include "formats/SheetReader.h"
#include "formats/SheetValues.h"
#include "formats/SheetWriter.h"
#include "formats/Zip.h"
#include "tests/support/core/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <random>

namespace {

QString fixture(const char *name)
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + QStringLiteral("/sheets/") +
           QString::fromUtf8(name);
}

TableData table(int colCount, std::vector<QStringList> rows)
{
    TableData t;
    t.colCount = colCount;
    t.rows = std::move(rows);
    return t;
}

// What the program saves: leading zeros, times in the time columns and elsewhere, a time
// not in the program's form, texts that XML and Excel would change.
TableData protocol()
{
    return table(
        6, {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"},
            {"007", "Müller", "10:15:22,31", "", "23:59:59,99", "00:00:00,00"},
            {"12", "10:15:22,31", "9:00:00", "10:16:01,02", "0,5", "1e5"},
            {"13", "Łoś & <Söhne> \"x\"", "  zwei  Blanks ", "zwei\nZeilen", "_x0041_", "TRUE"},
            {"", "ohne Nummer", "24:00:00,00", "10:15:22,3", " ", "=1+1"}});
}

class SheetFiles : public ::testing::Test
{
protected:
    // The parts of a package, each checked to carry no ZIP64 fields, which some spreadsheet
    // programs take for damage: its local header asks for version 2.0 at most and has no extra
    // field.
    int plainZipParts(const QString &package)
    {
        const QByteArray bytes = fileBytes(package);
        int headers = 0;
        for (qsizetype at = bytes.indexOf("PK\x03\x04"); at >= 0 && at + 30 <= bytes.size();
             at = bytes.indexOf("PK\x03\x04", at + 4), ++headers) {
            EXPECT_LE(quint8(bytes[at + 4]), 20) << "version needed, part " << headers;
            EXPECT_EQ(quint8(bytes[at + 28]) | quint8(bytes[at + 29]) << 8, 0) << "extra field";
        }
        return headers;
    }
    QString write(const TableData &t, const char *suffix, const QString &title = "tornelo")
    {
        const QString path = dir.filePath(QStringLiteral("protokoll.") + QLatin1String(suffix));
        const QString error = SheetWriter::write(t, title, QLatin1String(suffix), path);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        return path;
    }
    QByteArray part(const QString &package, const char *name)
    {
        const Zip::Archive zip(package);
        return zip.read(QLatin1String(name), 64 << 20).value_or(QByteArray());
    }
    QTemporaryDir dir;
};

TEST_F(SheetFiles, XlsxAndOdsGiveTheTableBack)
{
    const TableData t = protocol();
    for (const char *suffix : {"xlsx", "ods"}) {
        SCOPED_TRACE(suffix);
        const SheetReader::Result back = SheetReader::read(write(t, suffix), t.colCount);
        ASSERT_EQ(back.status, SheetReader::Result::Ok) << back.message.toStdString();
        EXPECT_FALSE(back.approximate);
        // The fifth row has no start number: it ends what is read, as in every format.
        EXPECT_EQ(back.rows, std::vector<QStringList>(t.rows.begin(), t.rows.begin() + 4));
    }
}

TEST_F(SheetFiles, TimesInTimeColumnsAreTimeValues)
{
    const TableData t = protocol();
    // .xlsx: a number (the fraction of a day) with the format hh:mm:ss.00; texts stay texts.
    const QString xlsx = write(t, "xlsx");
    const QByteArray sheet = part(xlsx, "xl/worksheets/sheet1.xml");
    const QRegularExpression number(
        QStringLiteral("<c r=\"C2\" s=\"(\\d+)\"(?: t=\"n\")?><v>([0-9.E-]+)</v></c>"));
    const auto m = number.match(QString::fromUtf8(sheet));
    ASSERT_TRUE(m.hasMatch()) << sheet.left(2000).toStdString();
    EXPECT_NEAR(m.captured(2).toDouble(), (10 * 3600 + 15 * 60 + 22.31) / 86400, 1e-12);
    const QByteArray styles = part(xlsx, "xl/styles.xml");
    EXPECT_TRUE(styles.contains("formatCode=\"[$-407]hh:mm:ss.00\"")) << styles.toStdString();
    for (const char *text : {"A2", "B3", "C3", "E3", "F4"}) {
        const QRegularExpression cell(
            QStringLiteral("<c r=\"%1\"[^>]*t=\"(inlineStr|s)\"").arg(QLatin1String(text)));
        EXPECT_TRUE(cell.match(QString::fromUtf8(sheet)).hasMatch()) << text;
    }
    // A time in the name column and the titles are texts; so is 24:00:00,00, no time of day.
    EXPECT_TRUE(sheet.contains(">10:15:22,31<"));  // B3
    EXPECT_FALSE(sheet.contains(">10:16:01,02<")); // D3 is a number

    // .ods: office:value-type="time" to the hundredth, shown as HH:MM:SS,00.
    const QByteArray content = part(write(t, "ods"), "content.xml");
    EXPECT_TRUE(content.contains("office:value-type=\"time\" office:time-value=\"PT10H15M22.31S\""
                                 "><text:p>10:15:22,31</text:p>"));
    EXPECT_TRUE(content.contains("office:time-value=\"PT23H59M59.99S\""));
    EXPECT_TRUE(content.contains("office:time-value=\"PT00H00M00.00S\""));
    EXPECT_TRUE(content.contains("<number:seconds number:style=\"long\" "
                                 "number:decimal-places=\"2\"/>"));
    EXPECT_EQ(content.count("office:value-type=\"time\""), 4);
    EXPECT_TRUE(content.contains(
        "office:value-type=\"string\"><text:p>10:15:22,31</text:p>")); // the name column
}

TEST_F(SheetFiles, WorkbooksKeepTheLayout)
{
    const TableData t = protocol();
    const QString xlsx = write(t, "xlsx", "Zeit[nahme]");
    const QByteArray core = part(xlsx, "docProps/core.xml");
    EXPECT_TRUE(core.contains("<dc:creator>Quendra Software</dc:creator>"));
    EXPECT_TRUE(core.contains("<dc:subject>Zeit[nahme]</dc:subject>"));
    EXPECT_TRUE(part(xlsx, "xl/workbook.xml").contains("<sheet name=\"Zeit_nahme_\""));
    const QByteArray sheet = part(xlsx, "xl/worksheets/sheet1.xml");
    EXPECT_TRUE(sheet.contains("orientation=\"landscape\""));
    EXPECT_EQ(QString::fromUtf8(sheet).count(QStringLiteral("<col ")), t.colCount);
    EXPECT_EQ(plainZipParts(xlsx), 8);
    const QByteArray styles = part(xlsx, "xl/styles.xml");
    EXPECT_TRUE(styles.contains("<b/>"));
    EXPECT_TRUE(styles.contains("<left style=\"medium\">"));
    EXPECT_TRUE(styles.contains("<left style=\"thin\">"));

    const QString ods = write(t, "ods", "Zeit[nahme]");
    // A reader knows the package by its first bytes.
    QFile f(ods);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(SheetFormat::sheetFormatOf(QString(), f.read(100)), "ods");
    const QByteArray meta = part(ods, "meta.xml");
    EXPECT_TRUE(meta.contains("<dc:creator>Quendra Software</dc:creator>"));
    EXPECT_TRUE(meta.contains("<dc:subject>Zeit[nahme]</dc:subject>"));
    EXPECT_EQ(plainZipParts(ods), 5);
    EXPECT_TRUE(part(ods, "styles.xml").contains("style:print-orientation=\"landscape\""));
    const QByteArray content = part(ods, "content.xml");
    EXPECT_TRUE(content.contains("table:name=\"Zeit[nahme]\""));
    EXPECT_TRUE(content.contains("fo:font-weight=\"bold\""));
    EXPECT_TRUE(content.contains("fo:border=\"1.75pt solid #000000\""));
    EXPECT_TRUE(part(ods, "META-INF/manifest.xml").contains("full-path=\"content.xml\""));
}

TEST_F(SheetFiles, ControlCharactersSurviveAnXlsx)
{
    const TableData t = table(2, {{"Nr.", "Fahrer"}, {"1", QString("a") + QChar(1) + "b_x0041_"}});
    const SheetReader::Result back = SheetReader::read(write(t, "xlsx"), 2);
    ASSERT_EQ(back.status, SheetReader::Result::Ok) << back.message.toStdString();
    EXPECT_EQ(back.rows, t.rows);
}

// The sheet is packed while it is made: a cell too long for a workbook, found thousands of
// rows in, stops the package and leaves the file that was there.
TEST_F(SheetFiles, ACellTooLongStopsTheWorkbookAndKeepsTheOldFile)
{
    const QString path = dir.filePath(QStringLiteral("alt.xlsx"));
    const TableData old = protocol();
    for (const int at : {1, 5000}) {
        SCOPED_TRACE(at);
        ASSERT_TRUE(SheetWriter::write(old, "t", "xlsx", path).isEmpty());
        const QByteArray before = fileBytes(path);
        TableData t;
        t.colCount = 2;
        t.rows.assign(6000, QStringList{"1", "A"});
        t.rows[0] = QStringList{"Nr.", "Fahrer"};
        t.rows[size_t(at)][1] = QString(32768, QLatin1Char('x'));
        EXPECT_TRUE(SheetWriter::write(t, "t", "xlsx", path).contains("32.767"));
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"alt.xlsx"});
        // The longest cell there may be is written.
        t.rows[size_t(at)][1].chop(1);
        ASSERT_TRUE(SheetWriter::write(t, "t", "xlsx", path).isEmpty());
        const SheetReader::Result back = SheetReader::read(path, 2);
        ASSERT_EQ(back.status, SheetReader::Result::Ok) << back.message.toStdString();
        EXPECT_EQ(back.rows, t.rows);
    }
}

TEST_F(SheetFiles, TooLargeForTheFormatIsRefusedBeforeWriting)
{
    const struct
    {
        const char *suffix;
        int rows;
        int cols;
        const char *says;
    } cases[] = {
        {"xls", 65537, 2, "höchstens 65.536 Zeilen und 256 Spalten"},
        {"xls", 2, 257, "höchstens 65.536 Zeilen und 256 Spalten"},
        {"xlsx", 1048577, 2, "höchstens 1.048.576 Zeilen und 16.384 Spalten"},
        {"ods", 2, 16385, "höchstens 1.048.576 Zeilen und 16.384 Spalten"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.suffix) + " " + std::to_string(c.rows));
        // The rows share their cells: a million of them cost little.
        TableData t;
        t.colCount = c.cols;
        t.rows.assign(size_t(c.rows), QStringList(c.cols));
        const QString why = SheetFormat::tooLargeFor(t, QLatin1String(c.suffix));
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.says))) << why.toStdString();
        t.rows.resize(size_t(SheetFormat::limitsOf(QLatin1String(c.suffix)).rows));
        if (c.cols <= SheetFormat::limitsOf(QLatin1String(c.suffix)).cols) {
            EXPECT_TRUE(SheetFormat::tooLargeFor(t, QLatin1String(c.suffix)).isEmpty());
        }
    }
    TableData big;
    big.colCount = 2;
    big.rows.assign(1048577, QStringList{"1", "A"});
    const QString path = dir.filePath("gross.xlsx");
    EXPECT_TRUE(SheetWriter::write(big, "t", "xlsx", path).contains("1.048.576"));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(SheetNames, WhatAWorkbookAccepts)
{
    const struct
    {
        const char *title;
        const char *name;
    } cases[] = {{"tornelo", "tornelo"},
                 {"a/b\\c?d*e:f[g]", "a_b_c_d_e_f_g_"},
                 {"'quoted'", "quoted"},
                 {"", "Tabelle"},
                 {"0123456789012345678901234567890123", "0123456789012345678901234567890"}};
    for (const auto &c : cases)
        EXPECT_EQ(SheetFormat::sheetName(QString::fromUtf8(c.title)), QString::fromUtf8(c.name));
}

// A sheet LibreOffice made (tests/formats/sheets/make-fixtures.sh) with time, date, number,
// percent, logical and text cells; the empty first cell in row 4 ends the table.
TEST(SheetFromLibreOffice, XlsxAndOdsReadAsTheSheetShowsThem)
{
    const std::vector<QStringList> expected = {
        {"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Datum", "Zahl", "Anteil", "Text"},
        {"007", "Müller", "10:15:22,31", "09:05:03,50", "01.05.2024", "1234,50", "12,5%",
         "10:15:22,31"},
        {"12", "  zwei  Blanks ", "01.05.2024 10:15:22,00", "25:00:00,00", "WAHR", "0,1", "-3,00",
         ""}};
    for (const char *name : {"made-by-libreoffice.xlsx", "made-by-libreoffice.ods"}) {
        SCOPED_TRACE(name);
        const SheetReader::Result r = SheetReader::read(fixture(name), 8);
        ASSERT_EQ(r.status, SheetReader::Result::Ok) << r.message.toStdString();
        EXPECT_FALSE(r.approximate);
        EXPECT_EQ(r.rows, expected);
    }
}

// freexl gives time values to the second and numbers without their format: such an .xls
// is read approximately (LibreOffice reads it exactly, where it is installed).
TEST(SheetFromLibreOffice, XlsReadsApproximatelyWithTimeValues)
{
    const SheetReader::Result r = SheetReader::read(fixture("made-by-libreoffice.xls"), 8);
    ASSERT_EQ(r.status, SheetReader::Result::Ok) << r.message.toStdString();
    EXPECT_TRUE(r.approximate);
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0].at(7), "Text");
    EXPECT_EQ(r.rows[1].at(0), "007");
    EXPECT_EQ(r.rows[1].at(2), "10:15:22");
    EXPECT_EQ(r.rows[1].at(4), "01.05.2024");
    EXPECT_EQ(r.rows[1].at(7), "10:15:22,31");
    EXPECT_EQ(r.rows[2].at(0), "12");
    EXPECT_EQ(r.rows[2].at(1), "  zwei  Blanks ");
    EXPECT_EQ(SheetReader::xlsRowCount(fixture("made-by-libreoffice.xls")), 5);
}

// freexl opens no .xls that holds an empty text cell: LibreOffice reads it.
TEST(SheetFromLibreOffice, XlsThatFreexlCannotOpenIsRefused)
{
    const SheetReader::Result r = SheetReader::read(fixture("empty-text-by-libreoffice.xls"), 4);
    EXPECT_EQ(r.status, SheetReader::Result::Refused);
    EXPECT_FALSE(r.message.isEmpty());
    EXPECT_EQ(SheetReader::xlsRowCount(fixture("empty-text-by-libreoffice.xls")), -1);
}

// Only text cells (what the program writes as .xls): exact.
TEST(SheetFromLibreOffice, XlsOfTextsIsExact)
{
    const SheetReader::Result r = SheetReader::read(fixture("texts-by-libreoffice.xls"), 4);
    ASSERT_EQ(r.status, SheetReader::Result::Ok) << r.message.toStdString();
    EXPECT_FALSE(r.approximate);
    EXPECT_EQ(r.rows, (std::vector<QStringList>{{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"},
                                                {"007", "Müller", "10:15:22,31", ""},
                                                {"12", "Łoś & <Söhne>", "", "10:16:01,02"}}));
}

struct BadFile
{
    const char *what;
    QByteArray bytes;
    SheetReader::Result::Status status;
};

QByteArray packed(std::vector<Zip::Item> items)
{
    QString error;
    const QByteArray out = Zip::pack(items, &error);
    EXPECT_FALSE(out.isEmpty()) << error.toStdString();
    return out;
}

QByteArray xlsxWith(const QByteArray &relsType, const QByteArray &target)
{
    return packed({{"_rels/.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + relsType +
                                       "\" Target=\"" + target + "\"/></Relationships>"},
                   {target, "<workbook/>"}});
}

TEST(SheetBadFiles, RefusedOrFailedWithAReasonNeverACrash)
{
    const QByteArray ods = [] {
        QTemporaryDir d;
        const QString p = d.filePath("a.ods");
        SheetWriter::write(table(2, {{"Nr.", "Fahrer"}, {"1", "A"}}), "t", "ods", p);
        return fileBytes(p);
    }();
    const BadFile cases[] = {
        {"empty", "", SheetReader::Result::Failed},
        {"text", "Nr.\tFahrer\r\n", SheetReader::Result::Refused},
        {"an OLE header only", QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + "rest",
         SheetReader::Result::Refused},
        {"half an .ods", ods.left(ods.size() / 2), SheetReader::Result::Refused},
        {"a zip of something else", packed({{"readme.txt", "hallo"}}),
         SheetReader::Result::Refused},
        {"strict Open XML",
         xlsxWith("http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument",
                  "xl/workbook.xml"),
         SheetReader::Result::Refused},
        {"binary workbook",
         xlsxWith("http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                  "officeDocument",
                  "xl/workbook.bin"),
         SheetReader::Result::Refused},
        {"a workbook without sheets",
         xlsxWith("http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                  "officeDocument",
                  "xl/workbook.xml"),
         SheetReader::Result::Refused},
        {"an encrypted .ods",
         packed({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", true},
                 {"META-INF/manifest.xml", "<manifest><manifest:encryption-data/></manifest>"},
                 {"content.xml", "<x/>"}}),
         SheetReader::Result::Refused},
        {"broken XML",
         packed({{"content.xml", "<office:document-content xmlns:office=\"urn:oasis:names:tc:"
                                 "opendocument:xmlns:office:1.0\"><a>"}}),
         SheetReader::Result::Refused},
    };
    QTemporaryDir dir;
    for (const BadFile &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("bad.xlsx"));
        ASSERT_TRUE(writeBytes(path, c.bytes));
        const SheetReader::Result r = SheetReader::read(path, 4);
        EXPECT_EQ(r.status, c.status) << r.message.toStdString();
        EXPECT_FALSE(r.message.isEmpty());
        EXPECT_TRUE(r.rows.empty());
    }
}

// A mutation of a LibreOffice .xls on which freexl 1.0.6 reads past its buffers and dies:
// the reader runs it in a child process, so the file is refused and we go on.
TEST(SheetBadFiles, XlsThatCrashesFreexlIsRefused)
{
    const SheetReader::Result r = SheetReader::read(fixture("damaged-crashes-freexl.xls"), 8);
    EXPECT_EQ(r.status, SheetReader::Result::Refused);
    EXPECT_TRUE(r.message.contains("beschädigt")) << r.message.toStdString();
    EXPECT_EQ(SheetReader::xlsRowCount(fixture("damaged-crashes-freexl.xls")), -1);
}

// Workbooks altered at random places (bytes of an .xls, the XML inside a package) are read
// or refused, never more cells than asked for, never a crash.
TEST(SheetBadFiles, AlteredWorkbooksAreReadOrRefused)
{
    QTemporaryDir dir;
    std::mt19937 random(29);
    auto alter = [&](QByteArray bytes) {
        if (random() % 2) {
            bytes.truncate(qsizetype(random() % quint32(bytes.size())));
        } else {
            static const char marks[] = "<>\"&/=' \0x";
            for (int k = 0; k < 6; ++k)
                bytes[qsizetype(random() % quint32(bytes.size()))] =
                    marks[random() % (sizeof marks - 1)];
        }
        return bytes;
    };
    auto check = [&](const QByteArray &bytes, const char *what) {
        const QString path = dir.filePath("altered");
        ASSERT_TRUE(writeBytes(path, bytes));
        const SheetReader::Result r = SheetReader::read(path, 8);
        if (r.status == SheetReader::Result::Ok) {
            for (const QStringList &row : r.rows)
                ASSERT_EQ(row.size(), 8) << what;
        } else {
            EXPECT_FALSE(r.message.isEmpty()) << what;
        }
    };
    const QByteArray xls = fileBytes(fixture("made-by-libreoffice.xls"));
    for (int i = 0; i < 60; ++i)
        check(alter(xls), "xls");
    const struct
    {
        const char *file;
        const char *part;
    } packages[] = {{"made-by-libreoffice.xlsx", "xl/worksheets/sheet1.xml"},
                    {"made-by-libreoffice.xlsx", "xl/sharedStrings.xml"},
                    {"made-by-libreoffice.xlsx", "xl/styles.xml"},
                    {"made-by-libreoffice.ods", "content.xml"},
                    {"made-by-libreoffice.ods", "styles.xml"}};
    for (const auto &p : packages) {
        const Zip::Archive zip(fixture(p.file));
        const QByteArray original = zip.read(QLatin1String(p.part), 1 << 24).value_or(QByteArray());
        ASSERT_FALSE(original.isEmpty()) << p.part;
        for (int i = 0; i < 60; ++i) {
            std::vector<Zip::Item> items;
            for (const char *name :
                 {"mimetype", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                  "xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml",
                  "content.xml", "styles.xml"})
                if (const auto data = zip.read(QLatin1String(name), 1 << 24))
                    items.push_back(
                        {QLatin1String(name),
                         QLatin1String(name) == QLatin1String(p.part) ? alter(original) : *data,
                         QLatin1String(name) == QLatin1String("mimetype")});
            check(packed(items), p.part);
        }
    }
}

TEST(SheetBadFiles, APartLargerThanItsLimitIsNotUnpacked)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("z.zip");
    ASSERT_TRUE(writeBytes(path, packed({{"big", QByteArray(1 << 20, '0')}})));
    const Zip::Archive zip(path);
    EXPECT_FALSE(zip.read("big", (1 << 20) - 1).has_value());
    EXPECT_EQ(zip.read("big", 1 << 20).value_or(QByteArray()).size(), 1 << 20);
    const auto entry = zip.open("big", 1000);
    ASSERT_TRUE(entry);
    char buffer[4096];
    qint64 got = 0;
    for (qint64 n; (n = entry->read(buffer, sizeof buffer)) > 0;)
        got += n;
    EXPECT_LE(got, 1001);
    EXPECT_TRUE(entry->tooLarge());
}

// An .xlsx as other programs write it: shared and inline texts, rich text with phonetic
// guides, formula results, logical values, errors, styles by index, a gap in a row, and
// a missing row that ends the table.
TEST(SheetForeignFiles, XlsxCellsOfEveryKind)
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                          "relationships\"";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    QTemporaryDir dir;
    const QString path = dir.filePath("fremd.xlsx");
    ASSERT_TRUE(writeBytes(
        path,
        packed(
            {{"_rels/.rels", "<Relationships><Relationship Id=\"r1\" Type=\"" + rel +
                                 "officeDocument\" Target=\"/xl/workbook.xml\"/></Relationships>"},
             {"xl/workbook.xml", "<workbook " + ns +
                                     "><workbookPr date1904=\"1\"/><sheets>"
                                     "<sheet name=\"Diagramm\" r:id=\"c\"/>"
                                     "<sheet name=\"Liste\" r:id=\"s\"/></sheets></workbook>"},
             {"xl/_rels/workbook.xml.rels",
              "<Relationships>"
              "<Relationship Id=\"c\" Type=\"" +
                  rel +
                  "chartsheet\" Target=\"charts/c.xml\"/>"
                  "<Relationship Id=\"s\" Type=\"" +
                  rel +
                  "worksheet\" Target=\"worksheets/../worksheets/s.xml\"/>"
                  "<Relationship Id=\"t\" Type=\"" +
                  rel +
                  "sharedStrings\" Target=\"strings.xml\"/>"
                  "<Relationship Id=\"y\" Type=\"" +
                  rel +
                  "styles\" Target=\"styles.xml\"/>"
                  "</Relationships>"},
             {"xl/strings.xml",
              "<sst " + ns +
                  "><si><t>Nr.</t></si><si><r><t>Fa</t></r><r><rPr><b/></rPr>"
                  "<t>hrer</t></r><rPh><t>ignored</t></rPh></si><si><t xml:space=\"preserve\"> "
                  "a_x000D_b </t></si></sst>"},
             {"xl/styles.xml",
              "<styleSheet " + ns +
                  "><numFmts><numFmt numFmtId=\"200\" formatCode=\"0.000\"/>"
                  "</numFmts><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"200\"/><xf "
                  "numFmtId=\"14\"/>"
                  "<xf numFmtId=\"21\"/><xf numFmtId=\"10\"/></cellXfs></styleSheet>"},
             {"xl/worksheets/s.xml",
              "<worksheet " + ns +
                  "><sheetData>"
                  "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                  "<c r=\"C1\" t=\"inlineStr\"><is><t>Zeit</t></is></c></row>"
                  "<row r=\"2\"><c r=\"A2\"><v>7</v></c><c r=\"B2\" t=\"s\"><v>2</v></c>"
                  "<c r=\"D2\" s=\"1\"><v>2.5</v></c><c r=\"E2\" t=\"b\"><v>0</v></c></row>"
                  "<row r=\"3\"><c r=\"A3\" t=\"str\"><f>\"x\"&amp;1</f><v>x1</v></c>"
                  "<c r=\"B3\" t=\"e\"><v>#DIV/0!</v></c><c r=\"C3\" s=\"2\"><v>0</v></c>"
                  "<c r=\"D3\" s=\"3\"><v>0.5</v></c><c r=\"E3\" s=\"4\"><v>0.125</v></c></row>"
                  "<row r=\"5\"><c r=\"A5\"><v>9</v></c></row>"
                  "</sheetData></worksheet>"}})));
    const SheetReader::Result r = SheetReader::read(path, 5);
    ASSERT_EQ(r.status, SheetReader::Result::Ok) << r.message.toStdString();
    EXPECT_EQ(r.rows,
              (std::vector<QStringList>{{"Nr.", "Fahrer", "Zeit", "", ""},
                                        {"7", " a\rb ", "", "2,500", "FALSCH"},
                                        {"x1", "#DIV/0!", "01.01.1904", "12:00:00,00", "12,50%"}}));
}

// An .ods as LibreOffice writes longer sheets: equal rows and cells once with a count, a
// column's default style, notes, several paragraphs, merged cells.
TEST(SheetForeignFiles, OdsRepeatsStylesAndParagraphs)
{
    const QByteArray content =
        "<office:document-content "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\">"
        "<office:automatic-styles>"
        "<number:currency-style style:name=\"N1\"><number:number number:decimal-places=\"2\"/>"
        "<number:text> €</number:text></number:currency-style>"
        "<style:style style:name=\"ce1\" style:family=\"table-cell\" "
        "style:parent-style-name=\"Geld\"/>"
        "</office:automatic-styles><office:body><office:spreadsheet>"
        "<table:table table:name=\"A\">"
        "<table:table-column table:number-columns-repeated=\"2\"/>"
        "<table:table-column table:default-cell-style-name=\"ce1\" "
        "table:number-columns-repeated=\"1000\"/>"
        "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>Nr.</text:p>"
        "</table:table-cell><table:table-cell office:value-type=\"string\">"
        "<office:annotation><text:p>Notiz</text:p></office:annotation><text:p>Fahrer</text:p>"
        "</table:table-cell><table:table-cell "
        "table:number-columns-repeated=\"16000\"/></table:table-row>"
        "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell "
        "office:value-type=\"float\" "
        "office:value=\"5\"><text:p>5</text:p></table:table-cell><table:table-cell "
        "table:number-columns-spanned=\"2\" office:value-type=\"string\"><text:p>zwei</text:p>"
        "<text:p>Zeilen<text:tab/>mit <text:span>Tab</text:span><text:line-break/>und "
        "Umbruch</text:p>"
        "</table:table-cell><table:covered-table-cell/><table:table-cell "
        "office:value-type=\"currency\" "
        "office:currency=\"EUR\" office:value=\"3\"><text:p>3,00 €</text:p></table:table-cell>"
        "</table:table-row>"
        "<table:table-row "
        "table:number-rows-repeated=\"1048570\"><table:table-cell/></table:table-row>"
        "</table:table></office:spreadsheet></office:body></office:document-content>";
    const QByteArray styles =
        "<office:document-styles xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\"><office:styles>"
        "<number:number-style style:name=\"N9\"><number:number number:decimal-places=\"1\"/>"
        "</number:number-style>"
        "<style:style style:name=\"Geld\" style:family=\"table-cell\" "
        "style:data-style-name=\"N9\"/>"
        "</office:styles></office:document-styles>";
    QTemporaryDir dir;
    const QString path = dir.filePath("fremd.ods");
    ASSERT_TRUE(writeBytes(
        path, packed({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", true},
                      {"styles.xml", styles},
                      {"content.xml", content}})));
    const SheetReader::Result r = SheetReader::read(path, 5);
    ASSERT_EQ(r.status, SheetReader::Result::Ok) << r.message.toStdString();
    const QStringList car{"5", "zwei\nZeilen\tmit Tab\nund Umbruch", "", "3,0", ""};
    EXPECT_EQ(r.rows, (std::vector<QStringList>{{"Nr.", "Fahrer", "", "", ""}, car, car}));
}

struct StyleCase
{
    const char *code;
    double value;
    const char *text;
};

class FormatCodes : public ::testing::TestWithParam<StyleCase>
{
};

TEST_P(FormatCodes, ShowTheValueWithoutTheLocale)
{
    const StyleCase &c = GetParam();
    EXPECT_EQ(SheetValues::numberText(c.value, SheetValues::styleOfFormatCode(c.code)),
              QString::fromUtf8(c.text))
        << c.code;
}

INSTANTIATE_TEST_SUITE_P(
    Excel, FormatCodes,
    ::testing::Values(
        StyleCase{"General", 1234.5, "1234,5"}, StyleCase{"General", 0.1 + 0.2, "0,3"},
        StyleCase{"General", 12, "12"}, StyleCase{"General", -1e20, "-1E+20"},
        StyleCase{"0", 2.5, "3"}, StyleCase{"#,##0.00", 1234.5, "1234,50"},
        StyleCase{"0.0#", 1.5, "1,5"}, StyleCase{"0.0#", 1.256, "1,26"},
        StyleCase{"0.00;[Red]-0.00", -3, "-3,00"}, StyleCase{"0%", 0.125, "13%"},
        StyleCase{"[$-407]0.0%", 0.125, "12,5%"}, StyleCase{"0.00E+00", 1500, "1500"},
        StyleCase{"@", 7, "7"}, StyleCase{"\"Nr. \"0", 7, "7"},
        StyleCase{"hh:mm:ss.00", 0.4273415509259259, "10:15:22,31"},
        StyleCase{"h:mm AM/PM", 0.75, "18:00:00,00"}, StyleCase{"hh:mm", 1.75, "18:00:00,00"},
        StyleCase{"[hh]:mm:ss", 1.75, "42:00:00,00"},
        StyleCase{"mm:ss.0", 0.5 / 86400, "00:00:00,50"},
        StyleCase{"dd/mm/yyyy", 45413.9, "01.05.2024"},
        StyleCase{"[$-407]dd/mm/yyyy\\ hh:mm:ss", 45413.999999999, "02.05.2024 00:00:00,00"},
        StyleCase{"d-mmm", 60, "29.02.1900"}, StyleCase{"d-mmm", 59, "28.02.1900"},
        StyleCase{"mmm-yy", 61, "01.03.1900"}));

TEST(SheetValuesText, TimesOfDayAndDurations)
{
    EXPECT_EQ(SheetValues::timeOfDay("10:15:22,31"), 3692231);
    EXPECT_EQ(SheetValues::timeOfDay("23:59:59,99"), 8639999);
    for (const char *no : {"9:00:00", "24:00:00,00", "10:60:00,00", "10:15:22.31", "10:15:22,3",
                           "10:15:22,312", "", "Zeit 1"})
        EXPECT_FALSE(SheetValues::timeOfDay(no).has_value()) << no;
    EXPECT_EQ(SheetValues::timeText(3692231), "10:15:22,31");
    EXPECT_EQ(SheetValues::timeText(100 * 3600 * 100), "100:00:00,00");
    EXPECT_EQ(SheetValues::centisOfDuration("PT10H15M22.31S"), 3692231);
    EXPECT_EQ(SheetValues::centisOfDuration("PT10H15M22.3149999S"), 3692231);
    EXPECT_EQ(SheetValues::centisOfDuration("P1DT1H"), 25 * 360000);
    EXPECT_EQ(SheetValues::centisOfDuration("-PT1S"), -100);
    for (const char *no : {"", "PT", "P1Y", "10:15", "PT1X"})
        EXPECT_FALSE(SheetValues::centisOfDuration(no).has_value()) << no;
    EXPECT_EQ(SheetValues::dateText("2024-05-01", false), "01.05.2024");
    EXPECT_EQ(SheetValues::dateText("2024-05-01T23:59:59.996", true), "02.05.2024 00:00:00,00");
    EXPECT_EQ(SheetValues::dateText("2024-05-01T10:15:22.31", false), "01.05.2024");
    EXPECT_EQ(SheetValues::dateText("gestern", true), "");
    // The 1904 system starts four years later.
    EXPECT_EQ(SheetValues::numberText(0, {SheetValues::NumberStyle::Date}, true), "01.01.1904");
}

} // namespace
