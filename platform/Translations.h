#pragma once

#include <QString>

class QCoreApplication;

// Qt's own texts in German, so that the standard dialogs (open and save, message boxes,
// the colour chooser) speak the language of the rest of the program, whatever the
// desktop's language. Dates and numbers keep the desktop's format.
namespace Translations {
// Where Qt's translation files lie (the package qt6-translations-l10n puts them there).
QString qtFolder();
// Installs qtbase_de.qm from folder (empty: qtFolder()) into app; false when it cannot be
// read, and the dialogs then stay English.
bool installQtGerman(QCoreApplication &app, const QString &folder = QString());
} // namespace Translations
