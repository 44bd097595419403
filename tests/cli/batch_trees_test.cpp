#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "batch_fixture.h"
#include "cli/batch.h"

namespace netrevia::cli {
namespace {

namespace fs = std::filesystem;
using TreeRun = cli_testing::BatchFixture;
using selection::Engine;

// The tree and consensus engines have thresholds of their own unless one is given; --decay
// takes a rate of at least 0.
TEST(BatchArgs, TreeEnginesThresholdsAndDecay) {
    EXPECT_EQ(parse_args({"--engine", "trees", "d.dat"}).options.engine, Engine::kTrees);
    EXPECT_EQ(parse_args({"--engine=consensus", "d.dat"}).options.engine, Engine::kConsensus);
    EXPECT_EQ(parse_args({"--engine", "trees", "d.dat"}).options.threshold, 0.07);
    EXPECT_EQ(parse_args({"--engine", "consensus", "d.dat"}).options.threshold, 0.2);
    EXPECT_EQ(parse_args({"--engine", "trees", "--threshold", "0.3", "d.dat"}).options.threshold,
              0.3);
    EXPECT_LT(parse_args({"d.dat"}).options.decay, 0.0);
    EXPECT_EQ(parse_args({"--decay", "0.25", "d.dat"}).options.decay, 0.25);
    EXPECT_EQ(parse_args({"--decay=0", "d.dat"}).options.decay, 0.0);
    for (const char* bad : {"-0.1", "x", "", "inf", "nan"}) {
        EXPECT_EQ(parse_args({std::string("--decay=") + bad, "d.dat"}).outcome,
                  ParseOutcome::kError)
            << bad;
    }
    EXPECT_EQ(parse_args({"--engine", "tree", "d.dat"}).outcome, ParseOutcome::kError);
}

// The committed seed-0 result of the tree engine, byte for byte for 1, 2 and 4 threads and on a
// repeated run; another seed grows other trees. The summary and run.json name the seed, the
// trees and the decay; lambda is ignored with a warning.
TEST_F(TreeRun, TreeFilesMatchGoldenForEveryThreadCount) {
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat";
    const fs::path golden = fs::path(CLI_TEST_DIR) / "golden" / "four_courses_trees_seed_0";
    for (const char* threads : {"1", "2", "4", "1"}) {
        ASSERT_EQ(run({"--engine", "trees", "--threads", threads, "--lambda", "0.3", "--output-dir",
                       dir_.string(), data.string()}),
                  0)
            << err_.str();
        EXPECT_EQ(err_.str(),
                  "netrevia-batch: warning: --lambda has no effect with --engine trees\n");
        EXPECT_NE(out_.str().find("engine:       trees, seed 0\n"
                                  "runs:         43 subsets of 10 genes (the signs)\n"
                                  "trees:        500 per target, decay estimated per gene "
                                  "(median "),
                  std::string::npos)
            << out_.str();
        for (const char* file : {"GRN.dat", "GRN.dot"}) {
            EXPECT_TRUE(read(dir_ / file) == read(golden / file)) << file << ", " << threads;
        }
    }
    const auto json = nlohmann::json::parse(read(dir_ / "run.json"));
    EXPECT_EQ(json["engine"], "trees");
    EXPECT_EQ(json["seed"], 0);
    EXPECT_EQ(json["trees_per_target"], 500);
    EXPECT_EQ(json["decay"], "estimated");
    EXPECT_EQ(json["decay_per_gene"].size(), 20u);
    EXPECT_EQ(json["threshold"], 0.07);
    // The summary's median of the 20 rates: the mean of the two middle ones.
    std::vector<double> rates = json["decay_per_gene"].get<std::vector<double>>();
    std::sort(rates.begin(), rates.end());
    std::ostringstream median;
    median << "(median " << std::setprecision(6) << (rates[9] + rates[10]) / 2.0 << ")";
    EXPECT_NE(rates[9], rates[10]);
    EXPECT_NE(out_.str().find(median.str()), std::string::npos) << median.str() << "\n"
                                                                << out_.str();

    ASSERT_EQ(
        run({"--engine", "trees", "--seed", "1", "--output-dir", dir_.string(), data.string()}), 0);
    EXPECT_FALSE(read(dir_ / "GRN.dat") == read(golden / "GRN.dat"));
    ASSERT_EQ(run({"--engine", "trees", "--seed", "1", "--decay", "0.5", "--output-dir",
                   dir_.string(), data.string()}),
              0);
    EXPECT_EQ(err_.str(), "");
    EXPECT_NE(out_.str().find("trees:        500 per target, decay 0.5 (--decay)\n"),
              std::string::npos)
        << out_.str();
    EXPECT_FALSE(read(dir_ / "GRN.dat") == read(golden / "GRN.dat"));
    const auto given = nlohmann::json::parse(read(dir_ / "run.json"));
    EXPECT_EQ(given["seed"], 1);
    EXPECT_EQ(given["decay"], 0.5);
}

// The consensus: the same bytes for 1 and 4 threads, and every entry the geometric mean of the
// two engines' entries of the same seed (their goldens), with the ensemble's sign; 0 on the
// diagonal. GRN.dat rounds to 12 decimals, so the squares agree to 3e-12. --decay means nothing
// to the ensemble engine: a warning.
TEST_F(TreeRun, ConsensusIsThreadIndependentAndDecayWarnsElsewhere) {
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat";
    ASSERT_EQ(run({"--engine", "consensus", "--threads", "1", "--output-dir", dir_.string(),
                   data.string()}),
              0)
        << err_.str();
    EXPECT_NE(out_.str().find("engine:       consensus, seed 0\n"
                              "runs:         43 subsets of 10 genes\n"
                              "trees:        500 per target, decay estimated"),
              std::string::npos)
        << out_.str();
    const std::string one = read(dir_ / "GRN.dat");
    ASSERT_EQ(run({"--engine", "consensus", "--threads", "4", "--output-dir", dir_.string(),
                   data.string()}),
              0);
    EXPECT_EQ(read(dir_ / "GRN.dat"), one);
    const fs::path golden = fs::path(CLI_TEST_DIR) / "golden";
    std::istringstream values(one);
    std::istringstream trees(read(golden / "four_courses_trees_seed_0" / "GRN.dat"));
    std::istringstream ensemble(read(golden / "four_courses_ensemble_seed_0" / "GRN.dat"));
    int count = 0;
    int scored = 0;
    for (double v = 0.0, t = 0.0, e = 0.0; values >> v && trees >> t && ensemble >> e; ++count) {
        if (count % 21 == 0) {
            EXPECT_EQ(v, 0.0) << count;  // the diagonal of 20 x 20
            continue;
        }
        EXPECT_NEAR(v * v, std::abs(t) * std::abs(e), 3e-12) << count;
        if (v != 0.0) {
            EXPECT_EQ(v < 0.0, e < 0.0) << count;
        }
        scored += std::abs(v) > 1e-3;
    }
    EXPECT_EQ(count, 400);
    EXPECT_GT(scored, 300);

    ASSERT_EQ(run({"--engine", "ensemble", "--decay", "0.1", "--output-dir", dir_.string(),
                   data.string()}),
              0);
    EXPECT_EQ(err_.str(),
              "netrevia-batch: warning: --decay has no effect with --engine ensemble\n");
}

// A budget too small for the tree engine's arrays refuses the run before they exist, naming
// what it needs and the budget; nothing is written.
TEST_F(TreeRun, TreeEngineRefusesARunAboveTheMemoryBudget) {
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat";
    EXPECT_EQ(run({"--engine", "trees", "--threads", "1", "--max-memory", "24K", "--output-dir",
                   dir_.string(), data.string()}),
              1);
    // Designs 4 x 20 x 20 doubles, n^2 x 52 bytes of matrices, one worker's 808 bytes; the
    // courses 4 x 6 x 20 doubles.
    EXPECT_NE(err_.str().find(", courses: the run needs 38248 bytes (20 genes, 20 intervals: "
                              "34408 bytes for the tree engine, 3840 bytes for the courses), "
                              "more than the memory budget of 24576 bytes\n"),
              std::string::npos)
        << err_.str();
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

}  // namespace
}  // namespace netrevia::cli
