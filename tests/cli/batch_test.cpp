#include "cli/batch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;
using netrevia::cli::batch_main;
using netrevia::cli::parse_args;
using netrevia::cli::parse_number;
using netrevia::cli::ParseOutcome;

TEST(BatchArgs, NumbersMustBeWholeAndFinite) {
    EXPECT_EQ(parse_number("1e-6"), 1e-6);
    EXPECT_EQ(parse_number("+2.5"), 2.5);
    EXPECT_EQ(parse_number("-0.5"), -0.5);
    EXPECT_EQ(parse_number(".25"), 0.25);
    for (const char* bad :
         {"", "1.5x", "abc", "nan", "inf", "-inf", "1e400", " 1", "1 ", "+-1", "0x10", "1,5"}) {
        EXPECT_FALSE(parse_number(bad).has_value()) << "'" << bad << "'";
    }
}

TEST(BatchArgs, NegativeValuesAreOrdinaryArguments) {
    for (const auto& args : {std::vector<std::string>{"--threshold", "-0.5", "data.dat"},
                             std::vector<std::string>{"--threshold=-0.5", "data.dat"}}) {
        const auto parsed = parse_args(args);
        ASSERT_EQ(parsed.outcome, ParseOutcome::kRun);
        EXPECT_EQ(parsed.options.threshold, -0.5);
        EXPECT_EQ(parsed.options.data_file, "data.dat");
    }
}

TEST(BatchArgs, DefaultsMatchTheWindow) {
    const auto parsed = parse_args({"data.dat"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::kRun);
    EXPECT_EQ(parsed.options.lambda, 0.0);
    EXPECT_EQ(parsed.options.threshold, 1.0e-6);
    EXPECT_EQ(parsed.options.output_dir, ".");
    EXPECT_FALSE(parsed.options.quiet);
}

TEST(BatchArgs, MistakesAreRefused) {
    for (const auto& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--lambda", "x", "d.dat"},
          std::vector<std::string>{"--lambda"}, std::vector<std::string>{"a.dat", "b.dat"},
          std::vector<std::string>{"--colour", "d.dat"},
          std::vector<std::string>{"--render", "pdf", "d.dat"},
          std::vector<std::string>{"-x", "d.dat"}}) {
        EXPECT_EQ(parse_args(args).outcome, ParseOutcome::kError) << ::testing::PrintToString(args);
    }
}

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("netrevia-batch-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        return batch_main(args, out_, err_, false);
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    std::ostringstream out_;
    std::ostringstream err_;
    const std::string example_ = std::string(EXAMPLES_DIR) + "/three_genes.dat";
};

TEST_F(BatchRun, WorkedExampleWritesBothFilesAndSummary) {
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), example_}), 0) << err_.str();
    EXPECT_TRUE(fs::exists(dir_ / "GRN.dat"));
    EXPECT_TRUE(fs::exists(dir_ / "GRN.dot"));
    const std::string summary = out_.str();
    EXPECT_NE(summary.find("genes:        3\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("datasets:     1 (time points: 3)\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("5 (3 positive, 2 negative)"), std::string::npos) << summary;
}

TEST_F(BatchRun, FailedRunLeavesEarlierResultsAndExitsOne) {
    {
        std::ofstream(dir_ / "GRN.dat") << "earlier";
        std::ofstream(dir_ / "GRN.dot") << "earlier";
    }
    EXPECT_EQ(run({"--output-dir", dir_.string(), (dir_ / "missing.dat").string()}), 1);
    EXPECT_NE(err_.str().find("file not found, unit 7, file "), std::string::npos) << err_.str();
    EXPECT_EQ(read(dir_ / "GRN.dat"), "earlier");
    EXPECT_EQ(read(dir_ / "GRN.dot"), "earlier");
}

TEST_F(BatchRun, UnwritableOutputFolderIsFatal) {
    const fs::path blocked = dir_ / "not-a-folder";
    std::ofstream(blocked) << "a file where the folder should be";
    EXPECT_EQ(run({"--output-dir", blocked.string(), example_}), 1);
    EXPECT_NE(err_.str().find("unit 3"), std::string::npos) << err_.str();
}

TEST_F(BatchRun, BadCommandLineShowsUsageAndExitsTwo) {
    EXPECT_EQ(run({"--lambda", "fast", example_}), 2);
    EXPECT_NE(err_.str().find("Usage: netrevia-batch"), std::string::npos);
}

TEST_F(BatchRun, RendersTheNetworkWhenGraphvizIsThere) {
    if (std::system("command -v dot > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "Graphviz not installed";
    ASSERT_EQ(run({"--quiet", "--render", "svg", "--output-dir", dir_.string(), example_}), 0)
        << err_.str();
    const std::string svg = read(dir_ / "GRN.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("G1"), std::string::npos);
}

}  // namespace

namespace {

// Whole runs with 1, 2 and 4 worker threads must give the committed results byte for byte: the
// fits of one iteration run in parallel, but each lands in its own place and every sum keeps
// its order.
class ThreadCountTest : public BatchRun,
                        public ::testing::WithParamInterface<std::tuple<const char*, const char*>> {
};

TEST_P(ThreadCountTest, ResultFilesMatchGoldenForEveryThreadCount) {
    const auto [name, lambda] = GetParam();
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / (std::string(name) + ".dat");
    const fs::path golden =
        fs::path(CLI_TEST_DIR) / "golden" / (std::string(name) + "_lambda_" + lambda);
    for (const char* threads : {"1", "2", "4"}) {
        ASSERT_EQ(run({"--quiet", "--threads", threads, "--lambda", lambda, "--output-dir",
                       dir_.string(), data.string()}),
                  0)
            << err_.str();
        for (const char* file : {"GRN.dat", "GRN.dot"}) {
            const std::string actual = read(dir_ / file);
            EXPECT_TRUE(actual == read(golden / file)) << file << " with " << threads << " threads";
            if (actual != read(golden / file)) {
                std::ofstream(golden / (std::string(file) + ".actual"), std::ios::binary) << actual;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Runs,
                         ThreadCountTest,
                         ::testing::Combine(::testing::Values("four_courses", "two_courses"),
                                            ::testing::Values("0", "0.05")));

TEST(BatchArgs, ThreadCountMustBeAPositiveWholeNumber) {
    EXPECT_EQ(parse_args({"--threads", "3", "d.dat"}).options.threads, 3);
    for (const char* bad : {"0", "-1", "1.5", "two", ""}) {
        EXPECT_EQ(parse_args({std::string("--threads=") + bad, "d.dat"}).outcome,
                  ParseOutcome::kError)
            << bad;
    }
}

}  // namespace
