#include "app/FMain.h"
#include "platform/AppInfo.h"
#include "settings/UCfg.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"
#include "widgets/Pictures.h"
#include "widgets/SPHTMLHelp.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quendra"));
    QApplication::setApplicationName(AppInfo::baseName());
    // No metric twin exists for this font; the tables use it.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));

    QApplication::setWindowIcon(Pictures::applicationIcon());

    // Help comes up before the main window; without it the program warns once and goes on.
    SPHTMLHelp::startup();

    // The main window first: its creation runs before the three dialogs exist.
    TFormMain formMain;
    TFDlgYesNo dlgYesNo(&formMain);
    TCfgDialog cfgDialog(&formMain);
    TFormInfo formInfo(&formMain);

    formMain.show();
    const int rc = app.exec();
    SPHTMLHelp::shutdown();
    return rc;
}
