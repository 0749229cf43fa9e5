#pragma once

// Shared by the readers of formats/SheetReader; not for other callers.

#include "formats/SheetReader.h"

namespace Zip {
class Archive;
}

namespace SheetReaderParts {

// Gathers the rows of the table as a reader finds them, by the loading rules: the first
// row whose first cell is empty, or a row that is missing, ends the table.
class Rows
{
public:
    explicit Rows(int colCount) : m_colCount(colCount) {}
    // Row index (0 = the title row) with its cells; false once the table has ended.
    bool add(int index, QStringList cells);
    bool ended() const { return m_ended; }
    // Ended, or stopped as too large.
    bool done() const { return m_ended || m_tooLarge; }
    bool tooLarge() const { return m_tooLarge; }
    int colCount() const { return m_colCount; }
    std::vector<QStringList> take() { return std::move(m_rows); }

private:
    int m_colCount;
    std::vector<QStringList> m_rows;
    qint64 m_chars = 0;
    bool m_ended = false;
    bool m_tooLarge = false;
};

SheetReader::Result refused(const QString &why);
SheetReader::Result failed(const QString &why);
// The result of a reader that has stopped, by what rows saw.
SheetReader::Result finish(Rows &rows);

SheetReader::Result readXlsx(const Zip::Archive &zip, int colCount);
SheetReader::Result readOds(const Zip::Archive &zip, int colCount);

} // namespace SheetReaderParts
