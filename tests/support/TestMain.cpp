#include "app/FMain.h"

#include <QApplication>
#include <QFont>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    // Every test runs headless; a developer's display is never touched.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings, data (journal, recovery) and cache (the spreadsheet application's profile)
    // go to folders of this run only, so no test reads or writes the user's.
    QTemporaryDir config, data, cache;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    // No test opens the machine's real serial devices.
    TFormMain::portProbe() = [] { return quint32(0); };
    // Nor does any read what the machine's /sys and /dev say about its ports.
    TFormMain::portDiscovery() = PortDiscovery(config.path() + QStringLiteral("/no-system"));
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    return RUN_ALL_TESTS();
}
