#pragma once

#include "tests/support/FreePort.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The real program, started headless with a settings folder of its own. Every port it
// could probe at start-up (COM1 to COM16) is mapped into an empty folder of this run, so
// the program never opens the machine's serial devices (/dev/ttyS0 may be the console);
// a test that wants a port maps it with mapPort(). Tests start the program only through
// this class.
class ProgramRun
{
public:
    explicit ProgramRun(const QString &exeName = QStringLiteral("tornelo")) : name(exeName)
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
        env.insert("XDG_DATA_HOME", data.path()); // journal and recovery file
        proc.setProcessEnvironment(env);
        for (int n = 1; n <= 16; ++n)
            mapPort(n, devices.path() + QStringLiteral("/ttyCOM%1").arg(n));
    }
    ~ProgramRun()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    // The device path port COMn opens (a "sim:" path for the simulated barrier).
    void mapPort(int n, const QString &path)
    {
        setValue(QStringLiteral("Devices/COM%1").arg(n), path);
    }
    void setValue(const QString &key, const QVariant &value)
    {
        QSettings s(confFile(name), QSettings::IniFormat);
        s.setValue(key, value);
    }

    bool start(const QStringList &args = {})
    {
        proc.start(exe, args);
        return proc.waitForStarted(5000);
    }
    // Starts the program and waits until its window exists and its signal handling is in
    // place: it runs with the live results on a free local port, and that port answering
    // is the sign (the server starts after both).
    bool startAndSettle(QStringList args = {})
    {
        const quint16 port = freeListenPort();
        if (port == 0)
            return false;
        args << QStringLiteral("--live=%1").arg(port);
        if (!start(args))
            return false;
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && proc.state() == QProcess::Running) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(500))
                return true;
            proc.waitForFinished(100); // returns at once when it ends
        }
        return false;
    }

    QString confFile(const QString &app) const
    {
        return config.path() + QStringLiteral("/Quendra/") + app + QStringLiteral(".conf");
    }

    QString name;
    QTemporaryDir config;
    QTemporaryDir data;
    QTemporaryDir binDir;
    QTemporaryDir devices; // stays empty: no port is found there
    QString exe;
    QProcess proc;
};
