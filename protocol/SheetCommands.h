#pragma once

#include "platform/Spreadsheet.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ITable;
class QTemporaryDir;
class QWidget;
struct TableData;
namespace SheetReader {
struct Result;
}

// Loading the results protocol from a spreadsheet file and saving it as one. .xlsx and
// .ods are read and written by our own code, .xls is read by freexl; LibreOffice writes
// .xls and reads what our readers refuse. Every command runs while the window goes on
// (display, light barrier, tables); the table changes only when it has finished.
class TSheetCommands : public QObject
{
    Q_OBJECT
public:
    TSheetCommands(ITable &results, QWidget *window, QObject *parent = nullptr);
    ~TSheetCommands() override;

    // Names the sheet and the document's subject.
    QString applicationTitle;

    void LoadProtocolSheet(const QString &fileName);
    // suffix (xls, xlsx, ods) chooses the format; empty: the name's own suffix.
    void SaveProtocolSheet(const QString &fileName, const QString &suffix = QString());
    bool busy() const;
    // A load is running: the results protocol is about to be replaced.
    bool loading() const { return busy() && m_loading; }

    SpreadsheetApp &application() { return m_app; }

signals:
    // While a command runs: busy true with what the status bar says; false at its end,
    // with a note for the status bar (usually none).
    void busyChanged(bool busy, const QString &status);
    // A file has been loaded into the results protocol, its first row current.
    void loaded(const QString &fileName);
    // A save has been put in place, holding the table as it was at revision (its revision
    // when the save began).
    void saved(const QString &fileName, quint64 revision);
    // At the end of every command, after its error box if it failed.
    void finished(bool ok);

private:
    void end(bool ok, const QString &error, const QString &note = QString());
    void refuse(const QString &message);
    bool prepare(const QString &status);
    // Runs work on a worker thread and then done on ours; never done once we are gone.
    template <class T> void background(std::function<T()> work, std::function<void(T)> done);
    void loadRead(const QString &fileName, const SheetReader::Result &r, bool throughOffice);
    void loadThroughOffice(const QString &fileName, const SheetReader::Result &native);
    void applyRead(const QString &fileName, const SheetReader::Result &r);
    void apply(const TableData &table, const QString &fileName, const QString &note);
    void saveThroughOffice(const QString &fileName, const TableData &table, quint64 revision);

    ITable &m_results;
    QWidget *m_window;
    SpreadsheetApp m_app;
    std::unique_ptr<QTemporaryDir> m_work;
    bool m_running = false;
    bool m_loading = false;
    int m_colCount = 0;
};
