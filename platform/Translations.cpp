#include "platform/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QString Translations::qtFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool Translations::installQtGerman(QCoreApplication &app, const QString &folder)
{
    // Owned by the application, so it lives as long as the texts are asked for.
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_de"), folder.isEmpty() ? qtFolder() : folder) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
