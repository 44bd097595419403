#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "support/support.h"

namespace netrevia::cli_testing {

// A batch-tool run in process: a fresh output folder, the tool's standard output and error
// captured, and the folder's files read back as bytes.
class BatchFixture : public ::testing::Test {
protected:
    int run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        return cli::batch_main(args, out_, err_, false);
    }
    static std::string read(const std::filesystem::path& file) {
        return test_support::read_bytes(file);
    }
    // Writes bytes to a file of the folder and returns its path.
    std::string put(const std::string& name, const std::string& bytes) const {
        test_support::write_bytes(dir_ / name, bytes);
        return (dir_ / name).string();
    }

    test_support::TempDir temp_{"netrevia-batch"};
    const std::filesystem::path dir_ = temp_.path();
    std::ostringstream out_;
    std::ostringstream err_;
};

}  // namespace netrevia::cli_testing
