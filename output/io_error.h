#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace netrevia::output {

// The one exception type of fatal input/output failures. Message: "<condition>, unit <unit>,
// file <file>" (unit 7: the data file, 3: GRN.dat, 5: GRN.dot). Only the window and the batch
// tool catch it.
class IoError : public std::runtime_error {
public:
    IoError(std::string_view condition, int unit, const std::filesystem::path& file);
};

}  // namespace netrevia::output
