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
} // namespace

void Shell::setHookForTesting(Hook h)
{
    hook() = std::move(h);
}

void Shell::setPrinterForTesting(QPrinter *printer)
{
    g_testPrinter = printer;
}

void Shell::open(const QString &file)
{
    if (hook() && hook()(QStringLiteral("open"), file))
        return;
    const QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    // Platforms without desktop services (offscreen, a bare X server) still have xdg-open.
    if (!QDesktopServices::openUrl(url))
        QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

void Shell::print(const QString &file)
{
    if (hook() && hook()(QStringLiteral("print"), file))
        return;
    if (g_testPrinter) {
        printHtmlFile(file, *g_testPrinter);
        return;
    }
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return;
    QPrinter printer(info, QPrinter::HighResolution);
    printHtmlFile(file, printer);
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
