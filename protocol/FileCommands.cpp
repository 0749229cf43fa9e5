#include "protocol/FileCommands.h"

#include "formats/Cp1252.h"
#include "formats/HtmlReport.h"
#include "formats/SheetFormat.h"
#include "formats/TextFormat.h"
#include "platform/ErrorBox.h"
#include "platform/Folders.h"
#include "platform/Shell.h"
#include "platform/SystemError.h"
#include "protocol/ProtocolTables.h"
#include "protocol/Table.h"

#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMetaMethod>
#include <QSaveFile>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <sys/stat.h>

namespace {
enum class PathKind
{
    Missing,
    Regular,
    Other
};

// What a name stands for, links followed. A link that leads nowhere counts as another
// kind of thing: writing through it would create a file somewhere else.
PathKind pathKind(const QString &fileName)
{
    const QByteArray path = QFile::encodeName(fileName);
    struct stat st = {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
    return ::lstat(path.constData(), &st) == 0 ? PathKind::Other : PathKind::Missing;
}

// What the table measures of a file's rows, measured on the worker. False when stop was
// set on the way.
bool measureWidths(const TableData &t, const std::vector<ITable::ColumnMeasure> &measures,
                   const std::atomic_bool &stop,
                   std::vector<std::pair<int, std::vector<int>>> &widths)
{
    for (const ITable::ColumnMeasure &m : measures) {
        if (m.col >= t.colCount)
            continue;
        std::vector<int> w;
        if (!m.measure(t.rows, stop, w))
            return false;
        widths.emplace_back(m.col, std::move(w));
    }
    return true;
}
} // namespace

TFileCommands::TFileCommands(ITable &results, QWidget *window, QObject *parent)
    : QObject(parent), m_results(results), m_window(window)
{}

template <typename Signal> bool TFileCommands::heard(Signal signal) const
{
    return isSignalConnected(QMetaMethod::fromSignal(signal));
}

TFileCommands::~TFileCommands()
{
    // A worker still reading gives up at its next look; nobody waits for it here.
    if (m_stop)
        *m_stop = true;
}

void TFileCommands::readFileTypeNames()
{
    FileTypes.read();
}

void TFileCommands::buildFilters(bool officeAvailable)
{
    // Every spreadsheet type is offered: .xlsx and .ods are read and written without
    // LibreOffice, .xls is read without it. Only saving .xls needs it, and says so.
    m_office = officeAvailable;
    const QString text = FileTypes.text + QStringLiteral(" (*.txt)|*.txt");
    const QString xls = QStringLiteral("|") + FileTypes.sheet + QStringLiteral(" (*.xls)|*.xls");
    const QString more = QStringLiteral("|") + FileTypes.sheetXlsx +
                         QStringLiteral(" (*.xlsx)|*.xlsx|") + FileTypes.sheetOds +
                         QStringLiteral(" (*.ods)|*.ods");
    const QString web = QStringLiteral("|") + FileTypes.web + QStringLiteral(" (*.html)|*.html");
    OpenDialog1.Filter = text + xls + more;
    SaveDialog1.Filter = text + xls + web + more;
}

void TFileCommands::proposeNames(const QString &executablePath)
{
    const QFileInfo exe(executablePath);
    // Installed, the program's folder is read-only: the user's documents are then the
    // sensible place to start.
    const QString start = Folders::writableOrDocuments(exe.absolutePath());
    OpenDialog1.InitialDir = start;
    OpenDialog1.FilterIndex = 1;
    OpenDialog1.DefaultExt = QStringLiteral("txt");
    SaveDialog1.InitialDir = start;
    SaveDialog1.FileName = exe.completeBaseName() + QStringLiteral(".txt");
    SaveDialog1.DefaultExt = QStringLiteral("txt");
}

QString TFileCommands::sheetSuffix(Format f)
{
    switch (f) {
    case Format::Xls:
        return QStringLiteral("xls");
    case Format::Xlsx:
        return QStringLiteral("xlsx");
    case Format::Ods:
        return QStringLiteral("ods");
    default:
        return QString();
    }
}

TFileCommands::Format TFileCommands::sheetFormat(const QString &suffix)
{
    const QString s = suffix.toLower();
    if (s == QLatin1String("xls"))
        return Format::Xls;
    if (s == QLatin1String("xlsx"))
        return Format::Xlsx;
    if (s == QLatin1String("ods"))
        return Format::Ods;
    return Format::None;
}

TFileCommands::Format TFileCommands::formatOfName(const QString &fileName)
{
    const QString s = QFileInfo(fileName).suffix().toLower();
    if (s == QLatin1String("txt"))
        return Format::Text;
    if (s == QLatin1String("html") || s == QLatin1String("htm"))
        return Format::Web;
    return sheetFormat(s);
}

TFileCommands::Format TFileCommands::openEntryFormat(int entry) const
{
    switch (entry) {
    case 1:
        return Format::Text;
    case 2:
        return Format::Xls;
    case 3:
        return Format::Xlsx;
    case 4:
        return Format::Ods;
    default:
        return Format::None;
    }
}

TFileCommands::Format TFileCommands::saveEntryFormat(int entry) const
{
    // 1 text, 2 xls, 3 web page stay where earlier versions stored them.
    switch (entry) {
    case 1:
        return Format::Text;
    case 2:
        return Format::Xls;
    case 3:
        return Format::Web;
    case 4:
        return Format::Xlsx;
    case 5:
        return Format::Ods;
    default:
        return Format::None;
    }
}

int TFileCommands::saveEntryOf(Format f) const
{
    for (int entry = 1; entry <= SaveDialog1.entryCount(); ++entry)
        if (saveEntryFormat(entry) == f)
            return entry;
    return 0;
}

TFileCommands::Format TFileCommands::saveFormatFor(const QString &fileName, int entry) const
{
    const Format named = formatOfName(fileName);
    return named != Format::None ? named : saveEntryFormat(entry);
}

TFileCommands::FileKind TFileCommands::openEntryKind(int entry) const
{
    const Format f = openEntryFormat(entry);
    return f == Format::Text ? FileKind::Text : isSheet(f) ? FileKind::Sheet : FileKind::None;
}

TFileCommands::FileKind TFileCommands::saveEntryKind(int entry) const
{
    const Format f = saveEntryFormat(entry);
    if (f == Format::Text)
        return FileKind::Text;
    if (f == Format::Web)
        return FileKind::Web;
    return isSheet(f) ? FileKind::Sheet : FileKind::None;
}

QString TFileCommands::saveEntrySuffix(int entry) const
{
    return sheetSuffix(saveEntryFormat(entry));
}

TFileCommands::Format TFileCommands::loadedFormat(const QString &fileName, int entry) const
{
    QFile f(fileName);
    const QByteArray head = f.open(QIODevice::ReadOnly) ? f.read(100) : QByteArray();
    const Format sheet = sheetFormat(SheetFormat::sheetFormatOf(fileName, head));
    if (sheet != Format::None)
        return sheet;
    return formatOfName(fileName) == Format::Text ? Format::Text : openEntryFormat(entry);
}

void TFileCommands::sbOpenClick()
{
    if (!OpenDialog1.Execute(m_window))
        return;
    const QString name = OpenDialog1.FileName;
    // A pipe or a device would block the window or act on the device when opened.
    if (pathKind(name) != PathKind::Regular) {
        readError(name);
        return;
    }
    // A spreadsheet chosen under the text entry would fill the table with its bytes.
    const Format format = loadedFormat(name, OpenDialog1.FilterIndex);
    // A following Save proposes the file just loaded, in its own format: the workbook it
    // came from is never overwritten by another kind of file. A text file is proposed only
    // once it has been read: a file refused as no starter list must not be saved over.
    if (format == Format::Text) {
        if (LoadProtocolText(name))
            m_chosen = Chosen{name, saveEntryOf(format)};
        return;
    }
    if (isSheet(format) && heard(&TFileCommands::sheetOpenRequested))
        emit sheetOpenRequested(name);
    else
        return;
    SaveDialog1.FileName = name;
    if (const int entry = saveEntryOf(format))
        SaveDialog1.FilterIndex = entry;
}

void TFileCommands::sbSaveClick()
{
    if (!SaveDialog1.Execute(m_window))
        return;
    const QString name = SaveDialog1.FileName;
    const quint64 revision = m_results.revision();
    // The name's suffix wins over the entry: "liste.xls" never receives TAB text.
    const Format format = saveFormatFor(name, SaveDialog1.FilterIndex);
    // The entry stays (its number is stored), but without LibreOffice it writes nothing,
    // and nothing else in its place.
    if (format == Format::Xls && !m_office) {
        ErrorBox::show(m_window, QStringLiteral("Der Schreibfehler der Datei: ") + name +
                                     QStringLiteral("\n.xls-Dateien schreibt das Programm mit "
                                                    "LibreOffice, das hier nicht installiert "
                                                    "ist (Paket libreoffice-calc-nogui). Die "
                                                    "Datei wurde nicht geschrieben; als .xlsx "
                                                    "oder .ods lässt sie sich ohne LibreOffice "
                                                    "speichern."));
        return;
    }
    if (const int entry = saveEntryOf(format))
        SaveDialog1.FilterIndex = entry;
    switch (format) {
    case Format::Text:
        if (SaveProtocolText(name))
            emit saved(name, revision);
        break;
    case Format::Xls:
    case Format::Xlsx:
    case Format::Ods:
        emit sheetSaveRequested(name, sheetSuffix(format));
        break;
    case Format::Web:
        // A page cannot be loaded back: the protocol does not count as saved.
        if (WriteHtmlReport(name))
            emit pageWritten(name);
        break;
    case Format::None:
        break;
    }
}

bool TFileCommands::saveFile(const QString &fileName, const QByteArray &bytes, QString *reason)
{
    auto failed = [reason](const QString &why) {
        if (reason)
            *reason = SystemError::translated(why);
        return false;
    };
    // The new file would be renamed over a device or a pipe and replace it.
    if (pathKind(fileName) == PathKind::Other)
        return failed(QStringLiteral("Dort liegt keine gewöhnliche Datei, sondern ein Gerät, "
                                     "eine Pipe, ein Ordner oder eine Verknüpfung ins Leere"));
    QSaveFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        return failed(f.errorString());
    // The flush is checked here: a write error left in the buffer until commit() would
    // not stop commit() from putting the short file in place of the old one.
    errno = 0;
    if (f.write(bytes) != bytes.size() || !f.flush()) {
        // A failed flush leaves Qt's text at "Unknown error"; the system's error says why.
        const int error = errno;
        const QString why = error != 0 ? SystemError::text(error) : f.errorString();
        f.cancelWriting();
        return failed(why);
    }
    return f.commit() || failed(f.errorString());
}

bool TFileCommands::writeError(const QString &fileName, const QString &reason)
{
    ErrorBox::show(m_window,
                   QStringLiteral("Der Schreibfehler der Datei: ") + fileName +
                       (reason.isEmpty()
                            ? QString()
                            : QStringLiteral("\n") + reason +
                                  QStringLiteral(". Die Datei wurde nicht geschrieben.")));
    return false;
}

bool TFileCommands::readError(const QString &fileName)
{
    ErrorBox::show(m_window, QStringLiteral("Die Datei kann nicht gelesen werden: ") + fileName);
    return false;
}

bool TFileCommands::SaveProtocolText(const QString &fileName)
{
    const QString text = TextFormat::protocolText(TProtocolTables::snapshot(m_results));
    // An empty file would take the place of a saved protocol and lose it.
    if (text.isEmpty()) {
        ErrorBox::show(m_window, QStringLiteral("Nichts zu speichern: die erste Zeile des "
                                                "Protokolls hat keine Startnummer.\n"
                                                "Die Datei wurde nicht geschrieben: ") +
                                     fileName);
        return false;
    }
    QString reason;
    if (!saveFile(fileName, TextFormat::encode(text), &reason))
        return writeError(fileName, reason);
    return true;
}

bool TFileCommands::LoadProtocolText(const QString &fileName)
{
    if (busy())
        return false;
    m_chosen.reset();
    if (pathKind(fileName) != PathKind::Regular) {
        readError(fileName);
        emit finished(false);
        return false;
    }
    m_stop = std::make_shared<std::atomic_bool>(false);
    m_reading = new QFutureWatcher<WorkerResult>(this);
    auto *watcher = m_reading;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, fileName] {
        WorkerResult result;
        try {
            // Taken, not copied: a million rows move on to the grid as they are.
            result = watcher->future().takeResult();
        } catch (...) {
            // Out of memory on the way, say: the table stays as it was.
            result.loaded.refusal = TextFormat::Refusal::Unreadable;
        }
        watcher->deleteLater();
        textRead(fileName, std::move(result));
    });
    watcher->setFuture(QtConcurrent::run([read = textReader, fileName, cols = m_results.colCount(),
                                          titles = m_results.rowCells(0), stop = m_stop,
                                          measures = m_results.columnMeasures()] {
        WorkerResult r{read(fileName, cols, titles, stop.get()), {}};
        if (r.loaded.refusal == TextFormat::Refusal::None &&
            !measureWidths(r.loaded.table, measures, *stop, r.widths)) {
            r.loaded = TextFormat::Loaded();
            r.loaded.refusal = TextFormat::Refusal::Stopped;
        }
        return r;
    }));
    emit busyChanged(true, QStringLiteral("Textdatei wird gelesen: ") + fileName);
    return true;
}

