#include <QApplication>
#include <clocale>

#include "app/qt_dialog.h"
#include "app/shell.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // QApplication takes the C locale from the environment; the data-file reader and the
    // writers must see '.' as the decimal point whatever the user's language.
    std::setlocale(LC_NUMERIC, "C");
    return netrevia::app::run_application(netrevia::app::qt_platform());
}
