#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace netrevia::app {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, HelpAndVersionWinAFileAndOneFileIsChosen) {
    EXPECT_EQ(parse_command_line({}).action, Action::kOpenWindow);
    EXPECT_EQ(parse_command_line({}).data_file, "");
    EXPECT_EQ(parse_command_line({"data.dat", "--help"}).action, Action::kHelp);
    EXPECT_EQ(parse_command_line({"-h"}).action, Action::kHelp);
    EXPECT_EQ(parse_command_line({"--version", "data.dat"}).action, Action::kVersion);

    const CommandLine file = parse_command_line({"my data.dat"});
    EXPECT_EQ(file.action, Action::kOpenWindow);
    EXPECT_EQ(file.data_file, "my data.dat");
    // After "--" a name may look like an option, and --help is a file name.
    EXPECT_EQ(parse_command_line({"--", "--help"}).data_file, "--help");
    EXPECT_EQ(parse_command_line({"--", "-x.dat"}).action, Action::kOpenWindow);
}

TEST(CommandLine, UnknownOptionsAndSecondFilesAreErrors) {
    const CommandLine unknown = parse_command_line({"--lambda", "1"});
    EXPECT_EQ(unknown.action, Action::kError);
    EXPECT_EQ(unknown.error, "unknown option '--lambda'");
    EXPECT_EQ(parse_command_line({"a.dat", "b.dat"}).error, "more than one data file given");
    EXPECT_EQ(parse_command_line({""}).action, Action::kError);
    EXPECT_EQ(parse_command_line({"-"}).data_file, "-");  // a lone dash is a name
}

}  // namespace
}  // namespace netrevia::app