void TFileCommands::textRead(const QString &fileName, WorkerResult read)
{
    TextFormat::Loaded &result = read.loaded;
    const QString head = QStringLiteral("Die Datei kann nicht gelesen werden: ") + fileName +
                         QStringLiteral("\n") + QFileInfo(fileName).fileName();
    switch (result.refusal) {
    case TextFormat::Refusal::None:
        break;
    case TextFormat::Refusal::Unreadable:
    case TextFormat::Refusal::Stopped:
        endLoad(false, QStringLiteral("Die Datei kann nicht gelesen werden: ") + fileName);
        return;
    case TextFormat::Refusal::TooBig: {
        // Rounded up, so that a file just over the limit does not read as the limit.
        constexpr qint64 mb = 1024 * 1024;
        endLoad(false, head + QStringLiteral(" ist %1 MB groß; eine Starterliste darf "
                                             "höchstens %2 MB haben.")
                                  .arg((result.fileSize + mb - 1) / mb)
                                  .arg(TextFormat::MaxFileBytes / mb));
        return;
    }
    case TextFormat::Refusal::NotText:
        endLoad(false, head + QStringLiteral(" ist keine Textdatei."));
        return;
    }
    endLoad(true, QString());
    // A protocol saved with more time columns than the table has now keeps all its times.
    if (result.used > m_results.colCount())
        moreTimeColumns(result.used - 2);
    std::optional<std::vector<QStringList>> old =
        TProtocolTables::takeTable(m_results, std::move(result.table));
    if (old) {
        for (auto &[col, widths] : read.widths)
            m_results.adoptColumnWidths(col, std::move(widths));
        // Let go of on a worker: freeing a million rows takes a while too.
        QThreadPool::globalInstance()->start([rows = std::move(*old)]() mutable { rows.clear(); });
    }
    m_results.setCurrentRow(m_results.rowCount() - 1);
    if (m_chosen) {
        SaveDialog1.FileName = m_chosen->fileName;
        if (m_chosen->saveEntry)
            SaveDialog1.FilterIndex = m_chosen->saveEntry;
        m_chosen.reset();
    }
    emit loaded(fileName);
    emit finished(true);
}

