#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "numeric/matrix_ref.h"
#include "output/atomic_file.h"

namespace netrevia::output {

// A further file of a run (an export for other tools), written and committed with GRN.dat and
// GRN.dot: its name in the folder, the unit its errors name, and what writes its content.
struct ExtraResultFile {
    std::string name;
    int unit = 0;
    std::function<void(std::ostream&)> format;
};

// The result files of a run: GRN.dat, GRN.dot, then the extra files in order. Each is written
// completely to a temporary file in folder first; only when all are complete are they renamed
// over the old files, so a failure leaves every earlier result file as it was. Throws IoError
// naming the unit and file, or CommitAbandoned when control's cancel flag is seen before the
// point of no return (output/atomic_file.h, CommitControl).
void write_result_files(const std::filesystem::path& folder,
                        std::span<const std::string> names,
                        numeric::ConstMatrixRef R,
                        int n,
                        double threshold,
                        std::span<const ExtraResultFile> extra_files = {},
                        const CommitControl* control = nullptr);

}  // namespace netrevia::output
