#include "protocol/SheetCommands.h"

#include "formats/SheetFormat.h"
#include "formats/SheetReader.h"
#include "formats/SheetWriter.h"
#include "platform/ErrorBox.h"
#include "platform/SystemError.h"
#include "protocol/ProtocolTables.h"
#include "protocol/Table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const char Package[] = "libreoffice-calc-nogui";

QString readMessage(const QString &fileName)
{
    return QStringLiteral("Die Datei kann nicht gelesen werden: ") + fileName;
}
QString writeMessage(const QString &fileName)
{
    return QStringLiteral("Der Schreibfehler der Datei: ") + fileName;
}

// Puts a finished file in place through a temporary file beside the target: an existing
// file is replaced only by a whole one. Empty on success, else why not.
QString installFile(const QString &made, const QString &target)
{
    QFile in(made);
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
}

// The same with the system's reason said in German.
QString install(const QString &made, const QString &target)
{
    return SystemError::translated(installFile(made, target));
}

// The rows a saved sheet must hold at least: LibreOffice need not count empty rows at the
// end.
int rowsToKeep(const TableData &t)
{
    for (int r = t.rowCount() - 1; r >= 0; --r)
        for (const QString &cell : t.rows[size_t(r)])
            if (!cell.isEmpty())
                return r + 1;
    return 0;
}

} // namespace

TSheetCommands::TSheetCommands(ITable &results, QWidget *window, QObject *parent)
    : QObject(parent), m_results(results), m_window(window)
{}

TSheetCommands::~TSheetCommands() = default;

bool TSheetCommands::busy() const
{
    return m_running;
}

