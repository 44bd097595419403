#include <QApplication>
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/qt_dialog.h"
#include "app/results_link.h"
#include "app/shell.h"

int main(int argc, char* argv[]) {
    using netrevia::app::CommandLine;
    // --help and --version are answered before Qt starts, so they need no display.
    const CommandLine early = netrevia::app::parse_command_line({argv + 1, argv + argc});
    if (early.action == CommandLine::Action::kHelp) {
        std::cout << netrevia::app::usage_text();
        return 0;
    }
    if (early.action == CommandLine::Action::kVersion) {
        std::cout << netrevia::app::version_text();
        return 0;
    }

    QApplication application(argc, argv);
    // QApplication takes the C locale from the environment; the data-file reader and the
    // writers must see '.' as the decimal point whatever the user's language.
    std::setlocale(LC_NUMERIC, "C");
    // Qt has taken its own options (-platform, -style, ...) out of argv by now.
    const CommandLine line = netrevia::app::parse_command_line({argv + 1, argv + argc});
    if (line.action == CommandLine::Action::kError) {
        std::cerr << "netrevia: " << line.error << "\n" << netrevia::app::usage_text();
        return 2;
    }
    // Declared after the application and before the main window, which it outlives.
    netrevia::app::ResultsLink results;
    return netrevia::app::run_application(results.attach(netrevia::app::qt_platform()),
                                          line.data_file);
}
