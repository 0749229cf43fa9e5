#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// The real program, started headless with its own settings folder.
class ProgramRun
{
public:
    explicit ProgramRun(const QString &exeName = QStringLiteral("tornelo"))
    {
        const QString bin = qEnvironmentVariable("TORNELO_BIN_DIR");
        exe = bin + QStringLiteral("/tornelo");
        if (exeName != QStringLiteral("tornelo")) {
            // A copy under another name, as a user might make one.
            exe = binDir.path() + QLatin1Char('/') + exeName;
            QFile::copy(bin + QStringLiteral("/tornelo"), exe);
            QFile(exe).setPermissions(QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", config.path());
        proc.setProcessEnvironment(env);
    }

    bool startAndSettle()
    {
        proc.start(exe, {});
        if (!proc.waitForStarted(5000))
            return false;
        QTest::qWait(1200); // creation and the first paint
        return proc.state() == QProcess::Running;
    }

    QString confFile(const QString &app) const
    {
        return config.path() + QStringLiteral("/Quendra/") + app + QStringLiteral(".conf");
    }

    QTemporaryDir config;
    QTemporaryDir binDir;
    QString exe;
    QProcess proc;
};

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
        EXPECT_EQ(s.allKeys().size(), 15) << sig;
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
    EXPECT_TRUE(QFile::exists(run.confFile("Zeitnahme")));
    EXPECT_FALSE(QFile::exists(run.confFile("tornelo")));
}

} // namespace
