#include "support/support.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace netrevia::test_support {

void orthonormalise(std::vector<double>& W, int n) {
    for (int pass = 0; pass < 2; ++pass) {
        for (int j = 1; j <= n; ++j) {
            for (int l = 1; l < j; ++l) {
                double dot = 0.0;
                for (int t = 1; t <= n; ++t) dot += W[at(t, l, n)] * W[at(t, j, n)];
                for (int t = 1; t <= n; ++t) W[at(t, j, n)] -= dot * W[at(t, l, n)];
            }
            double norm = 0.0;
            for (int t = 1; t <= n; ++t) norm += W[at(t, j, n)] * W[at(t, j, n)];
            for (int t = 1; t <= n; ++t) W[at(t, j, n)] /= std::sqrt(norm);
        }
    }
}

TempDir::TempDir(std::string_view prefix) {
    std::random_device random;
    for (;;) {
        path_ =
            std::filesystem::temp_directory_path() /
            (std::string(prefix) + "-" + std::to_string(random()) + "-" + std::to_string(random()));
        if (std::filesystem::create_directories(path_)) break;  // false: the name was taken
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string read_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

::testing::AssertionResult matches_golden(const std::string& actual,
                                          const std::filesystem::path& golden,
                                          std::string_view label) {
    if (!std::filesystem::exists(golden)) {
        return ::testing::AssertionFailure() << "missing golden file " << golden;
    }
    if (read_bytes(golden) == actual) return ::testing::AssertionSuccess();
    const std::filesystem::path folder = std::filesystem::path(TEST_ACTUAL_DIR);
    std::filesystem::create_directories(folder);
    const std::filesystem::path copy = folder / (std::string(label) + ".actual");
    write_bytes(copy, actual);
    return ::testing::AssertionFailure() << "differs from " << golden << ", see " << copy;
}

}  // namespace netrevia::test_support
