#pragma once

#include <string>
#include <vector>

namespace netrevia::app {

// What the window's command line asks for: netrevia [--help | --version | DATAFILE].
struct CommandLine {
    enum class Action { kOpenWindow, kHelp, kVersion, kError };
    Action action = Action::kOpenWindow;
    std::string data_file;  // chosen as if with Open; empty: none
    std::string error;      // for kError
};

// Parses the arguments after the program name. --help (-h) and --version win wherever they
// stand; "--" ends the options, so a data file may start with '-'.
CommandLine parse_command_line(const std::vector<std::string>& args);

// The text --help prints, and the one --version prints.
std::string usage_text();
std::string version_text();

}  // namespace netrevia::app
