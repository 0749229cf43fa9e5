#include "formats/TextFormat.h"
#include "protocol/FileCommands.h"
#include "tests/support/FileSeams.h"
#include "tests/support/ResultsGrid.h"
#include "tests/support/TextLoads.h"
#include "tests/support/core/PlainTables.h"

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

// The file commands on a real folder, with a table of their own.
class TextFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        g = plainResults(4,
                         {{"12", "Meier", kT}, {"", "ohne"}, {"7", QStringLiteral("Łoś & Söhne")}});
        cmd = std::make_unique<TFileCommands>(*g, nullptr);
        // A load is told once; the window then lays out its columns and its buttons.
        QObject::connect(cmd.get(), &TFileCommands::loaded, [this] {
            ++layouts;
            ++updates;
        });
    }
    QString path(const QString &n) const { return dir.filePath(n); }

    QTemporaryDir dir;
    FileSeams seams;
    std::unique_ptr<TPlainTable> g;
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

    // Loaded into a grid of the window, through the table adapter.
    auto h = makeResults(4, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}});
    TGridTable ht(*h, {0, 1});
    TFileCommands other(ht, nullptr);
    int updates2 = 0;
    QObject::connect(&other, &TFileCommands::loaded, [&] { ++updates2; });
    ASSERT_TRUE(loadText(other, f));
    EXPECT_EQ(h->RowCount(), 3); // the row without a number is gone, and so are the old rows
    EXPECT_EQ(gridRow(*h, 0), tableRow(*g, 0));
    EXPECT_EQ(gridRow(*h, 1), (QStringList{"12", "Meier", kT, " ", " ", " "}));
    EXPECT_EQ(gridRow(*h, 2),
              (QStringList{"7", QStringLiteral("Łoś & Söhne"), " ", " ", " ", " "}));
    EXPECT_EQ(h->Row(), 2);
    EXPECT_EQ(h->Selection(), (TGridRect{0, 2, 5, 2}));
    EXPECT_EQ(updates2, 1);
    EXPECT_TRUE(seams.errors.isEmpty());
    // Rows hidden by the shorter table do not come back when it grows again.
    h->setRowCount(6);
    for (int r = 3; r < 6; ++r)
        EXPECT_TRUE(TProtocolTables::rowBlank(ht, r)) << r;
    h->setRowCount(3);

    // Saved again, the file is the same byte for byte.
    const QString f2 = path("zweimal.txt");
    ASSERT_TRUE(other.SaveProtocolText(f2));
    EXPECT_EQ(fileBytes(f2), fileBytes(f));
}

TEST_F(TextFiles, ReadsWindows1252AndUtf8StarterLists)
{
    const QString a = path("ansi.txt");
    writeBytes(a, "Nr.;Fahrer\r\n12;M\xFCller \x80\r\n");
    ASSERT_TRUE(loadText(*cmd, a));
    EXPECT_EQ(g->cell(1, 1), QStringLiteral("Müller €"));
    EXPECT_EQ(layouts, 1);
    EXPECT_EQ(updates, 1);

    const QString u = path("utf8.txt");
    writeBytes(u, QStringLiteral("Nr.;Fahrer\n12;Jürgen Weiß\n13;Ärger\n").toUtf8());
    ASSERT_TRUE(loadText(*cmd, u));
    EXPECT_EQ(g->cell(1, 1), QStringLiteral("Jürgen Weiß"));
    EXPECT_EQ(g->cell(1, 2), QStringLiteral("Ärger"));

    const QString b = path("bom.txt");
    writeBytes(b, "\xEF\xBB\xBFNr.\tFahrer\r\n1\tOla\r\n");
    ASSERT_TRUE(loadText(*cmd, b));
    EXPECT_EQ(g->cell(0, 0), QStringLiteral("Nr.")); // the mark is not part of the title
    EXPECT_EQ(g->rowCount(), 2);
}

TEST_F(TextFiles, UnreadableFileIsReportedAndChangesNothing)
{
    const QStringList before = tableRow(*g, 1);
    const QString gone = path("weg.txt");
    EXPECT_FALSE(loadText(*cmd, gone));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_EQ(seams.errors[0], QStringLiteral("Die Datei kann nicht gelesen werden: ") + gone);
    EXPECT_EQ(tableRow(*g, 1), before);
    EXPECT_EQ(updates, 0);

    // A folder cannot be read as a file either.
    EXPECT_FALSE(loadText(*cmd, dir.path()));
    EXPECT_EQ(seams.errors.size(), 2);
    EXPECT_EQ(tableRow(*g, 1), before);
}

