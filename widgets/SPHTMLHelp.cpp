#include "widgets/SPHTMLHelp.h"

#include "platform/AppInfo.h"
#include "platform/Folders.h"
#include "platform/HelpLibrary.h"
#include "widgets/HelpViewer.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include <memory>

namespace {
struct HelpState
{
    HelpLibrary library;
    std::unique_ptr<THTMLHelpViewer> viewer;
    QList<QPointer<THelpViewer>> windows;
    QString applicationFile;
    QString currentFile;
    std::function<void(const QString &, const QString &)> warningHook;
};

HelpState &state()
{
    static HelpState s;
    return s;
}

void showWarning()
{
    const QString title = QString::fromLatin1(SPHTMLHelp::WarningTitle);
    const QString text = QString::fromLatin1(SPHTMLHelp::WarningText);
    if (state().warningHook) {
        state().warningHook(title, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box.exec();
}

void dropClosedWindows()
{
    state().windows.removeIf([](const QPointer<THelpViewer> &w) { return w.isNull(); });
}

void closeAllWindows()
{
    // Closed and freed at once: each window holds its archive open, and the archives must be
    // closed before the library goes away.
    const auto windows = state().windows;
    state().windows.clear();
    for (const QPointer<THelpViewer> &w : windows)
        delete w.data();
}

THelpViewer *windowFor(QWidget *owner, const QString &file)
{
    dropClosedWindows();
    const QString canonical = QFileInfo(file).absoluteFilePath();
    for (const QPointer<THelpViewer> &w : std::as_const(state().windows))
        if (QFileInfo(w->helpFile()).absoluteFilePath() == canonical)
            return w;
    auto archive = std::make_unique<ChmArchive>(state().library, file);
    if (!archive->isOpen())
        return nullptr;
    auto *w = new THelpViewer(std::move(archive));
    w->setAttribute(Qt::WA_DeleteOnClose);
    if (owner) {
        const QRect o = owner->frameGeometry();
        w->move(o.center() - QPoint(w->width() / 2, w->height() / 2));
    }
    state().windows.append(w);
    return w;
}
} // namespace

THelpViewer *HtmlHelp(QWidget *owner, const QString &file, int command, const QString &arg)
{
    if (!state().library.isLoaded())
        return nullptr;
    if (command == HH_CLOSE_ALL) {
        closeAllWindows();
        return nullptr;
    }
    QString path = file;
    QString topic;
    const qsizetype sep = file.indexOf(QLatin1String("::"));
    if (sep >= 0) {
        path = file.left(sep);
        topic = file.mid(sep + 2);
    }
    if (command != HH_DISPLAY_TOPIC && command != HH_DISPLAY_TOC && command != HH_DISPLAY_INDEX &&
        command != HH_HELP_CONTEXT)
        return nullptr;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return nullptr;
    THelpViewer *w = windowFor(owner, path);
    if (!w)
        return nullptr;
    switch (command) {
    case HH_DISPLAY_TOPIC:
        if (!arg.isEmpty())
            topic = arg;
        if (topic.isEmpty() || !w->showTopic(topic))
            w->showContents();
        break;
    case HH_DISPLAY_TOC:
        w->showContents();
        break;
    case HH_DISPLAY_INDEX:
        w->showIndex(arg);
        break;
    case HH_HELP_CONTEXT: {
        bool ok = false;
        const int context = arg.trimmed().toInt(&ok, 0);
        if (ok)
            w->showContext(context);
        else
            w->showContents();
        break;
    }
    }
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

QStringList THTMLHelpViewer::GetHelpStrings(const QString &keyword) const
{
    return {keyword + QStringLiteral(": ") + GetViewerName()};
}

QString THTMLHelpViewer::helpFile(const QString &requested) const
{
    if (!requested.isEmpty())
        return requested;
    if (!state().currentFile.isEmpty())
        return state().currentFile;
    return state().applicationFile;
}

namespace {
// The file part of a request, without a "::/topic" suffix.
bool helpFileExists(const QString &file)
{
    const qsizetype sep = file.indexOf(QLatin1String("::"));
    return !file.isEmpty() && QFileInfo(sep >= 0 ? file.left(sep) : file).isFile();
}

QWidget *owner()
{
    return QApplication::activeWindow();
}
} // namespace

void THTMLHelpViewer::ShowTableOfContents(const QString &file)
{
    const QString f = helpFile(file);
    if (helpFileExists(f))
        HtmlHelp(owner(), f, HH_DISPLAY_TOC);
}

void THTMLHelpViewer::ShowHelp(const QString &keyword, const QString &file)
{
    const QString f = helpFile(file);
    if (helpFileExists(f))
        HtmlHelp(owner(), f, HH_DISPLAY_INDEX, keyword);
}

void THTMLHelpViewer::ShowContextHelp(int context, const QString &file)
{
    const QString f = helpFile(file);
    if (helpFileExists(f))
        HtmlHelp(owner(), f, HH_HELP_CONTEXT, QString::number(context));
}

void THTMLHelpViewer::DisplayTopic(const QString &topic, const QString &file)
{
    const QString f = helpFile(file);
    if (helpFileExists(f))
        HtmlHelp(owner(), f, HH_DISPLAY_TOPIC, topic);
}

void THTMLHelpViewer::ShutDown()
{
    HtmlHelp(nullptr, QString(), HH_CLOSE_ALL);
}

namespace SPHTMLHelp {

QString helpFileFor(const QString &executablePath)
{
    return Folders::helpFileFor(executablePath);
}

bool startup(const QString &libraryName)
{
    HelpState &s = state();
    s.applicationFile = helpFileFor(AppInfo::executablePath());
    bool loaded = false;
    try {
        loaded =
            s.library.isLoaded() ||
            s.library.load(libraryName.isEmpty() ? QString::fromLatin1(HelpLibrary::DefaultName)
                                                 : libraryName);
        if (loaded && !s.viewer)
            s.viewer = std::make_unique<THTMLHelpViewer>();
    } catch (...) {
        s.viewer.reset();
        s.library.unload();
        loaded = false;
    }
    if (!loaded)
        showWarning();
    return loaded;
}

void shutdown()
{
    HelpState &s = state();
    if (!s.library.isLoaded())
        return;
    if (s.viewer)
        s.viewer->ShutDown();
    s.viewer.reset();
    s.library.unload();
}

bool isLoaded()
{
    return state().library.isLoaded();
}

THTMLHelpViewer *viewer()
{
    return state().viewer.get();
}

void showTableOfContents()
{
    if (THTMLHelpViewer *v = viewer())
        v->ShowTableOfContents();
}

QString applicationHelpFile()
{
    return state().applicationFile;
}

void setCurrentHelpFile(const QString &file)
{
    state().currentFile = file;
}

QString currentHelpFile()
{
    return state().currentFile;
}

QList<THelpViewer *> openViewers()
{
    dropClosedWindows();
    QList<THelpViewer *> list;
    for (const QPointer<THelpViewer> &w : std::as_const(state().windows))
        list.append(w.data());
    return list;
}

void setWarningHookForTesting(std::function<void(const QString &, const QString &)> hook)
{
    state().warningHook = std::move(hook);
}

} // namespace SPHTMLHelp
