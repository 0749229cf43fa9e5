#pragma once

#include "platform/Timer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLockFile;
class QProcess;

// The spreadsheet application: LibreOffice without a window, one instance per command,
// started and awaited without blocking the UI thread. Its private profile keeps a
// LibreOffice the user has open out of the way (and out of our jobs).
class SpreadsheetApp : public QObject
{
    Q_OBJECT
public:
    explicit SpreadsheetApp(QObject *parent = nullptr);
    // Ends a running instance; its result is never delivered.
    ~SpreadsheetApp() override;

    // soffice or libreoffice on the PATH; empty when neither is there.
    static QString executable();
    static bool available() { return !executable().isEmpty(); }
    // Tests: this program instead of the one on the PATH ("-" for none at all).
    static void setExecutableForTesting(const QString &path);

    struct Result
    {
        bool ok = false;
        QString outputFile; // the converted file, when ok
        QString message;    // what went wrong, in German, with LibreOffice's own words
    };
    using Done = std::function<void(const Result &)>;

    // Converts input with LibreOffice's --convert-to argument into outDir (a folder of
    // this command's own). done runs later on this object's thread, exactly once.
    // Returns false, without calling done, while another command runs.
    bool convert(const QString &input, const QString &convertTo, const QString &outDir, Done done);
    bool busy() const { return m_busy; }

    // A command that takes longer is ended and fails.
    static constexpr int TimeLimitMs = 60000;
    void setTimerFactory(TimerFactory f) { m_makeTimer = std::move(f); }
    // The timer of the running command (tests fire it).
    ITimer *limitTimer() const { return m_limit.get(); }

private:
    QString profileFolder();
    void finish(const Result &r);
    void killInstance();

    TimerFactory m_makeTimer = makeQtTimer;
    QProcess *m_proc = nullptr;
    bool m_busy = false;
    std::unique_ptr<ITimer> m_limit;
    Done m_done;
    QString m_outDir;
    QString m_profile;
    std::unique_ptr<QLockFile> m_profileLock;
};
