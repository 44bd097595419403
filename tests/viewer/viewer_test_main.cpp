// One QApplication for every test, offscreen unless a platform is named; the window's settings
// go to a fresh folder, never the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <clocale>

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // as the program does after QApplication
    return RUN_ALL_TESTS();
}
