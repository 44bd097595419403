#include "inference/input_error.h"

#include <string>

namespace netrevia::inference {

InputError::InputError(std::string_view condition, int unit, const std::filesystem::path& file)
    : std::runtime_error(std::string(condition) + ", unit " + std::to_string(unit) + ", file " +
                         file.string()) {}

}  // namespace netrevia::inference
