#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Fixtures shared by the test executables of several folders.
namespace netrevia::test_support {

// Index of element (i, j), 1-based, of a column-major array with column stride ld.
inline std::size_t at(int i, int j, int ld) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(j - 1) * ld;
}

// Orthonormalises the columns of W (n x n, stride n) in place, first to last: modified
// Gram-Schmidt, applied twice. Columns that are already orthonormal stay as they are.
void orthonormalise(std::vector<double>& W, int n);

// A fresh, uniquely named folder under the system's temporary directory, removed (with
// everything in it, read-only entries included) when the object goes.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "netrevia-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

std::string read_bytes(const std::filesystem::path& file);
void write_bytes(const std::filesystem::path& file, const std::string& bytes);

// Byte comparison with a golden file. On a mismatch the actual bytes go to
// <build folder>/tests/actual/<label>.actual for diffing, never into the source tree.
::testing::AssertionResult matches_golden(const std::string& actual,
                                          const std::filesystem::path& golden,
                                          std::string_view label);

}  // namespace netrevia::test_support
