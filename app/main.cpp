#include "app/FMain.h"
#include "platform/AppInfo.h"
#include "settings/UCfg.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"
#include "widgets/Pictures.h"
#include "widgets/SPHTMLHelp.h"

#include <QApplication>
#include <QFont>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quendra"));
    QApplication::setApplicationName(AppInfo::baseName());
    // No metric twin exists for this font; the tables use it.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));

    QApplication::setWindowIcon(Pictures::applicationIcon());

    // SIGTERM and SIGINT (end of the desktop session, Ctrl+C) close the window the normal
    // way, so the settings are saved and the port is closed. Caught from here on.
    const bool signalsReady = ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0;
    if (signalsReady) {
        struct sigaction sa = {};
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    // Help comes up before the main window; without it the program warns once and goes on.
    SPHTMLHelp::startup();

    // The main window first: its creation runs before the three dialogs exist.
    TFormMain formMain;
    TFDlgYesNo dlgYesNo(&formMain);
    TCfgDialog cfgDialog(formMain.PortSet, formMain.ComPort, &formMain);
    TFormInfo formInfo(&formMain);

    // A signal that came while the windows were being created is waiting in the pipe and
    // closes the window as soon as the loop runs.
    std::unique_ptr<QSocketNotifier> notifier;
    if (signalsReady) {
        notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &formMain, [] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
            QApplication::closeAllWindows();
        });
    }

    formMain.show();
    const int rc = app.exec();
    formMain.FormDestroy();
    SPHTMLHelp::shutdown();
    return rc;
}
