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
    // The parser knows no option with an optional value, so --live is taken out first.
    QStringList rest;
    for (const QString &a : arguments) {
        if (a == QLatin1String("--live") || a == QLatin1String("-live")) {
            c.live = true;
        } else if (a.startsWith(QLatin1String("--live="))) {
            c.live = true;
            bool ok = false;
            const uint port = a.mid(7).toUInt(&ok);
            if (ok && port > 0 && port < 65536)
                c.livePort = quint16(port);
            else if (c.error.isEmpty())
                c.error = QStringLiteral("Ungültiger Port für --live: ") + a.mid(7);
        } else {
            rest << a;
        }
    }
    Parser parser;
    const bool ok = parser.p.parse(rest);
    c.help = parser.p.isSet(parser.help);
    c.version = parser.p.isSet(parser.version);
    if (lenient || !c.error.isEmpty())
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
                          "  --live[=PORT]  zeigt die Ergebnisse im lokalen Netz (Port 8080)\n"
                          "\n"
                          "Die Einstellungen stehen in ~/.config/Quendra/%1.conf.\n")
        .arg(programName);
}

QString CommandLine::versionText(const QString &programName)
{
    return programName + QLatin1Char(' ') + AppInfo::version() + QLatin1Char('\n');
}
