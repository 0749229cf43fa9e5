#include "platform/Shell.h"

#include "formats/Cp1252.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QTextDocument>
#include <QUrl>

namespace {
Shell::Hook &hook()
{
    static Shell::Hook h;
    return h;
}
QPrinter *g_testPrinter = nullptr;

QString failedOn(const QString &printer)
{
    return QStringLiteral("Die Seite wurde nicht gedruckt: der Drucker \"%1\" nimmt sie nicht "
                          "an (ausgeschaltet, nicht erreichbar oder ohne Papier?).")
        .arg(printer);
}
} // namespace

void Shell::setHookForTesting(Hook h)
{
    hook() = std::move(h);
}

void Shell::setPrinterForTesting(QPrinter *printer)
{
    g_testPrinter = printer;
}

QString Shell::open(const QString &file)
{
    if (hook() && hook()(QStringLiteral("open"), file))
        return QString();
    const QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    // Platforms without desktop services (offscreen, a bare X server) still have xdg-open.
    if (QDesktopServices::openUrl(url) ||
        QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)}))
        return QString();
    return QStringLiteral("Die Seite kann nicht angezeigt werden: kein Browser ließ sich "
                          "starten (xdg-open aus dem Paket xdg-utils fehlt oder kennt keinen "
                          "Browser). Die Seite liegt unter: ") +
           QFileInfo(file).absoluteFilePath();
}

QString Shell::print(const QString &file)
{
    if (hook() && hook()(QStringLiteral("print"), file))
        return QString();
    if (g_testPrinter)
        return printHtmlFile(file, *g_testPrinter) ? QString()
                                                   : failedOn(g_testPrinter->printerName());
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return QStringLiteral("Die Seite wurde nicht gedruckt: kein Drucker eingerichtet (in "
                              "den Druckereinstellungen des Systems einen Standarddrucker "
                              "wählen).");
    QPrinter printer(info, QPrinter::HighResolution);
    return printHtmlFile(file, printer) ? QString() : failedOn(info.printerName());
}

bool Shell::printHtmlFile(const QString &file, QPrinter &printer)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError || !printer.isValid())
        return false;
    QTextDocument doc;
    doc.setHtml(Cp1252::decodeText(bytes));
    doc.print(&printer);
    return printer.printerState() != QPrinter::Error;
}