template <class T>
void TSheetCommands::background(std::function<T()> work, std::function<void(T)> done)
{
    auto *watcher = new QFutureWatcher<T>(this);
    connect(watcher, &QFutureWatcher<T>::finished, this, [watcher, done] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

bool TSheetCommands::prepare(const QString &status)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(base);
    m_work = std::make_unique<QTemporaryDir>(base + QStringLiteral("/sheet-XXXXXX"));
    if (!m_work->isValid() || !QDir(m_work->path()).mkpath(QStringLiteral("out")))
        return false;
    m_running = true;
    emit busyChanged(true, status);
    return true;
}

void TSheetCommands::end(bool ok, const QString &error, const QString &note)
{
    m_work.reset();
    m_loading = false;
    m_running = false;
    emit busyChanged(false, note);
    if (!ok)
        ErrorBox::show(m_window, error);
    emit finished(ok);
}

// A command that does not start: nothing has been read or written.
void TSheetCommands::refuse(const QString &message)
{
    ErrorBox::show(m_window, message);
    emit finished(false);
}

void TSheetCommands::LoadProtocolSheet(const QString &fileName)
{
    if (busy())
        return;
    const QFileInfo fi(fileName);
    // Only a regular file: a pipe or a device would keep the reader waiting.
    if (!fi.isFile() || !fi.isReadable()) {
        refuse(readMessage(fileName));
        return;
    }
    m_loading = true;
    if (!prepare(QStringLiteral("Tabelle wird gelesen: ") + fileName)) {
        end(false, readMessage(fileName));
        return;
    }
    const QString path = fi.absoluteFilePath();
    const int cols = m_colCount = m_results.colCount();
    background<SheetReader::Result>(
        [path, cols] { return SheetReader::read(path, cols); },
        [this, fileName](const SheetReader::Result &r) { loadRead(fileName, r, false); });
}

void TSheetCommands::loadRead(const QString &fileName, const SheetReader::Result &r,
                              bool throughOffice)
{
    const bool office = !throughOffice && SpreadsheetApp::available();
    if (r.status == SheetReader::Result::Ok && !(r.approximate && office)) {
        applyRead(fileName, r);
        return;
    }
    if (r.status != SheetReader::Result::Failed && office) {
        loadThroughOffice(fileName, r);
        return;
    }
    QString message = readMessage(fileName) + QLatin1Char('\n') + r.message;
    if (r.status == SheetReader::Result::Refused && !throughOffice)
        message += QStringLiteral("\nLibreOffice (Paket %1) könnte sie lesen; es ist nicht "
                                  "installiert.")
                       .arg(QLatin1String(Package));
    end(false, message);
}

// LibreOffice turns the file into an .ods, which our reader then reads: the same rules for
// every cell, whoever read the file first.
void TSheetCommands::loadThroughOffice(const QString &fileName, const SheetReader::Result &native)
{
    const QString outDir = m_work->path() + QStringLiteral("/out");
    const int cols = m_colCount;
    m_app.convert(QFileInfo(fileName).absoluteFilePath(), QStringLiteral("ods"), outDir,
                  [this, fileName, native, cols](const SpreadsheetApp::Result &r) {
                      if (!r.ok) {
                          // What freexl read to the second is better than nothing.
                          if (native.status == SheetReader::Result::Ok) {
                              applyRead(fileName, native);
                              return;
                          }
                          end(false, readMessage(fileName) + QLatin1Char('\n') + native.message +
                                         QLatin1Char('\n') + r.message);
                          return;
                      }
                      const QString converted = r.outputFile;
                      background<SheetReader::Result>(
                          [converted, cols] { return SheetReader::read(converted, cols); },
                          [this, fileName](const SheetReader::Result &back) {
                              loadRead(fileName, back, true);
                          });
                  });
}

void TSheetCommands::applyRead(const QString &fileName, const SheetReader::Result &r)
{
    const QString note =
        r.approximate
            ? QStringLiteral("Ohne LibreOffice gelesen: Uhrzeiten nur auf die Sekunde, Zahlen "
                             "ohne ihr Format. Genau liest die Datei LibreOffice (Paket %1).")
                  .arg(QLatin1String(Package))
            : QString();
    apply(SheetFormat::tableFromSheet(r.rows, m_results.colCount()), fileName, note);
}

void TSheetCommands::apply(const TableData &t, const QString &fileName, const QString &note)
{
    TProtocolTables::applyTable(m_results, t);
    m_results.setCurrentRow(1);
    emit loaded(fileName);
    end(true, QString(), note);
}

void TSheetCommands::SaveProtocolSheet(const QString &fileName, const QString &suffix)
{
    if (busy())
        return;
    const QFileInfo target(fileName);
    // Never replace a device or a pipe by a spreadsheet.
    if (target.exists() && !target.isFile()) {
        refuse(writeMessage(fileName));
        return;
    }
    QString format = (suffix.isEmpty() ? target.suffix() : suffix).toLower();
    // Any other name is written in the default type, as before.
    if (!SheetWriter::writesNatively(format))
        format = QStringLiteral("xls");
    const quint64 revision = m_results.revision();
    const TableData table = TProtocolTables::snapshot(m_results);
    // Refused before anything is written: a format that cannot hold the table would keep
    // only a part of it.
    const QString tooLarge = SheetFormat::tooLargeFor(table, format);
    if (!tooLarge.isEmpty()) {
        refuse(writeMessage(fileName) + QLatin1Char('\n') + tooLarge);
        return;
    }
    const bool native = SheetWriter::writesNatively(format);
    if (!native && !SpreadsheetApp::available()) {
        refuse(writeMessage(fileName) +
               QStringLiteral("\n.xls-Dateien schreibt das Programm mit LibreOffice, das hier "
                              "nicht installiert ist (Paket %1). Die Datei wurde nicht "
                              "geschrieben; als .xlsx oder .ods lässt sie sich ohne LibreOffice "
                              "speichern.")
                   .arg(QLatin1String(Package)));
        return;
    }
    m_loading = false;
    if (!prepare(QStringLiteral("Tabelle wird geschrieben: ") + fileName)) {
        end(false, writeMessage(fileName));
        return;
    }
    if (!native) {
        saveThroughOffice(fileName, table, revision);
        return;
    }
    const QString made = m_work->path() + QStringLiteral("/out/tabelle.") + format;
    const QString title = applicationTitle;
    background<QString>(
        [table, title, format, made, fileName] {
            const QString error = SheetWriter::write(table, title, format, made);
            return error.isEmpty() ? install(made, fileName) : error;
        },
        [this, fileName, revision](const QString &error) {
            if (error.isEmpty())
                emit saved(fileName, revision);
            end(error.isEmpty(), writeMessage(fileName) + QLatin1Char('\n') + error);
        });
}

// .xls: our document, times as texts (freexl reads time values only to the second), which
// LibreOffice converts; the result must hold every row before it replaces the target.
void TSheetCommands::saveThroughOffice(const QString &fileName, const TableData &table,
                                       quint64 revision)
{
    // The document takes the target's name, which LibreOffice gives its result.
    QString base = QFileInfo(fileName).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("Tabelle");
    const QString fods = m_work->path() + QLatin1Char('/') + base + QStringLiteral(".fods");
    const QString title = applicationTitle;
    background<QString>(
        [table, title, fods] {
            QFile doc(fods);
            const QByteArray bytes = SheetFormat::flatOds(table, title);
            if (!doc.open(QIODevice::WriteOnly) || doc.write(bytes) != bytes.size() || !doc.flush())
                return doc.errorString();
            return QString();
        },
        [this, fileName, fods, table, revision](const QString &error) {
            if (!error.isEmpty()) {
                end(false, writeMessage(fileName) + QLatin1Char('\n') + error);
                return;
            }
            const QString outDir = m_work->path() + QStringLiteral("/out");
            const int keep = rowsToKeep(table);
            m_app.convert(
                fods, QStringLiteral("xls:MS Excel 97"), outDir,
                [this, fileName, revision, keep](const SpreadsheetApp::Result &r) {
                    if (!r.ok) {
                        end(false, writeMessage(fileName) + QLatin1Char('\n') + r.message);
                        return;
                    }
                    const QString converted = r.outputFile;
                    background<QString>(
                        [converted, fileName, keep] {
                            const int rows = SheetReader::xlsRowCount(converted);
                            if (rows < 0)
                                return QStringLiteral("LibreOffice hat keine lesbare .xls-Datei "
                                                      "geschrieben.");
                            if (rows < keep)
                                return QStringLiteral("LibreOffice hat nur %1 von %2 Zeilen "
                                                      "geschrieben.")
                                    .arg(rows)
                                    .arg(keep);
                            return install(converted, fileName);
                        },
                        [this, fileName, revision](const QString &error) {
                            if (error.isEmpty())
                                emit saved(fileName, revision);
                            end(error.isEmpty(),
                                writeMessage(fileName) + QLatin1Char('\n') + error);
                        });
                });
        });
}

#include "moc_SheetCommands.cpp"
