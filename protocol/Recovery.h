#pragma once

#include "formats/TableData.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

// The recovery file: both protocols cell by cell, so that they come back exactly as they
// were after a crash. Plain text (UTF-8): a few header lines, then each table as a line
// "Ergebnisprotokoll" / "Zwischenprotokoll" with its column and row count, followed by
// one line per row (cells separated by TAB, escaped as in the journal), and "Ende".
namespace RecoveryFormat {
enum RunState
{
    Idle,
    Running,
    Stopped
};
// The run as the window had it: after a restart the next pass is taken as before the crash.
struct Run
{
    RunState state = Idle;
    bool barrierFree = false;
    bool operator==(const Run &) const = default;
};

struct State
{
    TableData results;
    TableData pred;
    // The results protocol was saved after its last change.
    bool saved = false;
    QDateTime written;
    // Files of earlier versions have none: idle and locked, as a start.
    Run run;
};

QByteArray encode(const State &s);
// The lines before the tables: the comment, when it was written, saved, the run.
QByteArray head(bool saved, const QDateTime &written, const Run &run);
QByteArray encode(const TableData &results, const TableData &pred, bool saved,
                  const QDateTime &written, const Run &run = Run());
// Nothing when the bytes are not a whole recovery file.
std::optional<State> decode(const QByteArray &bytes);
// Something in either table that a clean start would lose.
bool hasData(const State &s);
// No data row holds a cell that is not blank (the titles do not count).
bool tableEmpty(const TableData &t);

// An entry brought back from the journal: its time, and the start number it was moved
// into the results protocol under, if it was.
struct Entry
{
    QString time;
    QString number;
    bool operator==(const Entry &) const = default;
};
// The times of a day's journal (read whole) taken from sinceMs (milliseconds since
// midnight) on that were not dropped or cleared on the way and that neither table of s
// holds: the passes of the last moments before a crash that the recovery file had not
// caught up with. In the journal's order.
QList<Entry> entriesMissing(const State &s, const QByteArray &journal, qint32 sinceMs);
// The intermediate protocol with those entries appended (numbered ones ready for Insert).
void appendEntries(TableData &pred, const QList<Entry> &entries);

// The file is read at start-up only; a larger one is not ours.
constexpr qint64 MaxFileBytes = 256 * 1024 * 1024;
} // namespace RecoveryFormat
