#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace netrevia::inference {

// A fatal failure to open or read the data file. The message has the form the writers' failures
// have, "<condition>, unit <unit>, file <file>", so the user reads one form for both; the window
// and the batch tool catch it next to output::IoError.
class InputError : public std::runtime_error {
public:
    InputError(std::string_view condition, int unit, const std::filesystem::path& file);
};

}  // namespace netrevia::inference
