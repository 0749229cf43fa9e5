#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    // Every test runs headless; a developer's display is never touched.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    return RUN_ALL_TESTS();
}