void TFileCommands::endLoad(bool ok, const QString &error)
{
    m_reading = nullptr;
    m_stop.reset();
    emit busyChanged(false, QString());
    if (ok)
        return;
    m_chosen.reset();
    ErrorBox::show(m_window, error);
    emit finished(false);
}

void TFileCommands::moreTimeColumns(int times)
{
    // A protocol saved with more time columns than the setting keeps all its times.
    const int n = qMin(times, TextFormat::MaxTimeColumns);
    emit columnsNeeded(n);
    if (times > n)
        emit status(QStringLiteral("Zeitenanzahl auf %1 erhöht, mehr geht nicht: die Zeiten ab "
                                   "Zeit %2 wurden nicht geladen.")
                        .arg(n)
                        .arg(n + 1));
    else
        emit status(QStringLiteral("Zeitenanzahl auf %1 erhöht, damit alle Zeiten der Datei "
                                   "Platz haben.")
                        .arg(n));
}

bool TFileCommands::WriteHtmlReport(const QString &fileName)
{
    QString reason;
    if (!saveFile(fileName,
                  HtmlReport::pageBytes(TProtocolTables::snapshot(m_results), applicationTitle),
                  &reason))
        return writeError(fileName, reason);
    return true;
}

QString TFileCommands::webFileName() const
{
    // The bare name in the working folder; where that cannot be written (the program
    // started from a read-only folder), the page goes to the user's cache folder.
    const QString folder = Folders::pageFolder();
    const QString name = applicationTitle + QStringLiteral(".html");
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

void TFileCommands::sbWebClick(int tag)
{
    const QString name = webFileName();
    WriteHtmlReport(name);
    // An older page of that name is still handed over when the new one failed; something
    // that is not a file is not.
    if (pathKind(name) != PathKind::Regular)
        return;
    const QString failure = tag == 0   ? Shell::open(name)
                            : tag == 1 ? Shell::print(name)
                                       : QString();
    if (!failure.isEmpty())
        ErrorBox::show(m_window, failure);
}

#include "moc_FileCommands.cpp"
