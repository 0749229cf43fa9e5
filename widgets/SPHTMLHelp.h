#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
class THelpViewer;

// Viewer commands of the help library call.
enum HtmlHelpCommand : int
{
    HH_DISPLAY_TOPIC = 0,
    HH_DISPLAY_TOC = 1,
    HH_DISPLAY_INDEX = 2,
    HH_HELP_CONTEXT = 15,
    HH_CLOSE_ALL = 18,
};

// The help library call: carries out one viewer command on a help file and returns the
// window that shows it (nullptr for HH_CLOSE_ALL, when the library is not loaded, or when
// the file cannot be opened). file may name a topic as "file.chm::/page.htm"; arg is the
// topic (0), the keyword (2) or the context number (15).
THelpViewer *HtmlHelp(QWidget *owner, const QString &file, int command,
                      const QString &arg = QString());

// The viewer the help manager talks to ("HtmlHelp"). Every request first determines the
// help file; when that file does not exist the request is dropped silently.
class THTMLHelpViewer
{
public:
    QString GetViewerName() const { return QStringLiteral("HtmlHelp"); }
    bool UnderstandsKeyword(const QString &) const { return true; }
    bool UnderstandsContext(int) const { return true; }
    bool UnderstandsTopic(const QString &) const { return true; }
    bool CanShowTableOfContents() const { return true; }
    // How the help selector lists a keyword.
    QStringList GetHelpStrings(const QString &keyword) const;

    void ShowTableOfContents(const QString &file = QString());
    void ShowHelp(const QString &keyword, const QString &file = QString());
    void ShowContextHelp(int context, const QString &file = QString());
    void DisplayTopic(const QString &topic, const QString &file = QString());
    void ShutDown();

    // The file named in the request, else the manager's current help file, else the
    // application's help file.
    QString helpFile(const QString &requested) const;
};

namespace SPHTMLHelp {
constexpr const char *WarningTitle = "Warning!";
constexpr const char *WarningText = "Unable to view HTML help (*.chm). Update windows help "
                                    "system. Get new \"HHCTRL.OCX\" library.";

// Loads the help library and registers the viewer; on failure shows the warning once and
// the program goes on without help. Returns whether help is available.
bool startup(const QString &libraryName = QString());
// Closes every help window, drops the viewer and unloads the library.
void shutdown();
bool isLoaded();
// The registered viewer; nullptr when the library did not load.
THTMLHelpViewer *viewer();

// The help manager's request from the main window: show the contents of the help file.
void showTableOfContents();

// The help file that belongs to an executable: its path with the extension replaced by
// ".chm", or with ".chm" appended when it has none; when no such file lies beside it, the
// file of that name in the installed data folder, if there is one.
QString helpFileFor(const QString &executablePath);
// The application's help file (set by startup from the executable's path).
QString applicationHelpFile();
// The help manager's current help file (empty: the application's).
void setCurrentHelpFile(const QString &file);
QString currentHelpFile();

// The help windows that are open.
QList<THelpViewer *> openViewers();

// Replaces the warning message box (title, text), so that tests never block.
void setWarningHookForTesting(std::function<void(const QString &, const QString &)> hook);
} // namespace SPHTMLHelp
