#include "platform/AppInfo.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString &overridePath()
{
    static QString path;
    return path;
}
} // namespace

QString AppInfo::executablePath()
{
    if (!overridePath().isEmpty())
        return overridePath();
    return QCoreApplication::applicationFilePath();
}

QString AppInfo::baseName()
{
    return QFileInfo(executablePath()).completeBaseName();
}

void AppInfo::setExecutablePathForTesting(const QString &path)
{
    overridePath() = path;
}

QString AppInfo::version()
{
    return QStringLiteral(TORNELO_VERSION);
}
