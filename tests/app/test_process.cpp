#include "protocol/Recovery.h"
#include "tests/support/ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(Program, TermSignalClosesTheWindowAndSavesTheSettings)
{
    if (qEnvironmentVariable("TORNELO_BIN_DIR").isEmpty())
        GTEST_SKIP() << "run through ctest";
    for (int sig : {SIGTERM, SIGINT}) {
        ProgramRun run;
        ASSERT_TRUE(run.startAndSettle());
        ::kill(pid_t(run.proc.processId()), sig);
        ASSERT_TRUE(run.proc.waitForFinished(5000));
        EXPECT_EQ(run.proc.exitStatus(), QProcess::NormalExit) << sig;
        EXPECT_EQ(run.proc.exitCode(), 0);
        QSettings s(run.confFile("tornelo"), QSettings::IniFormat);
        EXPECT_EQ(s.childKeys().size(), 15) << sig; // the values outside [Devices]
        EXPECT_EQ(s.value("Width").toInt(), 800);
        EXPECT_EQ(s.value("CountRunden").toInt(), 4);
    }
}

TEST(Program, CopyUnderAnotherNameSavesUnderThatName)
{
    if (qEnvironmentVariable("TORNELO_BIN_DIR").isEmpty())
        GTEST_SKIP() << "run through ctest";
    ProgramRun run(QStringLiteral("Zeitnahme"));
    ASSERT_TRUE(run.startAndSettle());
    ::kill(pid_t(run.proc.processId()), SIGTERM);
    ASSERT_TRUE(run.proc.waitForFinished(5000));
    EXPECT_EQ(QSettings(run.confFile("Zeitnahme"), QSettings::IniFormat).value("Width").toInt(),
              800);
    EXPECT_FALSE(QFile::exists(run.confFile("tornelo")));
}

// The program keeps its journal in the user's data folder from the start; a kill leaves
// the day's file with the start line in it.
TEST(Program, JournalStartsInTheUsersDataFolder)
{
    if (qEnvironmentVariable("TORNELO_BIN_DIR").isEmpty())
        GTEST_SKIP() << "run through ctest";
    ProgramRun run;
    ASSERT_TRUE(run.startAndSettle());
    ::kill(pid_t(run.proc.processId()), SIGKILL);
    ASSERT_TRUE(run.proc.waitForFinished(5000));
    const QDir folder(run.data.path() + QStringLiteral("/Quendra/tornelo"));
    const QStringList journals = folder.entryList({QStringLiteral("journal-*.txt")}, QDir::Files);
    ASSERT_EQ(journals.size(), 1) << folder.path().toStdString();
    QFile f(folder.filePath(journals[0]));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("\tProgrammstart\ttornelo\t"));
    EXPECT_FALSE(folder.exists(QStringLiteral("recovery.txt"))); // nothing to keep yet
}

} // namespace

namespace {
// A second copy under the same name and user says that the first runs and ends before it
// touches the journal, the recovery file or the settings; a lock left by a killed copy
// does not block the next start.
TEST(Program, SecondCopyEndsWithAMessageAndLeavesTheFirstsFilesAlone)
{
    if (qEnvironmentVariable("TORNELO_BIN_DIR").isEmpty())
        GTEST_SKIP() << "run through ctest";
    ProgramRun first;
    ASSERT_TRUE(first.startAndSettle());
    const QDir folder(first.data.path() + QStringLiteral("/Quendra/tornelo"));
    // The first copy's files as they are while it runs.
    const QString recovery = folder.filePath(QStringLiteral("recovery.txt"));
    QFile r(recovery);
    ASSERT_TRUE(r.open(QIODevice::WriteOnly));
    r.write("# des ersten\n");
    r.close();
    const QStringList journals = folder.entryList({QStringLiteral("journal-*.txt")}, QDir::Files);
    ASSERT_EQ(journals.size(), 1);
    auto bytesOf = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(fehlt)");
    };
    const QByteArray journal = bytesOf(folder.filePath(journals[0]));
    const QByteArray settings = bytesOf(first.confFile("tornelo"));

    for (int sig : {SIGTERM, SIGINT}) {
        QProcess second;
        second.setProcessEnvironment(first.proc.processEnvironment());
        second.start(first.exe, QStringList{});
        ASSERT_TRUE(second.waitForStarted(5000));
        QByteArray said;
        const QDeadlineTimer deadline(30000);
        while (!said.contains("Prozess") && !deadline.hasExpired() &&
               second.state() == QProcess::Running) {
            second.waitForReadyRead(500);
            said += second.readAllStandardError();
        }
        said += second.readAllStandardError();
        EXPECT_TRUE(QString::fromLocal8Bit(said).contains(
            QStringLiteral("läuft schon (Prozess %1)").arg(first.proc.processId())))
            << said.toStdString();
        // Its message box is open; the end of a session closes it.
        ::kill(pid_t(second.processId()), sig);
        ASSERT_TRUE(second.waitForFinished(10000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 1);
    }
    EXPECT_EQ(bytesOf(recovery), "# des ersten\n");
    EXPECT_EQ(bytesOf(folder.filePath(journals[0])), journal);
    EXPECT_EQ(bytesOf(first.confFile("tornelo")), settings);

    ::kill(pid_t(first.proc.processId()), SIGKILL);
    ASSERT_TRUE(first.proc.waitForFinished(5000));
    QFile::remove(recovery);
    ASSERT_TRUE(first.startAndSettle()); // the same folders: the dead copy's lock is gone
    ::kill(pid_t(first.proc.processId()), SIGTERM);
    ASSERT_TRUE(first.proc.waitForFinished(5000));
    EXPECT_EQ(first.proc.exitCode(), 0);
}
} // namespace

namespace {
// Ended by the session while the recovery question waits: the program ends as a close
// would, and the file waits for the next start as it was.
TEST(Program, TermSignalDuringTheRecoveryQuestionEndsItAndKeepsTheFile)
{
    if (qEnvironmentVariable("TORNELO_BIN_DIR").isEmpty())
        GTEST_SKIP() << "run through ctest";
    RecoveryFormat::State left;
    left.results.colCount = 3;
    left.results.rows = {{"Nr.", "Fahrer", "Zeit 1"}, {"12", "Meier", "10:00:01,00"}};
    left.pred.colCount = 3;
    left.pred.rows = {{"", "Zeit", "Nr."}, {"1", "10:00:02,00", ""}};
    left.written = QDateTime::currentDateTime();
    const QByteArray bytes = RecoveryFormat::encode(left);
    for (int sig : {SIGTERM, SIGINT}) {
        ProgramRun run;
        const QDir folder(run.data.path() + QStringLiteral("/Quendra/tornelo"));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        QFile f(folder.filePath(QStringLiteral("recovery.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        ASSERT_TRUE(run.startAndSettle()); // the live results answer while the question waits
        // The start line reaches the journal once the question's own loop runs.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const QString &j : folder.entryList({QStringLiteral("journal-*")})) {
                    QFile jf(folder.filePath(j));
                    if (jf.open(QIODevice::ReadOnly) && jf.readAll().contains("\tProgrammstart\t"))
                        return true;
                }
                return false;
            },
            10000));
        ::kill(pid_t(run.proc.processId()), sig);
        ASSERT_TRUE(run.proc.waitForFinished(2000)) << sig;
        EXPECT_EQ(run.proc.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.proc.exitCode(), 0);
        QFile kept(folder.filePath(QStringLiteral("recovery.txt")));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes);
        EXPECT_TRUE(folder.entryList({QStringLiteral("recovery-*")}).isEmpty());
    }
}
} // namespace
