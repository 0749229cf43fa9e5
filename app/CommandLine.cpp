#include "app/CommandLine.h"

#include "platform/AppInfo.h"

#include <QCommandLineParser>

namespace {
struct Parser
{
    QCommandLineParser p;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};
    Parser()
    {
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        p.addOption(help);
        p.addOption(version);
    }
};
} // namespace

CommandLine CommandLine::parse(const QStringList &arguments, bool lenient)
{
    CommandLine c;
    Parser parser;
    const bool ok = parser.p.parse(arguments);
    c.help = parser.p.isSet(parser.help);
    c.version = parser.p.isSet(parser.version);
    if (lenient)
        return c;
    if (!ok) {
        const QStringList unknown = parser.p.unknownOptionNames();
        c.error = unknown.isEmpty()
                      ? parser.p.errorText()
                      : QStringLiteral("Unbekannte Option: ") + unknown.join(QStringLiteral(", "));
    } else if (!parser.p.positionalArguments().isEmpty()) {
        c.error =
            QStringLiteral("Unerwartetes Argument: ") + parser.p.positionalArguments().first();
    }
    return c;
}

QString CommandLine::helpText(const QString &programName)
{
    return QStringLiteral("Aufruf: %1 [Optionen]\n"
                          "Zeitnahme mit Lichtschranke für Fahrzeugprüfungen und Slaloms.\n"
                          "\n"
                          "Optionen:\n"
                          "  -h, --help     zeigt diese Hilfe und endet\n"
                          "  -v, --version  zeigt die Version und endet\n"
                          "\n"
                          "Die Einstellungen stehen in ~/.config/Quendra/%1.conf.\n")
        .arg(programName);
}

QString CommandLine::versionText(const QString &programName)
{
    return programName + QLatin1Char(' ') + AppInfo::version() + QLatin1Char('\n');
}
