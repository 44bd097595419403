#include "app/command_line.h"

#ifndef NETREVIA_VERSION
#define NETREVIA_VERSION "0.0.0"
#endif

namespace netrevia::app {

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine line;
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") return {CommandLine::Action::kHelp, {}, {}};
        if (arg == "--version") return {CommandLine::Action::kVersion, {}, {}};
    }
    bool options_ended = false;
    for (const std::string& arg : args) {
        if (!options_ended && arg == "--") {
            options_ended = true;
            continue;
        }
        if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            return {CommandLine::Action::kError, {}, "unknown option '" + arg + "'"};
        }
        if (!line.data_file.empty()) {
            return {CommandLine::Action::kError, {}, "more than one data file given"};
        }
        if (arg.empty()) return {CommandLine::Action::kError, {}, "empty data file name"};
        line.data_file = arg;
    }
    return line;
}

std::string usage_text() {
    return "Usage: netrevia [DATAFILE]\n"
           "Opens the window for inferring a gene regulatory network from the time courses\n"
           "of a data file; DATAFILE, when given, is chosen as if with Open. GRN.dat and\n"
           "GRN.dot are written beside the data file. For runs without a window, see\n"
           "netrevia-batch --help.\n"
           "\n"
           "Options:\n"
           "  --help     show this text\n"
           "  --version  show the version\n";
}

std::string version_text() { return "netrevia " NETREVIA_VERSION "\n"; }

}  // namespace netrevia::app
