#include "inference/regulators.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inference/input_error.h"

namespace netrevia::inference {
namespace {

std::vector<std::string> parsed(const std::string& text) {
    std::istringstream in(text);
    return parse_regulator_list(in, "list.txt");
}

// One name per line; blank lines, comments and surrounding blanks are not names, a '#' inside
// a name is part of it, a name listed twice counts once, and a byte-order mark and CR LF line
// ends are taken off.
TEST(RegulatorList, NamesCommentsBlanksAndDuplicates) {
    EXPECT_EQ(parsed("\xef\xbb\xbflexA\r\n  recA\t# SOS\r\n\r\n# uvrD\n   \ngene#2\nlexA\n#\nsulA"),
              (std::vector<std::string>{"lexA", "recA", "gene#2", "sulA"}));
    EXPECT_EQ(parsed("HLA A  \n\"quoted\"\n"), (std::vector<std::string>{"HLA A", "\"quoted\""}));
    EXPECT_TRUE(parsed("").empty());
    EXPECT_TRUE(parsed("# nothing\n\n").empty());
    // A byte-order mark only counts at the very start.
    EXPECT_EQ(parsed("a\n\xef\xbb\xbf"
                     "b\n"),
              (std::vector<std::string>{"a",
                                        "\xef\xbb\xbf"
                                        "b"}));
}

// A line beyond the bound is refused before it takes more memory, naming the line; the
// bound itself passes.
TEST(RegulatorList, OverlongLineIsAnInputErrorOfUnitThirteen) {
    EXPECT_EQ(parsed(std::string(kMaxRegulatorLine, 'x') + "\n").front().size(), kMaxRegulatorLine);
    try {
        parsed("ok\n" + std::string(kMaxRegulatorLine + 1, 'x'));
        FAIL() << "no InputError";
    } catch (const InputError& e) {
        EXPECT_STREQ(e.what(),
                     "input error: line 2 is longer than 1048576 bytes; a list of regulators "
                     "holds one name per line, unit 13, file list.txt");
    }
}

TEST(RegulatorList, MissingFileAndDirectoryAreInputErrors) {
    const auto message = [](const std::filesystem::path& file) {
        try {
            read_regulator_list(file);
        } catch (const InputError& e) {
            return std::string(e.what());
        }
        return std::string("no InputError");
    };
    EXPECT_EQ(message("no/such/list.txt"), "file not found, unit 13, file no/such/list.txt");
    EXPECT_EQ(message(std::filesystem::temp_directory_path()),
              "input error: cannot open the file: it is a directory, unit 13, file " +
                  std::filesystem::temp_directory_path().string());
}

// Names are the full names of the input, surrounding blanks aside; genes that share a full
// name are all marked; names without a gene are kept in list order.
TEST(RegulatorMatch, FullNamesMarkEveryGeneOfTheName) {
    const std::vector<std::string> genes{"transcript_alpha", "transcript_beta", "G3 ", "G3", "x"};
    const RegulatorMatch match = match_regulators(
        genes, std::vector<std::string>{"zeta", "transcript_beta", "G3", "transcript_", "x"});
    EXPECT_EQ(match.mask, (std::vector<unsigned char>{0, 1, 1, 1, 1}));
    EXPECT_EQ(match.genes, 4);
    EXPECT_EQ(match.unknown, (std::vector<std::string>{"zeta", "transcript_"}));
    const RegulatorMatch none = match_regulators(genes, std::vector<std::string>{});
    EXPECT_EQ(none.genes, 0);
    EXPECT_EQ(none.mask, std::vector<unsigned char>(5, 0));
}

}  // namespace
}  // namespace netrevia::inference
