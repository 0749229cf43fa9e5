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
