#include "app/FMain.h"
#include "platform/AppInfo.h"
#include "settings/UCfg.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"

#include <QApplication>
#include <QFont>

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

    formMain.show();
    return app.exec();
}
