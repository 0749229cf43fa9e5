#pragma once

#include "formats/TableData.h"
#include "live/RecentEntries.h"

#include <QByteArray>
#include <QString>

// What the live results show: a copy of the results protocol and the last time taken,
// made on the UI thread after each change and read by the server's thread only.
struct LiveSnapshot
{
    QString title;         // the application title
    TableData results;     // row 0: Nr., Fahrer, Zeit 1..N
    QString lastTime;      // the last time taken as the tables show it, empty before the first
    QString lastTimeOfDay; // the same time of day with milliseconds (HH:MM:SS.mmm)
    std::vector<LiveEntry> entries; // the last times taken with their numbers, newest first
};

// The answers built from a snapshot. Pure functions, so they are tested without a server.
namespace LivePages {
// title, titles, timeTitles, textColumns, rows of number/driver/times, lastTime, entries;
// UTF-8.
QByteArray json(const LiveSnapshot &s);
// The results page for phones: the same table as the web page, refreshing itself from
// results.json; UTF-8, every cell text escaped. On a narrow screen the times follow the
// driver and the text columns come last.
QByteArray page(const LiveSnapshot &s);
// The display for a big screen at the finish: the last time in digits as wide as the
// screen, its start number, the last entries; refreshing itself from results.json.
QByteArray display(const LiveSnapshot &s);
// The columns after the driver (0 = the first of them) that hold texts rather than times:
// the extra columns of a starter list, which take the places of the first times.
QList<int> textColumns(const TableData &t);
// A small stopwatch icon (SVG).
QByteArray icon();
// A strong validator of the JSON answer.
QByteArray etag(const QByteArray &json);
} // namespace LivePages
