#include "app/CommandLine.h"
#include "app/FMain.h"
#include "app/Safekeeping.h"
#include "platform/AppInfo.h"
#include "platform/InstanceLock.h"
#include "platform/Termination.h"
#include "platform/Translations.h"
#include "settings/UCfg.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"
#include "widgets/Pictures.h"
#include "widgets/SPHTMLHelp.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
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
    // Help and version are answered before the window system is touched, so they work
    // without a display (from a terminal over ssh, in a package's checks).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString programName = QFileInfo(arguments.value(0)).completeBaseName();
    const CommandLine early = CommandLine::parse(arguments, true);
    if (early.help || early.version) {
        const QString text =
            early.help ? CommandLine::helpText(programName) : CommandLine::versionText(programName);
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    // Qt has taken its own options out by now; anything left must be ours.
    const CommandLine commandLine = CommandLine::parse(QApplication::arguments(), false);
    if (!commandLine.error.isEmpty()) {
        std::fputs(QStringLiteral("%1: %2\n\"%1 --help\" zeigt die Optionen.\n")
                       .arg(programName, commandLine.error)
                       .toLocal8Bit()
                       .constData(),
                   stderr);
        return 2;
    }
    // Qt's own dialogs in German like the rest of the program; without the file they stay
    // English and the program goes on.
    if (!Translations::installQtGerman(app))
        std::fputs(QStringLiteral("%1: Die deutschen Texte von Qt (qtbase_de.qm in %2) fehlen; "
                                  "die Standarddialoge bleiben englisch. Abhilfe: Paket "
                                  "qt6-translations-l10n installieren.\n")
                       .arg(programName, Translations::qtFolder())
                       .toLocal8Bit()
                       .constData(),
                   stderr);
    QApplication::setOrganizationName(QStringLiteral("Quendra"));
    QApplication::setApplicationName(AppInfo::baseName());
    // No metric twin exists for this font; the tables use it.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));

    QApplication::setWindowIcon(Pictures::applicationIcon());

    // SIGTERM and SIGINT (end of the desktop session, Ctrl+C) close the window the normal
    // way, so the settings are saved and the port is closed. Caught from here on; a
    // question that is open then is closed unanswered.
    const bool signalsReady = ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0;
    std::unique_ptr<QSocketNotifier> notifier;
    if (signalsReady) {
        struct sigaction sa = {};
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
            Termination::request();
            while (QWidget *modal = QApplication::activeModalWidget()) {
                if (!modal->close())
                    break;
            }
            QApplication::closeAllWindows();
        });
    }

    // A second copy would share the journal, the recovery file and the settings with the
    // first and spoil them: it says so and ends before it touches any of them.
    InstanceLock instance(TSafekeeping::defaultFolder());
    if (!instance.acquire()) {
        const QString text =
            QStringLiteral("%1 läuft schon (Prozess %2).\nEin zweites Fenster würde Journal, "
                           "Wiederherstellungsdatei und Einstellungen des ersten stören; "
                           "bitte im laufenden Fenster weiterarbeiten.")
                .arg(programName)
                .arg(instance.holderPid());
        std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
        QMessageBox box(QMessageBox::Information, programName, text, QMessageBox::Ok);
        if (!Termination::requested())
            box.exec();
        return 1;
    }

    // Help comes up before the main window; without it the program warns once and goes on.
    SPHTMLHelp::startup();

    // The main window first: its creation runs before the three dialogs exist.
    TFormMain formMain;
    TFDlgYesNo dlgYesNo(&formMain);
    TCfgDialog cfgDialog(formMain.PortSet, formMain.ComPort, &formMain);
    TFormInfo formInfo(&formMain);

    formMain.startLiveResults(commandLine.live, commandLine.livePort);
    formMain.show();
    // Asks about a recovery file over the window, before any time can be taken.
    formMain.startSafekeeping();
    // Asked to end during that question: the window is closed already, and a loop started
    // now would wait for nothing.
    const int rc = Termination::requested() ? 0 : app.exec();
    formMain.FormDestroy();
    SPHTMLHelp::shutdown();
    return rc;
}
