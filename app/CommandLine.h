#pragma once

#include <QString>
#include <QStringList>

// The program's few command-line options. Help and version are answered before any
// window exists, so they also work where there is no display.
struct CommandLine
{
    bool help = false;
    bool version = false;
    // Empty when the arguments were understood; otherwise what was wrong, in German.
    QString error;

    // arguments[0] is the program as it was called. With lenient set, options that are
    // not ours are passed over (Qt's own, before QApplication has taken them out).
    static CommandLine parse(const QStringList &arguments, bool lenient);
    static QString helpText(const QString &programName);
    static QString versionText(const QString &programName);
};
