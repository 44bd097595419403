#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

// Both result files of a run: GRN.dat, then GRN.dot. Each is written completely to a temporary
// file in folder first; only when both are complete are they renamed over the old files, so a
// failure leaves every earlier result file as it was. Throws IoError naming the unit and file.
void write_result_files(const std::filesystem::path& folder,
                        std::span<const std::string> names,
                        numeric::ConstMatrixRef R,
                        int n,
                        double threshold);

}  // namespace netrevia::output
