#include "protocol/FileCommands.h"
#include "protocol/TextFormat.h"
#include "tests/support/FileSeams.h"
#include "tests/support/ResultsGrid.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QString kT = QStringLiteral("10:15:22,31");

TEST(TextWrite, GoldenCarTwelveWithOneTime)
{
    auto g = makeResults(4, {{"12", "Meier", kT}});
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(TextFormat::write(*g, buf));
    EXPECT_EQ(buf.data(), fileBytes(goldenFile(__FILE__, "protocol_n4.txt")));
}

TEST(TextWrite, RowsWithoutStartNumberAreLeftOutButBlankNumbersStay)
{
    auto g = makeResults(1, {{"1", "A", "x"}, {"", "ohne Nummer", "y"}, {"  ", "B"}, {"3"}});
    EXPECT_EQ(TextFormat::protocolText(*g), QStringLiteral("Nr.\tFahrer\tZeit 1\t\r\n"
                                                           "1\tA\tx\t\r\n"
                                                           "  \tB\t \t\r\n"
                                                           "3\t \t \t\r\n"));
    // Without a start number in the first row the file stays empty.
    auto h = makeResults(1, {{"", "A"}, {"2", "B"}});
    EXPECT_EQ(TextFormat::protocolText(*h), QString());
}

TEST(TextWrite, Windows1252WhileEverythingFitsElseUtf8WithMark)
{
    auto g = makeResults(1, {{"1", QStringLiteral("Müller €")}});
    const QByteArray cp = TextFormat::encode(TextFormat::protocolText(*g));
    EXPECT_TRUE(cp.contains("M\xFCller \x80"));
    EXPECT_FALSE(cp.startsWith("\xEF\xBB\xBF"));

    g->setCells(1, 1, QStringLiteral("Łukasz Müller"));
    const QByteArray u = TextFormat::encode(TextFormat::protocolText(*g));
    EXPECT_TRUE(u.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(u.contains(QStringLiteral("Łukasz Müller").toUtf8()));
}

TEST(TextWrite, DeviceThatFailsHalfwayIsReported)
{
    auto g = makeResults(4, {{"12", "Meier", kT}});
    FailingDevice dev(20);
    dev.open(QIODevice::WriteOnly);
    EXPECT_FALSE(TextFormat::write(*g, dev));
    FailingDevice big(4096);
    big.open(QIODevice::WriteOnly);
    EXPECT_TRUE(TextFormat::write(*g, big));
    EXPECT_EQ(big.written, fileBytes(goldenFile(__FILE__, "protocol_n4.txt")));
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

// Loads lines into a fresh N = 2 table that held other data before.
QStringList loaded(const QStringList &lines, int row)
{
    auto g = makeResults(2, {{"99", "Alt", "a", "b"}, {"98", "Alt"}, {"97", "Alt"}});
    TextFormat::load(*g, lines);
    return gridRow(*g, row);
}

TEST(TextRead, LoadIntoTable)
{
    auto g = makeResults(2, {{"99", "Alt", "a", "b"}, {"98", "Alt"}, {"97", "Alt"}});
    EXPECT_EQ(TextFormat::load(*g, {"Nr.;Fahrer", "12;Meier"}), 2);
    EXPECT_EQ(g->RowCount(), 2); // the old rows are gone
    EXPECT_EQ(gridRow(*g, 0), (QStringList{"Nr.", "Fahrer", "", ""}));
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"12", "Meier", "", ""}));
    // Rows hidden by the shorter table do not come back when it grows again.
    g->setRowCount(4);
    EXPECT_TRUE(TProtocolTables::rowBlank(*g, 2));
    EXPECT_TRUE(TProtocolTables::rowBlank(*g, 3));

    // Empty first line: default titles for columns 0 and 1, time titles empty.
    EXPECT_EQ(loaded({"", "5\tX"}, 0), (QStringList{"Nr.", "Fahrer", "", ""}));
    // Too many fields: the extra ones are dropped.
    EXPECT_EQ(loaded({"A\tB\tC\tD\tE\tF", "1\t2\t3\t4\t5\t6"}, 1),
              (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(loaded({"A\tB\tC\tD\tE\tF"}, 0), (QStringList{"A", "B", "C", "D"}));
    // A title line alone leaves one empty data row.
    auto h = makeResults(2, {{"99", "Alt"}, {"98", "Alt"}});
    TextFormat::load(*h, {"Nr.\tFahrer\tZeit 1\tZeit 2\t"});
    EXPECT_EQ(h->RowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(*h, 1));
    // An empty file leaves the titles and one empty data row.
    TextFormat::load(*h, {});
    EXPECT_EQ(h->RowCount(), 2);
    EXPECT_EQ(gridRow(*h, 0), (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}));
    EXPECT_TRUE(TProtocolTables::rowBlank(*h, 1));
    // A blank title gets its default, a title of blanks counts as blank.
    EXPECT_EQ(loaded({"  ;\x01;Z1"}, 0), (QStringList{"Nr.", "Fahrer", "Z1", ""}));
}

