// The program installed under /usr rather than run from its build folder: the help file,
// the dialogs' start folder, the page's folder and the command line.
#include "app/CommandLine.h"
#include "platform/AppInfo.h"
#include "platform/Folders.h"
#include "protocol/FileCommands.h"
#include "protocol/PlainTable.h"
#include "tests/support/Guards.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(Installed, HelpFileBesideTheExecutableFirstThenInTheDataFolder)
{
    QTemporaryDir root;
    const QString bin = root.path() + QStringLiteral("/bin/");
    const QString data = root.path() + QStringLiteral("/share/tornelo/");
    touch(bin + QStringLiteral("tornelo"));
    // Only installed: found in the data folder, named after the executable.
    touch(data + QStringLiteral("tornelo.chm"));
    EXPECT_EQ(Folders::helpFileFor(bin + QStringLiteral("tornelo")),
              data + QStringLiteral("tornelo.chm"));
    // A renamed copy looks for its own name, and finds none.
    EXPECT_EQ(Folders::helpFileFor(bin + QStringLiteral("zeit")), bin + QStringLiteral("zeit.chm"));
    // A file beside the executable wins (the build folder).
    touch(bin + QStringLiteral("tornelo.chm"));
    EXPECT_EQ(Folders::helpFileFor(bin + QStringLiteral("tornelo")),
              bin + QStringLiteral("tornelo.chm"));
}

// Root may write everywhere, so the read-only cases run as an unprivileged user: ctest
// starts this executable a second time through setpriv when it runs as root.
class ReadOnlyFolders : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() == 0)
            GTEST_SKIP() << "root writes into read-only folders; ctest repeats this test as "
                            "user nobody";
        ASSERT_TRUE(home.isValid());
        QDir(home.path()).mkpath(QStringLiteral("Documents"));
        QDir(home.path()).mkpath(QStringLiteral("program"));
        readOnly = home.path() + QStringLiteral("/program");
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
    }
    void TearDown() override
    {
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir home;
    QString readOnly;
    EnvGuard homeEnv{"HOME", QByteArray()};
    EnvGuard cacheEnv{"XDG_CACHE_HOME", QByteArray()};
};

TEST_F(ReadOnlyFolders, DialogsStartInTheDocumentsAndThePageGoesToTheCache)
{
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toLocal8Bit());
    TPlainTable table;
    TFileCommands files(table, nullptr);
    files.applicationTitle = QStringLiteral("tornelo");
    CwdGuard cwd;

    struct Case
    {
        QString programFolder;
        QString workingFolder;
        QString dialogFolder;
        QString page;
    };
    const QString docs = home.path() + QStringLiteral("/Documents");
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    const Case cases[] = {
        {home.path(), home.path(), home.path(), QStringLiteral("tornelo.html")},
        {readOnly, readOnly, docs, cache + QStringLiteral("/tornelo.html")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.programFolder.toStdString());
        files.proposeNames(c.programFolder + QStringLiteral("/tornelo"));
        EXPECT_EQ(files.OpenDialog1.InitialDir, c.dialogFolder);
        EXPECT_EQ(files.SaveDialog1.InitialDir, c.dialogFolder);
        ASSERT_TRUE(QDir::setCurrent(c.workingFolder));
        EXPECT_EQ(files.webFileName(), c.page);
        // The page can really be written there.
        EXPECT_TRUE(files.WriteHtmlReport(files.webFileName()));
        EXPECT_TRUE(QFile::exists(files.webFileName()));
    }
}

TEST(CommandLine, OptionsAndMistakes)
{
    struct Case
    {
        QStringList args;
        bool lenient;
        bool help;
        bool version;
        bool error;
    };
    const Case cases[] = {
        {{"tornelo"}, false, false, false, false},
        {{"tornelo", "--help"}, false, true, false, false},
        {{"tornelo", "-h"}, false, true, false, false},
        {{"tornelo", "--version"}, false, false, true, false},
        {{"tornelo", "-v"}, false, false, true, false},
        {{"tornelo", "--frobnicate"}, false, false, false, true},
        {{"tornelo", "datei.txt"}, false, false, false, true},
        // Before Qt has taken out its own options, they must not hide --version.
        {{"tornelo", "-platform", "offscreen", "--version"}, true, false, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CommandLine cl = CommandLine::parse(c.args, c.lenient);
        EXPECT_EQ(cl.help, c.help);
        EXPECT_EQ(cl.version, c.version);
        EXPECT_EQ(!cl.error.isEmpty(), c.error);
    }
}

TEST(CommandLine, VersionAndHelpWithoutADisplay)
{
    const QString bin = qEnvironmentVariable("TORNELO_BIN_DIR");
    if (bin.isEmpty())
        GTEST_SKIP() << "run through ctest";
    struct Case
    {
        QString arg;
        // No display of any kind: a window would fail to start there.
        bool noDisplay;
        int exitCode;
        QString expected;
    };
    const Case cases[] = {
        {"--version", true, 0, "tornelo " + AppInfo::version() + "\n"},
        {"--help", true, 0, "Aufruf: tornelo"},
        {"--frobnicate", false, 2, "Unbekannte Option: frobnicate"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arg.toStdString());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", c.noDisplay ? "xcb" : "offscreen");
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(bin + QStringLiteral("/tornelo"), {c.arg});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), c.exitCode);
        const QString out =
            QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
        EXPECT_TRUE(out.contains(c.expected)) << out.toStdString();
    }
}
