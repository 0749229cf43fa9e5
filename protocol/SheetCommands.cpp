#include "protocol/SheetCommands.h"

#include "formats/SheetFormat.h"
#include "platform/ErrorBox.h"
#include "platform/SystemError.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

namespace {
// Text export of the first sheet: TAB, quotes where needed, UTF-8, from line 1, cells as
// shown, sheet 1.
const char LoadFilter[] =
    "txt:Text - txt - csv (StarCalc):9,34,76,1,,0,false,true,true,false,false,1";
// A sheet's text beyond this is not a protocol.
constexpr qint64 MaxSheetText = 64 * 1024 * 1024;

QString readMessage(const QString &fileName)
{
    return QStringLiteral("Die Datei kann nicht gelesen werden: ") + fileName;
}
QString writeMessage(const QString &fileName)
{
    return QStringLiteral("Der Schreibfehler der Datei: ") + fileName;
}
} // namespace

TSheetCommands::TSheetCommands(TSortGrid &results, QWidget *window, QObject *parent)
    : QObject(parent), m_results(results), m_window(window)
{}

TSheetCommands::~TSheetCommands() = default;

bool TSheetCommands::busy() const
{
    return m_running;
}

QString TSheetCommands::convertToFor(const QString &suffix)
{
    if (suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("xlsx:Calc MS Excel 2007 XML");
    if (suffix.compare(QLatin1String("ods"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("ods:calc8");
    return QStringLiteral("xls:MS Excel 97");
}

bool TSheetCommands::prepare(const QString &status)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(base);
    m_work = std::make_unique<QTemporaryDir>(base + QStringLiteral("/sheet-XXXXXX"));
    if (!m_work->isValid() || !QDir(m_work->path()).mkpath(QStringLiteral("out")))
        return false;
    m_running = true;
    if (showBusy)
        showBusy(true, status);
    return true;
}

void TSheetCommands::end(bool ok, const QString &error)
{
    m_work.reset();
    m_loading = false;
    m_running = false;
    if (showBusy)
        showBusy(false, QString());
    if (!ok)
        ErrorBox::show(m_window, error);
    emit finished(ok);
}

void TSheetCommands::LoadProtocolSheet(const QString &fileName)
{
    if (busy())
        return;
    const QFileInfo fi(fileName);
    // Only a regular file: a pipe or a device would keep the application waiting.
    if (!fi.isFile() || !fi.isReadable()) {
        ErrorBox::show(m_window, readMessage(fileName));
        emit finished(false);
        return;
    }
    m_loading = true;
    if (!prepare(QStringLiteral("Tabelle wird gelesen: ") + fileName)) {
        end(false, readMessage(fileName));
        return;
    }
    const QString outDir = m_work->path() + QStringLiteral("/out");
    m_app.convert(fi.absoluteFilePath(), QString::fromLatin1(LoadFilter), outDir,
                  [this, fileName](const SpreadsheetApp::Result &r) {
                      if (!r.ok) {
                          end(false, readMessage(fileName) + QStringLiteral("\n") + r.message);
                          return;
                      }
                      QFile f(r.outputFile);
                      if (!f.open(QIODevice::ReadOnly) || f.size() > MaxSheetText) {
                          end(false, readMessage(fileName));
                          return;
                      }
                      const TableData t = SheetFormat::tableFromSheet(
                          SheetFormat::parseTabText(f.readAll()), m_results.ColCount());
                      TProtocolTables::applyTable(m_results, t);
                      m_results.setRow(1);
                      m_results.setSelection(TGridRect{0, 1, m_results.ColCount() - 1, 1});
                      if (layoutColumns)
                          layoutColumns();
                      if (updateFileButtons)
                          updateFileButtons();
                      if (loaded)
                          loaded(fileName);
                      end(true, QString());
                  });
}

void TSheetCommands::SaveProtocolSheet(const QString &fileName, const QString &suffix)
{
    if (busy())
        return;
    const QFileInfo target(fileName);
    // Never replace a device or a pipe by a spreadsheet.
    if (target.exists() && !target.isFile()) {
        ErrorBox::show(m_window, writeMessage(fileName));
        emit finished(false);
        return;
    }
    m_loading = false;
    if (!prepare(QStringLiteral("Tabelle wird geschrieben: ") + fileName)) {
        end(false, writeMessage(fileName));
        return;
    }
    // The document takes the target's name, which LibreOffice gives its result.
    QString base = target.completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("Tabelle");
    const QString fods = m_work->path() + QLatin1Char('/') + base + QStringLiteral(".fods");
    QFile doc(fods);
    const quint64 revision = m_results.contentRevision();
    const QByteArray bytes =
        SheetFormat::flatOds(TProtocolTables::snapshot(m_results), applicationTitle);
    if (!doc.open(QIODevice::WriteOnly) || doc.write(bytes) != bytes.size() || !doc.flush()) {
        end(false, writeMessage(fileName) + QStringLiteral("\n") + doc.errorString());
        return;
    }
    doc.close();
    const QString outDir = m_work->path() + QStringLiteral("/out");
    m_app.convert(fods, convertToFor(suffix.isEmpty() ? target.suffix() : suffix), outDir,
                  [this, fileName, revision](const SpreadsheetApp::Result &r) {
                      if (!r.ok) {
                          end(false, writeMessage(fileName) + QStringLiteral("\n") + r.message);
                          return;
                      }
                      install(r.outputFile, fileName, revision);
                  });
}

// Puts the converted file in place through a temporary file beside the target, off the UI
// thread (the rename waits for the disk): an existing file is replaced only by a whole one.
void TSheetCommands::install(const QString &converted, const QString &target, quint64 revision)
{
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, target, revision] {
        const QString error = SystemError::translated(watcher->result());
        watcher->deleteLater();
        if (error.isEmpty() && saved)
            saved(target, revision);
        end(error.isEmpty(), writeMessage(target) + QStringLiteral("\n") + error);
    });
    watcher->setFuture(QtConcurrent::run([converted, target]() -> QString {
        QFile in(converted);
        if (!in.open(QIODevice::ReadOnly))
            return in.errorString();
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly))
            return out.errorString();
        const QByteArray bytes = in.readAll();
        if (out.write(bytes) != bytes.size() || !out.flush()) {
            const QString e = out.errorString();
            out.cancelWriting();
            return e;
        }
        if (!out.commit())
            return out.errorString();
        return QString();
    }));
}
