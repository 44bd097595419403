// One QApplication for every test, offscreen unless a platform is named; the window's settings
// go to a fresh folder, never the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <clocale>

// Under the sanitizers: Graphviz 2.42's dot layout loses some of the virtual edges it makes
// while ranking (new_virtual_edge), whatever the caller frees. The leak is inside the plugin and
// nothing of ours is suppressed; matching it needs the full stack, as the fast unwinder stops
// inside Graphviz. The sanitizers' runtime asks for these; other builds never call them.
extern "C" __attribute__((used)) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:new_virtual_edge\n";
}

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // as the program does after QApplication
    return RUN_ALL_TESTS();
}
