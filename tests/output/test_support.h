#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "numeric/matrix_ref.h"
#include "support/support.h"

namespace netrevia::output::testing {

// The result of a three-gene run, column by column: rows (1, 1e-8, 0), (-2/3, -2e-8, 2/3),
// (0.5, 0, -1). With threshold 1e-6 column 2 is noise and five edges remain.
inline const std::array<double, 9> kWorkedExample{1.0, -2.0 / 3.0, 0.5,       1e-8, -2e-8,
                                                  0.0, 0.0,        2.0 / 3.0, -1.0};
inline const std::vector<std::string> kWorkedNames{"G1       ", "G2       ", "G3       "};
inline numeric::ConstMatrixRef worked_example() { return {kWorkedExample.data(), 3}; }

// Each test gets a fresh folder under the system's temporary directory, removed afterwards.
class InTempDir : public ::testing::Test {
protected:
    const std::filesystem::path& dir() const { return dir_.path(); }

private:
    netrevia::test_support::TempDir dir_{"netrevia-output"};
};

using netrevia::test_support::read_bytes;
using netrevia::test_support::write_bytes;

// Byte comparison with tests/output/golden/<name>; on a mismatch the actual bytes go to the
// build folder's tests/actual/<name>.actual for diffing.
inline ::testing::AssertionResult matches_golden(const std::string& actual,
                                                 const std::string& name) {
    return netrevia::test_support::matches_golden(actual, std::filesystem::path(GOLDEN_DIR) / name,
                                                  name);
}

// The names of the entries of a folder, sorted, to show that nothing was left behind.
inline std::vector<std::string> entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace netrevia::output::testing
