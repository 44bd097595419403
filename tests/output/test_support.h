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
    void SetUp() override {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("netrevia-output-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

inline std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Byte comparison with tests/output/golden/<name>; on a mismatch the actual bytes are left
// beside the golden file as <name>.actual for diffing.
inline ::testing::AssertionResult matches_golden(const std::string& actual,
                                                 const std::string& name) {
    const std::filesystem::path golden = std::filesystem::path(GOLDEN_DIR) / name;
    if (!std::filesystem::exists(golden)) {
        return ::testing::AssertionFailure() << "missing golden file " << golden;
    }
    if (read_bytes(golden) == actual) return ::testing::AssertionSuccess();
    write_bytes(std::filesystem::path(golden) += ".actual", actual);
    return ::testing::AssertionFailure() << "differs from " << golden << ", see .actual beside it";
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
