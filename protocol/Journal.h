#pragma once

#include "platform/Clock.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The journal: one plain-text file per day, one line per event, fields separated by TAB.
// The first field is the moment of the event (HH:MM:SS.mmm), the second says what happened.
namespace JournalFormat {
// "10:15:22.318": the time of day to the millisecond.
QString moment(const TimeOfDay &t);
// A field as it stands in a line: backslash, TAB, CR and LF written as \\, \t, \r, \n, so
// that every event stays one line whatever a file name or a cell holds.
QString escape(const QString &field);
QString unescape(const QString &field);
// The fields joined by TAB, each escaped; no line end.
QString line(const QStringList &fields);
// The fields of a line as they were before escaping.
QStringList fields(const QString &line);
// The fields of a time's line after the moment: "Zeit", the time text, where it came
// from and the port ("-" for a key or the mouse). "Lichtschranke 4+6 COM5" is split into
// the pin pair and the port.
QStringList timeFields(const QString &timeText, const QString &source);
// "HH:MM:SS.mmm" of a moment given in milliseconds since midnight.
QString momentText(qint32 momentMs);
// "journal-2026-12-08.txt"
QString fileName(const QDate &day);
// The day a line belongs to, written at now: a pass stamped just before midnight and
// written just after it still belongs to the day that ended.
QDate dayOf(const QDateTime &now, qint32 momentMs);
} // namespace JournalFormat

// Appends lines to the day's journal and writes the recovery file, each on a thread of its
// own: the caller (the UI thread) only queues and wakes. Each batch of lines is made durable
// (fdatasync) as soon as it is written, so a line is on the disk the disk's own time after
// the wake. The threads sleep until they are handed work or a retry is due. The recovery file is
// replaced atomically (a temporary file, fsync, rename).
class TJournalWriter
{
public:
    // folder: where the journal files and the recovery file live; created when missing.
    explicit TJournalWriter(const QString &folder, const QString &recoveryName);
    // Writes what is queued, then ends the threads.
    ~TJournalWriter();
    TJournalWriter(const TJournalWriter &) = delete;
    TJournalWriter &operator=(const TJournalWriter &) = delete;

    QString folder() const { return m_folder; }
    QString recoveryPath() const;

    // Queues one line for the day of momentMs: the moment, then fields. Returns its number,
    // counted from 1. Never waits for the disk; the line is made on the writer's thread.
    quint64 append(qint32 momentMs, QStringList fields);
    // Queues the line of a taken time (see JournalFormat::timeFields). The cheapest way in:
    // two shared strings are queued.
    quint64 appendTime(const TimeOfDay &t, const QString &timeText, const QString &source);
    // The recovery file's next contents, made on the writer thread; only the latest
    // request that is still waiting is carried out.
    void writeRecovery(std::function<QByteArray()> contents);
    // Has the queued lines written. Queueing does not wake the writer (a system call and
    // often a core for the caller); the caller wakes it when it has time, after the event
    // that made the lines. Without a wake the lines wait for the next one or a flush.
    void wake();
    // Removes the recovery file; a write still waiting is dropped.
    void removeRecovery();
    // Waits until everything queued so far is written or has failed; false after timeoutMs.
    bool flush(int timeoutMs);

    // The journal and the recovery file, each with its own trouble.
    enum class Part
    {
        Journal,
        Recovery
    };
    // Called on the writer's threads. onError: once when writing a part starts to fail, with
    // the file and the reason; onRecovered: once when that part is written again.
    // onDurable: lines up to this number are on the disk.
    // onRecoveryWritten: a recovery request has been carried out (true) or failed.
    // Set them before the first line is queued.
    std::function<void(Part part, const QString &error)> onError;
    std::function<void(Part part)> onRecovered;
    std::function<void(quint64 line)> onDurable;
    std::function<void(bool ok)> onRecoveryWritten;
    // The wall clock the writer dates its lines by (tests move it to midnight).
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    // Lines kept for another try while the journal cannot be written; older ones beyond
    // this are dropped (and were reported).
    static constexpr size_t MaxPending = 100000;
    // After a failure the next try comes this much later.
    static constexpr int RetryMs = 1000;

private:
    struct Line
    {
        quint64 number = 0;
        qint32 momentMs = 0;
        // A taken time (timeText, source) or an event (fields).
        bool time = false;
        QString timeText;
        QString source;
        QStringList fields;
    };
    quint64 queue(Line &&line);
    static QByteArray text(const Line &line);
    enum class RecoveryOp
    {
        None,
        Write,
        Remove
    };

    void run();
    void runRecovery();
    bool writeLines(const std::vector<Line> &lines);
    bool openDay(const QDate &day);
    bool carryOutRecovery(RecoveryOp op, const std::function<QByteArray()> &contents);
    void fail(Part part, const QString &what, int error);
    void succeeded(Part part);
    void ensureFolder();

    const QString m_folder;
    const QString m_recoveryName;

    // The journal: shared with its thread, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::vector<Line> m_queue;
    quint64 m_queued = 0; // lines queued so far
    quint64 m_done = 0;   // lines written or given up
    bool m_stop = false;
    bool m_flushWanted = false;
    bool m_woken = false;

    // The recovery file has a thread of its own, so that writing a large one never holds
    // up a journal line. Under m_recoveryMutex.
    std::mutex m_recoveryMutex;
    std::condition_variable m_recoveryWake;
    std::condition_variable m_recoveryIdle;
    RecoveryOp m_recoveryOp = RecoveryOp::None;
    std::function<QByteArray()> m_recoveryContents;
    quint64 m_recoveryRequests = 0;
    quint64 m_recoveryDone = 0;
    bool m_recoveryStop = false;

    // The journal thread's own.
    int m_fd = -1;
    QDate m_fdDay;
    std::vector<Line> m_retry;

    // Whether each part is failing now, so that a failure is said once and its end once.
    std::atomic<bool> m_failing[2] = {false, false};
    // The journal thread's own: something of the current batch failed.
    bool m_batchFailed = false;

    std::thread m_thread;
    std::thread m_recoveryThread;
};
