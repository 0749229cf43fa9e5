#include "platform/Spreadsheet.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <csignal>
#include <unistd.h>

namespace {
QString &testExecutable()
{
    static QString path;
    return path;
}

// What LibreOffice said, without the start-up chatter that is not about the file.
QString ownWords(const QByteArray &output)
{
    QStringList lines;
    for (const QString &l : QString::fromLocal8Bit(output).split(QLatin1Char('\n'))) {
        const QString t = l.trimmed();
        if (t.isEmpty() || t.contains(QLatin1String("javaldx")) ||
            t.startsWith(QLatin1String("convert ")))
            continue;
        lines << t;
    }
    return lines.join(QLatin1Char(' '));
}
} // namespace

SpreadsheetApp::SpreadsheetApp(QObject *parent) : QObject(parent) {}

SpreadsheetApp::~SpreadsheetApp()
{
    m_done = nullptr;
    killInstance();
}

QString SpreadsheetApp::executable()
{
    const QString t = testExecutable();
    if (t == QLatin1String("-"))
        return {};
    if (!t.isEmpty())
        return t;
    for (const char *name : {"soffice", "libreoffice"}) {
        const QString p = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!p.isEmpty())
            return p;
    }
    return {};
}

void SpreadsheetApp::setExecutableForTesting(const QString &path)
{
    testExecutable() = path;
}

QString SpreadsheetApp::profileFolder()
{
    if (!m_profile.isEmpty())
        return m_profile;
    // One profile per running program, kept between its commands (a new profile costs
    // seconds); a second copy of the program takes the next free one.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(base);
    for (int n = 0; n < 100; ++n) {
        const QString folder = base + QStringLiteral("/libreoffice-profile-%1").arg(n);
        auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_profileLock = std::move(lock);
            m_profile = folder;
            return m_profile;
        }
    }
    m_profile = base + QStringLiteral("/libreoffice-profile-%1").arg(::getpid());
    return m_profile;
}

bool SpreadsheetApp::convert(const QString &input, const QString &convertTo, const QString &outDir,
                             Done done)
{
    if (m_busy)
        return false;
    m_busy = true;
    m_done = std::move(done);
    m_outDir = outDir;
    const QString program = executable();
    if (program.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                finish({false,
                        {},
                        QStringLiteral("LibreOffice ist nicht installiert (Paket "
                                       "libreoffice-calc-nogui).")});
            },
            Qt::QueuedConnection);
        return true;
    }

    m_proc = new QProcess(this);
    m_proc->setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that the time limit ends LibreOffice's helper processes too.
    m_proc->setChildProcessModifier([] { ::setpgid(0, 0); });
    m_proc->setProgram(program);
    m_proc->setArguments(
        {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profileFolder()).toString(),
         QStringLiteral("--headless"), QStringLiteral("--invisible"), QStringLiteral("--nologo"),
         QStringLiteral("--norestore"), QStringLiteral("--nolockcheck"),
         QStringLiteral("--convert-to"), convertTo, QStringLiteral("--outdir"), outDir, input});
    QProcess *proc = m_proc;
    connect(proc, &QProcess::finished, this, [this, proc](int code, QProcess::ExitStatus status) {
        if (proc != m_proc)
            return;
        const QString said = ownWords(proc->readAll());
        QStringList made = QDir(m_outDir).entryList(QDir::Files | QDir::NoDotAndDotDot);
        if (status == QProcess::NormalExit && code == 0 && made.size() == 1 &&
            QFileInfo(m_outDir + QLatin1Char('/') + made.first()).size() > 0) {
            finish({true, m_outDir + QLatin1Char('/') + made.first(), QString()});
            return;
        }
        QString msg = QStringLiteral("LibreOffice konnte die Datei nicht umwandeln");
        msg += said.isEmpty() ? QStringLiteral(" (Ende mit Code %1).").arg(code)
                              : QStringLiteral(": ") + said;
        finish({false, {}, msg});
    });
    connect(proc, &QProcess::errorOccurred, this, [this, proc](QProcess::ProcessError e) {
        if (proc != m_proc || e != QProcess::FailedToStart)
            return;
        finish({false,
                {},
                QStringLiteral("LibreOffice kann nicht gestartet werden: ") + proc->errorString()});
    });
    m_limit = m_makeTimer();
    m_limit->setSingleShot(true);
    m_limit->onTimeout = [this] {
        killInstance();
        finish({false,
                {},
                QStringLiteral("LibreOffice hat nach %1 Sekunden nicht geantwortet und wurde "
                               "beendet.")
                    .arg(TimeLimitMs / 1000)});
    };
    m_limit->start(TimeLimitMs);
    m_proc->start();
    return true;
}

void SpreadsheetApp::killInstance()
{
    if (!m_proc)
        return;
    QProcess *proc = m_proc;
    m_proc = nullptr;
    proc->disconnect(this);
    if (proc->state() == QProcess::NotRunning) {
        proc->deleteLater();
        return;
    }
    const qint64 pid = proc->processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    // Reaped when it is gone; nothing here waits for it, not even our destructor.
    proc->setParent(nullptr);
    connect(proc, &QProcess::finished, proc, &QObject::deleteLater);
}

void SpreadsheetApp::finish(const Result &r)
{
    m_busy = false;
    if (m_limit)
        m_limit->stop();
    if (m_proc) {
        m_proc->disconnect(this);
        m_proc->deleteLater();
        m_proc = nullptr;
    }
    Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(r);
}
