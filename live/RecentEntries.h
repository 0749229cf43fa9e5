#pragma once

#include "formats/TableData.h"

#include <deque>
#include <vector>

// One time taken as the finish display shows it: the time and, once the operator typed
// it, the car's start number.
struct LiveEntry
{
    QString time;
    QString number;
    bool operator==(const LiveEntry &o) const = default;
};

// The last times taken, followed through the tables by their text. While its entry is in
// the intermediate protocol (time in column 1, "Nr." in column 2) the number comes from
// there; once the entry is moved into the results protocol, from the row it landed in. A
// time found in neither was dropped (an unnumbered entry deleted, a new protocol) and is
// not shown.
class RecentEntries
{
public:
    static constexpr int Shown = 10;

    void taken(const QString &time);
    // Newest first, at most Shown.
    std::vector<LiveEntry> follow(const TableData &pred, const TableData &results) const;

private:
    // Oldest first. More than are shown, so that dropped entries leave older ones in view.
    std::deque<QString> m_taken;
};