// The file commands on a real folder, with a table of their own.
class TextFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        g = makeResults(4,
                        {{"12", "Meier", kT}, {"", "ohne"}, {"7", QStringLiteral("Łoś & Söhne")}});
        cmd = std::make_unique<TFileCommands>(*g, nullptr);
        cmd->layoutColumns = [this] { ++layouts; };
        cmd->updateFileButtons = [this] { ++updates; };
    }
    QString path(const QString &n) const { return dir.filePath(n); }

    QTemporaryDir dir;
    FileSeams seams;
    std::unique_ptr<TSortGrid> g;
    std::unique_ptr<TFileCommands> cmd;
    int layouts = 0;
    int updates = 0;
};

TEST_F(TextFiles, SaveAndLoadRoundTrip)
{
    const QString f = path("protokoll.txt");
    ASSERT_TRUE(cmd->SaveProtocolText(f));
    // "Ł" does not fit Windows-1252: the file is UTF-8 with a mark.
    EXPECT_TRUE(fileBytes(f).startsWith("\xEF\xBB\xBF"));

    auto h = makeResults(4, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}});
    TFileCommands other(*h, nullptr);
    int updates2 = 0;
    other.updateFileButtons = [&] { ++updates2; };
    ASSERT_TRUE(other.LoadProtocolText(f));
    EXPECT_EQ(h->RowCount(), 3); // the row without a number is gone, and so are the old rows
    EXPECT_EQ(gridRow(*h, 0), gridRow(*g, 0));
    EXPECT_EQ(gridRow(*h, 1), (QStringList{"12", "Meier", kT, " ", " ", " "}));
    EXPECT_EQ(gridRow(*h, 2),
              (QStringList{"7", QStringLiteral("Łoś & Söhne"), " ", " ", " ", " "}));
    EXPECT_EQ(h->Row(), 2);
    EXPECT_EQ(h->Selection(), (TGridRect{0, 2, 5, 2}));
    EXPECT_EQ(updates2, 1);
    EXPECT_TRUE(seams.errors.isEmpty());

    // Saved again, the file is the same byte for byte.
    const QString f2 = path("zweimal.txt");
    ASSERT_TRUE(other.SaveProtocolText(f2));
    EXPECT_EQ(fileBytes(f2), fileBytes(f));
}

TEST_F(TextFiles, ReadsWindows1252AndUtf8StarterLists)
{
    const QString a = path("ansi.txt");
    writeBytes(a, "Nr.;Fahrer\r\n12;M\xFCller \x80\r\n");
    ASSERT_TRUE(cmd->LoadProtocolText(a));
    EXPECT_EQ(g->Cells(1, 1), QStringLiteral("Müller €"));
    EXPECT_EQ(layouts, 1);
    EXPECT_EQ(updates, 1);

    const QString u = path("utf8.txt");
    writeBytes(u, QStringLiteral("Nr.;Fahrer\n12;Jürgen Weiß\n13;Ärger\n").toUtf8());
    ASSERT_TRUE(cmd->LoadProtocolText(u));
    EXPECT_EQ(g->Cells(1, 1), QStringLiteral("Jürgen Weiß"));
    EXPECT_EQ(g->Cells(1, 2), QStringLiteral("Ärger"));

    const QString b = path("bom.txt");
    writeBytes(b, "\xEF\xBB\xBFNr.\tFahrer\r\n1\tOla\r\n");
    ASSERT_TRUE(cmd->LoadProtocolText(b));
    EXPECT_EQ(g->Cells(0, 0), QStringLiteral("Nr.")); // the mark is not part of the title
    EXPECT_EQ(g->RowCount(), 2);
}

