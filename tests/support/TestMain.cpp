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
    // Settings go to a folder of this run only, so no test reads or writes the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    // Journal and recovery files likewise.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    // No test opens the machine's real serial devices.
    TFormMain::portProbe() = [] { return quint32(0); };
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    return RUN_ALL_TESTS();
}
