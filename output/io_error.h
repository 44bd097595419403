#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace netrevia::output {

// The exception type of fatal output failures. Message: "<condition>, unit <unit>, file <file>"
// (unit 3: GRN.dat, 5: GRN.dot); the data file's failures (unit 7) have their own type of the
// same form, inference::InputError. Only the window and the batch tool catch it.
class IoError : public std::runtime_error {
public:
    IoError(std::string_view condition, int unit, const std::filesystem::path& file);
};

}  // namespace netrevia::output
