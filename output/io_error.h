#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace netrevia::output {

// The exception type of fatal output failures. Message: "<condition>, unit <unit>, file <file>"
// (unit 3: GRN.dat, 5: GRN.dot), with the file as an absolute path, so that a message from a
// run started elsewhere still says which folder was meant; the data file's failures (unit 7)
// have their own type of the same form, inference::InputError. error_number is the errno of
// the failed call (0 when the condition has none), for callers that suggest a way out. Only the
// window and the batch tool catch it.
class IoError : public std::runtime_error {
public:
    IoError(std::string_view condition,
            int unit,
            const std::filesystem::path& file,
            int error_number = 0);

    int unit() const noexcept { return unit_; }
    int error_number() const noexcept { return error_number_; }

private:
    int unit_;
    int error_number_;
};

// path made absolute against the current folder and lexically normal ("./out/GRN.dat" becomes
// "/home/user/out/GRN.dat"); the path as given when the current folder cannot be found.
std::filesystem::path shown_path(const std::filesystem::path& path);

}  // namespace netrevia::output
