#include "app/FMain.h"
#include "platform/AppInfo.h"
#include "settings/UCfg.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"

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

    // The main window first: its creation runs before the three dialogs exist.
    TFormMain formMain;
    TFDlgYesNo dlgYesNo(&formMain);
    TCfgDialog cfgDialog(&formMain);
    TFormInfo formInfo(&formMain);

    // SIGTERM and SIGINT (end of the desktop session, Ctrl+C) close the window the normal
    // way, so the settings are saved and the port is closed.
    std::unique_ptr<QSocketNotifier> notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &formMain, [&] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
            QApplication::closeAllWindows();
        });
        struct sigaction sa = {};
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    formMain.show();
    const int rc = app.exec();
    formMain.FormDestroy();
    return rc;
}
