#pragma once

#include "platform/Clock.h"
#include "platform/Timer.h"
#include "protocol/Journal.h"
#include "protocol/Recovery.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class ITable;
class TRecoveryMirror;
class TTableFollower;

// Keeps what the window takes beyond a crash: every time and every command that changes
// the protocols goes into the day's journal, and both protocols into the recovery file
// shortly after each change. At start-up a recovery file left by a crash is offered back.
// Runs on the UI thread; the disk is written by the journal's own thread.
class TSafekeeping : public QObject
{
    Q_OBJECT
public:
    TSafekeeping(ITable &pred, ITable &results, IClock &clock, const QString &folder,
                 QObject *parent = nullptr);
    ~TSafekeeping() override;

    // The user's data folder of this program (its name follows the executable's).
    static QString defaultFolder();
    static constexpr const char *RecoveryName = "recovery.txt";
    // Under a stream of changes the recovery file is written at most this often.
    static constexpr int CheckMs = 1000;

    void setTimerFactory(TimerFactory f) { m_makeTimer = std::move(f); }

    // Asks "Letztes Protokoll wiederherstellen?"; true for yes.
    std::function<bool()> askRestore;
    // The chronometer's state and the barrier lock, kept with the tables.
    std::function<RecoveryFormat::Run()> runState;

    // Writes the start line, offers a recovery file that holds data, then keeps.
    // priority: how the light barrier's worker is scheduled, for the start line.
    void start(const QString &programName, const QString &version,
               const QString &priority = QString());
    // A clean close: the recovery file goes when nothing would be lost (the intermediate
    // protocol empty, the results protocol empty or saved), else it is brought up to date.
    // Waits until the journal's thread has written everything.
    void close();

    // The window's events.
    void timeTaken(const QString &timeText, const TimeOfDay &t, const QString &source);
    // A command that changed the tables (its name and details, from the tables).
    void command(const QStringList &event);
    void loaded(const QString &fileName);
    // A pass of the light barrier that took no time: its moment, time text, pin pair,
    // port and why.
    void passIgnored(const TimeOfDay &t, const QString &timeText, const QString &pair,
                     const QString &port, const QString &reason);
    // The run state changed (START, STOPP, RESET, the barrier lock): the recovery file
    // follows at once.
    void stateChanged();
    // The results protocol was saved as it was at revision.
    void saved(const QString &fileName, quint64 revision);

    // Hands what changed to the recovery file.
    void checkNow();
    bool resultsSaved() const;

    TJournalWriter *writer() const { return m_writer.get(); }
    QString folder() const { return m_folder; }
    QString recoveryPath() const;
    // The recovery file's name when it is set aside: with the date and time it was written.
    static QString asideName(const QDateTime &written);

signals:
    // Both tables must be put back as the recovery file has them, before this returns.
    void restoreRequested(const RecoveryFormat::State &state);
    // A message for the status bar.
    void status(const QString &text);

private:
    void journalNow(const QStringList &fields);
    // Reads a recovery file left by a crash (one that is broken or empty is set aside or
    // removed); nothing when there is none to offer.
    std::optional<RecoveryFormat::State> readRecovery();
    // Journals the start line and offers the recovery file.
    void offerRecovery(const QStringList &startLine);
    // Times of the journal that the recovery file had not caught up with before the crash.
    QList<RecoveryFormat::Entry> journalledSince(const RecoveryFormat::State &state) const;
    QString setAside(const RecoveryFormat::State *state);
    // A change of either table: the file follows, at most about once a second.
    void tablesChanged();
    // The journal's thread writes the lines queued by this event once the event is handled.
    void wakeSoon();
    static bool hasData(const ITable &t);

    ITable &m_pred;
    ITable &m_results;
    IClock &m_clock;
    QString m_folder;
    std::unique_ptr<TJournalWriter> m_writer;
    TimerFactory m_makeTimer = makeQtTimer;
    std::unique_ptr<ITimer> m_soon;
    std::unique_ptr<ITimer> m_cooldown;
    bool m_wakeQueued = false;
    // Revision of the results protocol when it was last saved.
    std::optional<quint64> m_savedRevision;
    // Something changed since the file was last handed its changes.
    bool m_pending = false;
    std::shared_ptr<TRecoveryMirror> m_mirror;
    std::unique_ptr<TTableFollower> m_predChanges;
    std::unique_ptr<TTableFollower> m_resultsChanges;
    bool m_keeping = false;
    // The recovery file could not be read or set aside: it is left as it is.
    bool m_recoveryOff = false;
};
