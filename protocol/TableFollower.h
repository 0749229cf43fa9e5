#pragma once

#include "protocol/RecoveryMirror.h"
#include "protocol/Table.h"

#include <QObject>

#include <set>
#include <vector>

// The rows of one table that changed since they were last taken, followed through the
// table's changed() notices: what a copy elsewhere needs is read from the table only for
// those rows, so following a long table costs what changed, not its length.
class TTableFollower : public QObject
{
public:
    explicit TTableFollower(ITable &table);

    // What changed since the last call (the first time: the whole table), with the texts
    // as they are now.
    TableChanges take();

private:
    void note(const TableChange &c);
    // Rows marked so far are read now, before their indices change.
    void settle();

    ITable &m_table;
    // Until the first take and after changes to the columns or the order of the rows.
    bool m_whole = true;
    std::vector<TableChanges::Op> m_ops;
    std::set<int> m_dirty;
};
