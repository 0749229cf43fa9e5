#pragma once

#include "formats/TextFormat.h"
#include "platform/FileDialog.h"
#include "platform/FileTypes.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

template <typename T> class QFutureWatcher;

class ITable;
class QWidget;

// Open and Save of the results protocol (text, spreadsheet, web page), and the page for
// the viewer and the printer.
class TFileCommands : public QObject
{
    Q_OBJECT
public:
    TFileCommands(ITable &results, QWidget *window, QObject *parent = nullptr);
    ~TFileCommands() override;

    enum class FileKind
    {
        None,
        Text,
        Sheet,
        Web
    };

    TFileTypeNames FileTypes;
    TFileDialog OpenDialog1{TFileDialog::OpenKind};
    TFileDialog SaveDialog1{TFileDialog::SaveKind};
    // Names the page's title and the fixed page file.
    QString applicationTitle;

    // What reads a text file on the worker thread (tests hold it back to look at the
    // window meanwhile).
    std::function<TextFormat::Loaded(const QString &fileName, int colCount,
                                     const QStringList &titles, const std::atomic_bool *stop)>
        textReader = TextFormat::load;

    // Start-up: file-type names, filters, proposed name and start folders.
    void readFileTypeNames();
    // Every type is offered; without LibreOffice, saving .xls says what to install.
    void buildFilters(bool officeAvailable);
    void proposeNames(const QString &executablePath);

    // What the entry (from 1) of each dialog stands for. The spreadsheet formats come
    // after the text (and, saving, the web page) entries, so that the entry numbers stored
    // by earlier versions keep their meaning.
    FileKind openEntryKind(int entry) const;
    FileKind saveEntryKind(int entry) const;
    // The spreadsheet format of a Sheet entry: "xls", "xlsx" or "ods".
    QString saveEntrySuffix(int entry) const;

    // What a file is written or read as. The entries are matched by what they stand for,
    // never by their number: the two dialogs number them differently.
    enum class Format
    {
        None,
        Text,
        Web,
        Xls,
        Xlsx,
        Ods
    };
    static bool isSheet(Format f)
    {
        return f == Format::Xls || f == Format::Xlsx || f == Format::Ods;
    }
    // "xls", "xlsx", "ods" for a spreadsheet format, else empty.
    static QString sheetSuffix(Format f);
    static Format sheetFormat(const QString &suffix);
    // The format a name's suffix asks for (.txt, .html/.htm, .xls, .xlsx, .ods); None for
    // any other.
    static Format formatOfName(const QString &fileName);
    Format openEntryFormat(int entry) const;
    Format saveEntryFormat(int entry) const;
    // The save dialog's entry for a format; 0 when it offers none.
    int saveEntryOf(Format f) const;
    // The format a save of this name under this entry writes: the name's own suffix wins.
    Format saveFormatFor(const QString &fileName, int entry) const;

    void sbOpenClick();
    void sbSaveClick();
    // Returns false after it has shown its error box.
    bool SaveProtocolText(const QString &fileName);
    // Reads and parses the file on a worker thread while the window goes on; the results
    // protocol is replaced only once the whole file has been read, and stays as it was when
    // the file is refused. finished tells the end. False when the file was refused at once
    // (its box shown) or another file is being read.
    bool LoadProtocolText(const QString &fileName);
    // A text file is being read: the results protocol is about to be replaced.
    bool busy() const { return m_reading != nullptr; }
    bool WriteHtmlReport(const QString &fileName);
    // 0 opens the page in the viewer, 1 prints it; anything else only writes it.
    void sbWebClick(int tag);
    // The fixed page file: the program's name with ".html", in the working folder (or
    // the cache folder when the working folder is read-only).
    QString webFileName() const;

    // Writes through a temporary file renamed over the old one: a failure on the way
    // leaves the previous file as it was. A target that exists but is not a file (a
    // device, a pipe) is refused. reason, if given, receives why it failed (German).
    static bool saveFile(const QString &fileName, const QByteArray &bytes,
                         QString *reason = nullptr);

signals:
    // A text file has been read into the results protocol, its last row current.
    void loaded(const QString &fileName);
    // The Save command has written the table as a text file as it was at revision.
    void saved(const QString &fileName, quint64 revision);
    // The Save command has written the table as a web page.
    void pageWritten(const QString &fileName);
    // A note for the status bar.
    void status(const QString &text);
    // The results protocol needs n time columns (a file being loaded holds more times per
    // car than it has); they must be there once this returns.
    void columnsNeeded(int n);
    // A spreadsheet was chosen to open, or to save under a name of the format suffix
    // (xls, xlsx, ods): the spreadsheet commands do that.
    void sheetOpenRequested(const QString &fileName);
    void sheetSaveRequested(const QString &fileName, const QString &suffix);
    // A text file is being read (with what the status bar says), or no longer.
    void busyChanged(bool busy, const QString &status);
    // At the end of every LoadProtocolText, after its error box if it failed.
    void finished(bool ok);

private:
    // What the worker gives: the file's table, and the text widths of the columns the
    // window fits, measured there too (a million cells take seconds to measure).
    struct WorkerResult
    {
        TextFormat::Loaded loaded;
        std::vector<std::pair<int, std::vector<int>>> widths;
    };
    // Something is connected to the signal (a sheet request nobody takes does nothing).
    template <typename Signal> bool heard(Signal signal) const;
    // The worker's answer, on the UI thread.
    void textRead(const QString &fileName, WorkerResult read);
    void endLoad(bool ok, const QString &error);
    bool writeError(const QString &fileName, const QString &reason = QString());
    bool readError(const QString &fileName);
    // A file being loaded holds this many times per car, more than the table has columns.
    void moreTimeColumns(int times);
    // What a file chosen in the open dialog under entry is: its own format where its name
    // or its first bytes tell, else the entry's.
    Format loadedFormat(const QString &fileName, int entry) const;

    ITable &m_results;
    QWidget *m_window;
    bool m_office = false;
    // The text file being read; its worker stops early when this object goes.
    QFutureWatcher<WorkerResult> *m_reading = nullptr;
    std::shared_ptr<std::atomic_bool> m_stop;
    // What the open dialog chose, for the save dialog once the file has been read.
    struct Chosen
    {
        QString fileName;
        int saveEntry = 0;
    };
    std::optional<Chosen> m_chosen;
};
