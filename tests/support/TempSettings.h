#pragma once

#include "platform/AppInfo.h"
#include "tests/support/Guards.h"

#include <QDir>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

// Points the per-user settings store and the executable's name at a fresh folder for one
// test, and restores both afterwards.
class TempSettings
{
public:
    explicit TempSettings(const QString &exeName = QStringLiteral("tornelo"))
    {
        SettingsPathGuard::set(dir.path());
        setExeName(exeName);
    }
    ~TempSettings() { AppInfo::setExecutablePathForTesting(QString()); }

    void setExeName(const QString &name)
    {
        AppInfo::setExecutablePathForTesting(dir.path() + QStringLiteral("/bin/") + name);
    }
    // The file the store of the named program lives in.
    QString file(const QString &app = QStringLiteral("tornelo")) const
    {
        return dir.path() + QStringLiteral("/Quendra/") + app + QStringLiteral(".conf");
    }
    // Writes raw values as another run would have left them.
    void write(const QList<QPair<QString, QVariant>> &values,
               const QString &app = QStringLiteral("tornelo"))
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quendra"), app);
        for (const auto &v : values)
            s.setValue(v.first, v.second);
        s.sync();
    }

    QTemporaryDir dir;

private:
    SettingsPathGuard m_restore; // declared last: restores before the folder goes
};
