#pragma once

#include <QString>

#include <functional>

class QPrinter;

// The shell's document verbs for the HTML page: "open" shows it in the system's viewer,
// "print" renders it to the default printer without a dialog. Each returns what went
// wrong, for the user (empty when the verb was carried out).
namespace Shell {
QString open(const QString &file);
QString print(const QString &file);
// Renders an HTML file (Windows-1252 or UTF-8) onto the printer; false if it cannot be
// read or the printer is not usable.
bool printHtmlFile(const QString &file, QPrinter &printer);

// Tests: the hook sees every verb first and returns true when it handled it (the verb
// then counts as carried out).
using Hook = std::function<bool(const QString &verb, const QString &file)>;
void setHookForTesting(Hook hook);
// Tests: "print" goes to this printer instead of the default one (nullptr = default).
void setPrinterForTesting(QPrinter *printer);
} // namespace Shell
