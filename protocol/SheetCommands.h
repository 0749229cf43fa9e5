#pragma once

#include "platform/Spreadsheet.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTemporaryDir;
class QWidget;
class TSortGrid;

// Loading the results protocol from a spreadsheet file and saving it as one, through the
// spreadsheet application. A conversion takes seconds: it runs while the window goes on
// (display, light barrier, tables); the table changes only when it has finished.
class TSheetCommands : public QObject
{
    Q_OBJECT
public:
    TSheetCommands(TSortGrid &results, QWidget *window, QObject *parent = nullptr);
    ~TSheetCommands() override;

    // Names the sheet and the document's subject.
    QString applicationTitle;
    std::function<void()> layoutColumns;
    std::function<void()> updateFileButtons;
    // While a conversion runs: busy true with what the status bar says; false at its end.
    std::function<void(bool busy, const QString &status)> showBusy;
    // A file has been loaded into the results protocol; a save has been put in place,
    // holding the table as it was at revision (its contentRevision when the save began).
    std::function<void(const QString &fileName)> loaded;
    std::function<void(const QString &fileName, quint64 revision)> saved;

    void LoadProtocolSheet(const QString &fileName);
    // suffix (xls, xlsx, ods) chooses the format; empty: the name's own suffix.
    void SaveProtocolSheet(const QString &fileName, const QString &suffix = QString());
    bool busy() const;
    // A load is running: the results protocol is about to be replaced.
    bool loading() const { return busy() && m_loading; }

    // LibreOffice's --convert-to argument for a suffix (xlsx, ods; anything else is
    // written as Excel 97).
    static QString convertToFor(const QString &suffix);

    SpreadsheetApp &application() { return m_app; }

signals:
    // At the end of every command, after its error box if it failed.
    void finished(bool ok);

private:
    void end(bool ok, const QString &error);
    bool prepare(const QString &status);
    void install(const QString &converted, const QString &target, quint64 revision);

    TSortGrid &m_results;
    QWidget *m_window;
    SpreadsheetApp m_app;
    std::unique_ptr<QTemporaryDir> m_work;
    bool m_running = false;
    bool m_loading = false;
};