TEST_F(TextFiles, UnreadableFileIsReportedAndChangesNothing)
{
    const QStringList before = gridRow(*g, 1);
    const QString gone = path("weg.txt");
    EXPECT_FALSE(cmd->LoadProtocolText(gone));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_EQ(seams.errors[0], QStringLiteral("Die Datei kann nicht gelesen werden: ") + gone);
    EXPECT_EQ(gridRow(*g, 1), before);
    EXPECT_EQ(updates, 0);

    // A folder cannot be read as a file either.
    EXPECT_FALSE(cmd->LoadProtocolText(dir.path()));
    EXPECT_EQ(seams.errors.size(), 2);
    EXPECT_EQ(gridRow(*g, 1), before);

    // Nor can a file far too big for a protocol (sparse, it costs no disk space).
    const QString huge = path("riesig.txt");
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(TextFormat::MaxFileBytes + 1));
    }
    EXPECT_FALSE(cmd->LoadProtocolText(huge));
    EXPECT_EQ(seams.errors.last(), QStringLiteral("Die Datei kann nicht gelesen werden: ") + huge);
    EXPECT_EQ(gridRow(*g, 1), before);
}

TEST_F(TextFiles, PipesAndDevicesAreNeitherReadNorReplaced)
{
    const QStringList before = gridRow(*g, 1);
    for (const mode_t kind : {S_IFIFO, S_IFCHR}) {
        const QString node = path(QString::number(kind));
        ASSERT_EQ(mknod(QFile::encodeName(node).constData(), kind | 0600, makedev(1, 3)), 0);
        // A pipe without a writer would block the window for good.
        EXPECT_FALSE(cmd->LoadProtocolText(node));
        EXPECT_EQ(seams.errors.last(), "Die Datei kann nicht gelesen werden: " + node);
        EXPECT_FALSE(cmd->SaveProtocolText(node));
        EXPECT_EQ(seams.errors.last(), "Der Schreibfehler der Datei: " + node);
        struct stat st = {};
        ASSERT_EQ(stat(QFile::encodeName(node).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, kind);
    }
    EXPECT_EQ(gridRow(*g, 1), before);
}

TEST_F(TextFiles, ReadOnlyFolderIsReportedAndTheOldFileStays)
{
    QString f;
    QByteArray before;
    if (geteuid() == 0) {
        // Root writes into any folder with write permission off; /proc takes no new files.
        f = QStringLiteral("/proc/version");
        before = fileBytes(f);
    } else {
        QDir(dir.path()).mkdir("ro");
        f = path("ro/alt.txt");
        before = "alt\r\n";
        ASSERT_TRUE(writeBytes(f, before));
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner);
    }
    EXPECT_FALSE(cmd->SaveProtocolText(f));
    EXPECT_FALSE(cmd->WriteHtmlReport(f));
    if (geteuid() != 0)
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(seams.errors, QStringList(2, QStringLiteral("Der Schreibfehler der Datei: ") + f));
    EXPECT_EQ(fileBytes(f), before);
}

TEST_F(TextFiles, FolderThatVanishedIsReported)
{
    const QString f = path("nicht/da/protokoll.txt");
    EXPECT_FALSE(cmd->SaveProtocolText(f));
    EXPECT_EQ(seams.errors, QStringList{QStringLiteral("Der Schreibfehler der Datei: ") + f});
    EXPECT_FALSE(QFile::exists(f));
}

// Saves under a file-size limit, so that the write fails on the way.
bool saveUnderLimit(TFileCommands &cmd, const QString &f, rlim_t limit)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = limit;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = cmd.SaveProtocolText(f);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return ok;
}

TEST_F(TextFiles, FailureInTheMiddleKeepsThePreviousFile)
{
    const QString f = path("alt.txt");
    ASSERT_TRUE(writeBytes(f, "alt\r\n"));
    // A small table fails when the buffered bytes go out, a big one while writing.
    EXPECT_FALSE(saveUnderLimit(*cmd, f, 20));
    EXPECT_EQ(fileBytes(f), QByteArray("alt\r\n"));
    g->setRowCount(2000);
    for (int r = 1; r < 2000; ++r) {
        g->setCells(0, r, QString::number(r));
        g->setCells(1, r, QStringLiteral("Fahrer mit langem Namen"));
    }
    EXPECT_FALSE(saveUnderLimit(*cmd, f, 4096));
    EXPECT_EQ(fileBytes(f), QByteArray("alt\r\n"));
    EXPECT_EQ(seams.errors.size(), 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"alt.txt"}); // no leftovers
    // With room enough the same save succeeds.
    EXPECT_TRUE(saveUnderLimit(*cmd, f, 1 << 20));
    EXPECT_TRUE(fileBytes(f).startsWith("Nr.\tFahrer"));
}

} // namespace
