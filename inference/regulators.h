#pragma once

#include <filesystem>
#include <istream>
#include <span>
#include <string>
#include <vector>

#include "inference/experiment.h"

namespace netrevia::inference {

// Unit named in the read errors of a list of candidate regulators (after the data file's 7 and
// the result files' 3, 5 and 8 to 12).
inline constexpr int kRegulatorListUnit = 13;

// The names of a list of candidate regulators (transcription factors, say), one per line, in
// the order listed and each once. Blank lines are skipped, and so is a comment: the rest of a
// line from a '#' that starts it or follows a blank or tab ("lexA  # SOS repressor" lists
// lexA; "gene#2" is a name). Surrounding blanks and tabs, a CR before the line end and a UTF-8
// byte-order mark at the start of the file are not part of a name. Throws InputError (unit 13,
// file) when a line is longer than kMaxRegulatorLine bytes.
inline constexpr std::size_t kMaxRegulatorLine = std::size_t{1} << 20;
std::vector<std::string> parse_regulator_list(std::istream& in, const std::filesystem::path& file);

// Opens the file as the data file is opened (InputError, unit 13) and parses it; with an
// observer every byte of the file is shown to it, to hash what was read.
std::vector<std::string> read_regulator_list(const std::filesystem::path& file,
                                             InputObserver* observer = nullptr);

// The genes a list names, by their full names as the input spells them (surrounding blanks
// aside): a data file's genes whose 9-character names were made distinct are found by their
// full names too, and a name that several genes share marks each of them.
struct RegulatorMatch {
    std::vector<unsigned char> mask;   // mask[g - 1] != 0: gene g is a candidate regulator
    int genes = 0;                     // genes marked
    std::vector<std::string> unknown;  // names of the list that no gene has, in list order
};
RegulatorMatch match_regulators(std::span<const std::string> full_names,
                                std::span<const std::string> listed);

}  // namespace netrevia::inference
