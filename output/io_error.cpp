#include "output/io_error.h"

#include <string>
#include <system_error>

namespace netrevia::output {

std::filesystem::path shown_path(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal();
}

IoError::IoError(std::string_view condition,
                 int unit,
                 const std::filesystem::path& file,
                 int error_number)
    : std::runtime_error(std::string(condition) + ", unit " + std::to_string(unit) + ", file " +
                         shown_path(file).string()),
      unit_(unit),
      error_number_(error_number) {}

}  // namespace netrevia::output