// What is no starter list is refused with its reason, and the table stays as it was.
TEST_F(TextFiles, JunkAndFilesOverTheLimitAreRefusedWithTheirReason)
{
    QByteArray junk;
    quint32 x = 12345;
    for (int i = 0; i < 5000; ++i) {
        x = x * 1103515245u + 12345u;
        junk.append(char(x >> 24));
    }
    QByteArray controls;
    for (int i = 0; i < 300; ++i)
        controls += i % 4 ? QByteArray("Nr.") : QByteArray("\x1B\x02\x03\x04");
    const struct
    {
        const char *name;
        QByteArray bytes;
        qint64 sparseSize; // a file of that size with nothing written, no disk space used
        const char *reason;
    } cases[] = {
        {"zufall.txt", junk, 0, "zufall.txt ist keine Textdatei."},
        {"nullen.txt", QByteArray("Nr.;Fahrer\r\n12;Me\0ier\r\n", 23), 0,
         "nullen.txt ist keine Textdatei."},
        {"steuer.txt", controls, 0, "steuer.txt ist keine Textdatei."},
        {"gross.txt",
         {},
         50 * 1024 * 1024,
         "gross.txt ist 50 MB groß; eine Starterliste darf höchstens 20 MB haben."},
        {"knapp.txt",
         {},
         TextFormat::MaxFileBytes + 1,
         "knapp.txt ist 21 MB groß; eine Starterliste darf höchstens 20 MB haben."},
    };
    const TableData before = TProtocolTables::snapshot(*g);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString f = path(c.name);
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        if (c.sparseSize)
            ASSERT_TRUE(file.resize(c.sparseSize));
        else
            ASSERT_EQ(file.write(c.bytes), c.bytes.size());
        file.close();
        seams.errors.clear();
        EXPECT_FALSE(loadText(*cmd, f));
        EXPECT_EQ(seams.errors, QStringList{"Die Datei kann nicht gelesen werden: " + f + "\n" +
                                            QString::fromUtf8(c.reason)});
        EXPECT_EQ(TProtocolTables::snapshot(*g).rows, before.rows);
        EXPECT_EQ(updates, 0);
        EXPECT_FALSE(cmd->busy());
    }
    // A text with a few control characters is still a starter list.
    writeBytes(path("fast.txt"), "Nr.;Fahrer\x1A\r\n12;Meier\x0C\r\n13;Kunz\r\n");
    EXPECT_TRUE(loadText(*cmd, path("fast.txt")));
    EXPECT_EQ(g->cell(1, 2), QStringLiteral("Kunz"));
}

TEST_F(TextFiles, PipesAndDevicesAreNeitherReadNorReplaced)
{
    const QStringList before = tableRow(*g, 1);
    for (const mode_t kind : {S_IFIFO, S_IFCHR}) {
        const QString node = path(QString::number(kind));
        ASSERT_EQ(mknod(QFile::encodeName(node).constData(), kind | 0600, makedev(1, 3)), 0);
        // A pipe without a writer would block the window for good.
        EXPECT_FALSE(loadText(*cmd, node));
        EXPECT_EQ(seams.errors.last(), "Die Datei kann nicht gelesen werden: " + node);
        EXPECT_FALSE(cmd->SaveProtocolText(node));
        EXPECT_EQ(seams.errors.last(),
                  "Der Schreibfehler der Datei: " + node +
                      "\nDort liegt keine gewöhnliche Datei, sondern ein Gerät, eine Pipe, ein "
                      "Ordner oder eine Verknüpfung ins Leere. Die Datei wurde nicht geschrieben.");
        struct stat st = {};
        ASSERT_EQ(stat(QFile::encodeName(node).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, kind);
    }
    EXPECT_EQ(tableRow(*g, 1), before);
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
    ASSERT_EQ(seams.errors.size(), 2);
    for (const QString &e : seams.errors) {
        EXPECT_TRUE(e.startsWith(QStringLiteral("Der Schreibfehler der Datei: ") + f + "\n"))
            << e.toStdString();
        EXPECT_TRUE(e.endsWith(". Die Datei wurde nicht geschrieben.")) << e.toStdString();
        if (geteuid() != 0) {
            EXPECT_TRUE(e.contains("\nKeine Berechtigung.")) << e.toStdString();
        }
    }
    EXPECT_EQ(fileBytes(f), before);
}

TEST_F(TextFiles, FolderThatVanishedIsReported)
{
    const QString f = path("nicht/da/protokoll.txt");
    EXPECT_FALSE(cmd->SaveProtocolText(f));
    EXPECT_EQ(seams.errors, QStringList{QStringLiteral("Der Schreibfehler der Datei: ") + f +
                                        "\nDatei oder Gerät nicht gefunden. Die Datei wurde "
                                        "nicht geschrieben."});
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
        g->setCell(0, r, QString::number(r));
        g->setCell(1, r, QStringLiteral("Fahrer mit langem Namen"));
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
