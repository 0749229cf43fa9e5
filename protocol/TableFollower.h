#pragma once

#include "protocol/RecoveryMirror.h"
#include "widgets/SortGrid.h"

#include <QObject>

#include <set>
#include <vector>

// The rows of one grid that changed since they were last taken, followed through the
// grid's change notices: what a copy elsewhere needs is read from the grid only for those
// rows, so following a long table costs what changed, not its length.
class TGridChanges : public QObject
{
public:
    explicit TGridChanges(TMyStringGrid &grid);

    // What changed since the last call (the first time: the whole table), with the texts
    // as they are now.
    TableChanges take();

private:
    void note(const TMyStringGrid::TContentChange &c);
    // Rows marked so far are read now, before their indices change.
    void settle();

    TMyStringGrid &m_grid;
    // Until the first take and after changes to the columns or the order of the rows.
    bool m_whole = true;
    std::vector<TableChanges::Op> m_ops;
    std::set<int> m_dirty;
};
