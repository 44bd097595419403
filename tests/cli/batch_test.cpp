#include "cli/batch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "batch_fixture.h"
#include "output/result_folder.h"
#include "support/support.h"

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

class BatchRun : public netrevia::cli_testing::BatchFixture {
protected:
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

// The worked example through the whole tool: the five edges in the order the file lists them
// (grouped by regulated gene, then by regulator) and the matrix rows in GRN.dat.
TEST_F(BatchRun, WorkedExampleGivesItsFiveEdgesInOrder) {
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), example_}), 0) << err_.str();
    const std::string graph = read(dir_ / "GRN.dot");
    const std::string blue = " \t\t[color=\"blue\"]\r\n";
    const std::string red = " \t\t[color=\"red\"] \r\n";
    const std::string edges =
        "G1         ->  G1       \r\n" + blue + "G1         ->  G2       \r\n" + red +
        "G3         ->  G2       \r\n" + blue + "G1         ->  G3       \r\n" + blue +
        "G3         ->  G3       \r\n" + red + " \t} \r\n";
    ASSERT_GE(graph.size(), edges.size());
    EXPECT_EQ(graph.substr(graph.size() - edges.size()), edges);

    const std::string matrix = read(dir_ / "GRN.dat");
    ASSERT_EQ(matrix.size(), 3u * (75u + 2u));
    const double expected[3][3] = {{1, 0, 0}, {-2.0 / 3.0, 0, 2.0 / 3.0}, {0.5, 0, -1}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(matrix.substr(i * 77 + 75, 2), "\r\n");
        for (std::size_t j = 0; j < 3; ++j) {
            const double value = std::stod(matrix.substr(i * 77 + j * 25, 25));
            EXPECT_NEAR(value, expected[i][j], 1e-6) << "R(" << i + 1 << "," << j + 1 << ")";
        }
    }
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

TEST_F(BatchRun, OutputFolderThatCannotBeMadeIsNamedWithTheReason) {
    const fs::path blocked = dir_ / "not-a-folder";
    std::ofstream(blocked) << "a file where the folder should be";
    EXPECT_EQ(run({"--output-dir", blocked.string(), example_}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: the output folder " + blocked.string() +
                              " exists but is not a folder\n");
    EXPECT_EQ(run({"--output-dir", (blocked / "sub").string(), example_}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: cannot create the output folder " +
                              (blocked / "sub").string() + ": Not a directory\n");
}

TEST_F(BatchRun, MissingOutputFoldersAreMadeAndRemovedAgainWhenTheRunFails) {
    const fs::path nested = dir_ / "a" / "b";
    EXPECT_EQ(run({"--output-dir", nested.string(), (dir_ / "missing.dat").string()}), 1);
    EXPECT_FALSE(fs::exists(dir_ / "a"));
    ASSERT_EQ(run({"--quiet", "--output-dir", nested.string(), example_}), 0) << err_.str();
    EXPECT_TRUE(fs::exists(nested / "GRN.dat"));
    EXPECT_NE(out_.str().find("created:      " + nested.string() + " (new output folder)\n"),
              std::string::npos)
        << out_.str();
    ASSERT_EQ(run({"--quiet", "--output-dir", nested.string(), example_}), 0);
    EXPECT_EQ(out_.str().find("created:"), std::string::npos) << out_.str();
}

TEST_F(BatchRun, BadCommandLineNamesTheArgumentInOneLineAndExitsTwo) {
    EXPECT_EQ(run({"--lambda", "fast", example_}), 2);
    EXPECT_EQ(err_.str(),
              "netrevia-batch: 'fast' is not a number (--lambda) (see netrevia-batch --help)\n");
    EXPECT_EQ(out_.str(), "");
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

// The data file argument is the path exactly: "x.dat " is not x.dat.
TEST_F(BatchRun, DataFileArgumentIsTakenExactly) {
    const fs::path copy = dir_ / "x.dat";
    fs::copy_file(example_, copy);
    EXPECT_EQ(run({"--quiet", "--output-dir", dir_.string(), copy.string() + " "}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: file not found, unit 7, file " + copy.string() + " \n");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

// Write-protected results are kept: the run is refused before any work, naming the unit and
// file; a writable result is replaced and keeps its mode.
TEST_F(BatchRun, WriteProtectedResultsAreKeptAndModesCarryOver) {
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), example_}), 0) << err_.str();
    const std::string dat = read(dir_ / "GRN.dat");
    const std::string dot = read(dir_ / "GRN.dot");
    const auto read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(dir_ / "GRN.dat", read_only);
    fs::permissions(dir_ / "GRN.dot", read_only);
    const std::string twenty = std::string(EXAMPLES_DIR) + "/twenty_genes.dat";
    EXPECT_EQ(run({"--quiet", "--output-dir", dir_.string(), twenty}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: write error: Permission denied, unit 3, file " +
                              (dir_ / "GRN.dat").string() +
                              "\nnetrevia-batch: choose a folder you can write to with "
                              "--output-dir DIR\n");
    EXPECT_EQ(read(dir_ / "GRN.dat"), dat);
    EXPECT_EQ(read(dir_ / "GRN.dot"), dot);
    EXPECT_EQ(fs::status(dir_ / "GRN.dot").permissions(), read_only);

    const auto owner_only = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(dir_ / "GRN.dat", owner_only);
    fs::permissions(dir_ / "GRN.dot", owner_only);
    EXPECT_EQ(run({"--quiet", "--output-dir", dir_.string(), twenty}), 0) << err_.str();
    EXPECT_NE(read(dir_ / "GRN.dat"), dat);
    EXPECT_EQ(fs::status(dir_ / "GRN.dat").permissions(), owner_only);
    EXPECT_EQ(fs::status(dir_ / "GRN.dot").permissions(), owner_only);
}

// While another run holds the folder, --no-wait fails at once and writes nothing.
TEST_F(BatchRun, NoWaitFailsWhileAnotherRunHoldsTheFolder) {
    netrevia::output::ResultFolderLock other(dir_, netrevia::output::LockWait::kNoWait);
    EXPECT_EQ(run({"--quiet", "--no-wait", "--output-dir", dir_.string(), example_}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: output folder " + dir_.string() +
                              " is in use by another run (lock file " +
                              (dir_ / ".GRN.lock").string() +
                              "); try again later, or leave out --no-wait\n");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

// A drawing goes through a temporary file: a planted GRN.svg link is replaced, not written
// through; a failed drawing keeps the new results, leaves no picture (an earlier one would
// show another network) and exits 3; a folder named like an option reaches Graphviz as a path.
TEST_F(BatchRun, DrawingNeverWritesThroughALinkAndFailsWithExitThree) {
    if (std::system("command -v dot > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "Graphviz not installed";
    std::ofstream(dir_ / "target") << "kept";
    fs::create_symlink(dir_ / "target", dir_ / "GRN.svg");
    ASSERT_EQ(run({"--quiet", "--render", "svg", "--output-dir", dir_.string(), example_}), 0)
        << err_.str();
    EXPECT_EQ(read(dir_ / "target"), "kept");
    EXPECT_FALSE(fs::is_symlink(dir_ / "GRN.svg"));
    EXPECT_NE(read(dir_ / "GRN.svg").find("<svg"), std::string::npos);

    fs::remove(dir_ / "GRN.dat");
    EXPECT_EQ(run({"--quiet", "--render", "svg", "--layout", "false", "--output-dir", dir_.string(),
                   example_}),
              3);
    EXPECT_EQ(err_.str(), "netrevia-batch: 'false' could not draw " + (dir_ / "GRN.svg").string() +
                              " (GRN.dat and GRN.dot were written)\n");
    EXPECT_TRUE(fs::exists(dir_ / "GRN.dat"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot", "edges.tsv",
                                               "run.json", "target"}));

    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    fs::create_directory("-T");
    const int code = run({"--quiet", "--render", "png", "--output-dir", "-T", example_});
    fs::current_path(previous);
    EXPECT_EQ(code, 0) << err_.str();
    EXPECT_TRUE(fs::exists(dir_ / "-T" / "GRN.png"));
}

}  // namespace

namespace {

// Whole runs with 1, 2 and 4 worker threads must give the committed results byte for byte: the
// fits of one iteration run in parallel, but each lands in its own place and every sum keeps
// its order.
class ThreadCountTest : public BatchRun,
                        public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {
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
            EXPECT_TRUE(netrevia::test_support::matches_golden(
                read(dir_ / file), golden / file,
                golden.filename().string() + "_" + file + "_threads_" + threads));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    ThreadCountTest,
    ::testing::Combine(::testing::Values(std::string("four_courses"), std::string("two_courses")),
                       ::testing::Values(std::string("0"), std::string("0.05"))),
    [](const auto& run_param) {
        // "four_courses_lambda_0_05": letters, digits and underscores only.
        std::string name =
            std::string(std::get<0>(run_param.param)) + "_lambda_" + std::get<1>(run_param.param);
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST(BatchArgs, ThreadCountMustBeAPositiveWholeNumber) {
    EXPECT_EQ(parse_args({"--threads", "3", "d.dat"}).options.threads, 3);
    for (const char* bad : {"0", "-1", "1.5", "two", ""}) {
        EXPECT_EQ(parse_args({std::string("--threads=") + bad, "d.dat"}).outcome,
                  ParseOutcome::kError)
            << bad;
    }
}

}  // namespace

namespace {

// The summary separates the edges between distinct genes from the self-edges GRN.dot also
// draws, and hints at a better threshold when the one given only removes rounding-level
// entries (below 1e-3 of the largest |R(i,j)|, i != j).
class BatchSummary : public BatchRun {
protected:
    bool hinted() const { return out_.str().find("hint:") != std::string::npos; }
    std::string three_genes_ = std::string(EXAMPLES_DIR) + "/three_genes.dat";
};

TEST_F(BatchSummary, ThreeGenesAtDefaultThresholdCountsEdgesAndHints) {
    // R = (1, 0, 0; -2/3, 0, 2/3; 0.5, 0, -1) with ~1e-8 in column 2: five edges, two of them
    // on the diagonal; the largest off-diagonal entry is 2/3, so the hint suggests 0.13.
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), three_genes_}), 0) << err_.str();
    const std::string summary = out_.str();
    EXPECT_NE(summary.find("3 between distinct genes of 6 possible, 2 self-edges\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("hint:         nearly every nonzero entry is drawn; try --threshold "
                           "0.13 (0.2 x the largest |R(i,j)|, i != j)\n"),
              std::string::npos)
        << summary;
}

TEST_F(BatchSummary, SensibleThresholdGetsNoHint) {
    ASSERT_EQ(run({"--quiet", "--threshold", "0.13", "--output-dir", dir_.string(), three_genes_}),
              0);
    EXPECT_FALSE(hinted()) << out_.str();
    ASSERT_EQ(run({"--quiet", "--threshold", "0.6", "--output-dir", dir_.string(), three_genes_}),
              0);
    EXPECT_FALSE(hinted()) << out_.str();
    EXPECT_NE(out_.str().find("4 (2 positive, 2 negative)"), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("2 between distinct genes of 6 possible, 2 self-edges"),
              std::string::npos)
        << out_.str();
}

TEST_F(BatchSummary, HintStopsAtAThousandthOfTheLargestEntry) {
    // 1e-3 x 2/3 = 6.67e-4; negative thresholds draw everything and are hinted too.
    for (const char* below : {"6.6e-4", "0", "-1"}) {
        ASSERT_EQ(
            run({"--quiet", "--threshold", below, "--output-dir", dir_.string(), three_genes_}), 0);
        EXPECT_TRUE(hinted()) << below;
    }
    ASSERT_EQ(
        run({"--quiet", "--threshold", "6.7e-4", "--output-dir", dir_.string(), three_genes_}), 0);
    EXPECT_FALSE(hinted());
}

TEST_F(BatchSummary, DistinctGeneCountAgreesWithTheScoredExample) {
    // examples/README.md: at threshold 0.1 the scorer counts 54 off-diagonal edges of 380.
    const std::string twenty = std::string(EXAMPLES_DIR) + "/twenty_genes.dat";
    ASSERT_EQ(run({"--quiet", "--threshold", "0.1", "--output-dir", dir_.string(), twenty}), 0);
    EXPECT_NE(out_.str().find("54 between distinct genes of 380 possible"), std::string::npos)
        << out_.str();
}

TEST_F(BatchSummary, AllZeroMatrixGetsNoHint) {
    // Two datasets with 2 x lambda > 1: every median step returns 0, R is all zero.
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "two_courses.dat";
    ASSERT_EQ(run({"--quiet", "--lambda", "1", "--output-dir", dir_.string(), data.string()}), 0);
    EXPECT_NE(out_.str().find("0 between distinct genes of 870 possible, 0 self-edges"),
              std::string::npos)
        << out_.str();
    EXPECT_FALSE(hinted()) << out_.str();
}

}  // namespace

namespace {

TEST(BatchArgs, MaxMemoryTakesBytesOrBinarySuffixes) {
    using netrevia::cli::parse_size;
    EXPECT_EQ(parse_size("4096"), 4096U);
    EXPECT_EQ(parse_size("512M"), std::uint64_t{512} << 20);
    EXPECT_EQ(parse_size("4g"), std::uint64_t{4} << 30);
    EXPECT_EQ(parse_size("1K"), 1024U);
    EXPECT_EQ(parse_size("16777215T"), std::uint64_t{16777215} << 40);
    for (const char* bad : {"", "0", "0G", "-1", "1.5G", "4GB", "G", "16777216T", "1 G"}) {
        EXPECT_FALSE(parse_size(bad).has_value()) << bad;
    }
    const auto parsed = parse_args({"--max-memory=2G", "--no-wait", "d.dat"});
    EXPECT_EQ(parsed.outcome, ParseOutcome::kRun);
    EXPECT_EQ(parsed.options.max_memory, std::uint64_t{2} << 30);
    EXPECT_TRUE(parsed.options.no_wait);
    EXPECT_EQ(parse_args({"--max-memory", "lots", "d.dat"}).outcome, ParseOutcome::kError);
}

TEST(BatchArgs, EngineIsExactFastOrEnsemble) {
    using netrevia::selection::Engine;
    EXPECT_EQ(parse_args({"d.dat"}).options.engine, Engine::kExact);
    EXPECT_EQ(parse_args({"--engine", "fast", "d.dat"}).options.engine, Engine::kFast);
    EXPECT_EQ(parse_args({"--engine=exact", "d.dat"}).options.engine, Engine::kExact);
    EXPECT_EQ(parse_args({"--engine=ensemble", "d.dat"}).options.engine, Engine::kEnsemble);
    for (const char* bad : {"Fast", "", "lad", "fast,exact"}) {
        EXPECT_EQ(parse_args({std::string("--engine=") + bad, "d.dat"}).outcome,
                  ParseOutcome::kError)
            << bad;
    }
    EXPECT_EQ(parse_args({"--engine", "lad", "d.dat"}).error,
              "--engine takes exact, fast, ensemble, trees or consensus, not 'lad'");
}

// The ensemble engine's scores lie in [0, 1], so it has a threshold of its own unless one is
// given; --top replaces the threshold and cannot go with one.
TEST(BatchArgs, EnsembleThresholdSeedAndTop) {
    EXPECT_EQ(parse_args({"--engine", "ensemble", "d.dat"}).options.threshold, 0.75);
    EXPECT_EQ(parse_args({"--threshold", "0.5", "--engine", "ensemble", "d.dat"}).options.threshold,
              0.5);
    EXPECT_EQ(parse_args({"--engine", "fast", "d.dat"}).options.threshold, 1e-6);

    EXPECT_EQ(parse_args({"d.dat"}).options.seed, 0u);
    EXPECT_EQ(parse_args({"--seed", "18446744073709551615", "d.dat"}).options.seed,
              18446744073709551615u);
    EXPECT_EQ(parse_args({"--top=12", "d.dat"}).options.top_edges, 12);
    for (const auto& args :
         {std::vector<std::string>{"--seed", "-1", "d.dat"},
          std::vector<std::string>{"--seed", "18446744073709551616", "d.dat"},
          std::vector<std::string>{"--seed=", "d.dat"},
          std::vector<std::string>{"--seed", "1.5", "d.dat"},
          std::vector<std::string>{"--top", "0", "d.dat"},
          std::vector<std::string>{"--top", "x", "d.dat"},
          std::vector<std::string>{"--top", "3", "--threshold", "0.5", "d.dat"}}) {
        EXPECT_EQ(parse_args(args).outcome, ParseOutcome::kError) << ::testing::PrintToString(args);
    }
}

// The committed seed-0 result, byte for byte for 1, 2 and 4 threads; another seed draws other
// subsets. Lambda is ignored with a warning; the summary names the seed and the runs.
TEST_F(BatchRun, EnsembleFilesMatchGoldenForEveryThreadCount) {
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat";
    const fs::path golden = fs::path(CLI_TEST_DIR) / "golden" / "four_courses_ensemble_seed_0";
    for (const char* threads : {"1", "2", "4"}) {
        ASSERT_EQ(run({"--engine", "ensemble", "--threads", threads, "--lambda", "0.3",
                       "--output-dir", dir_.string(), data.string()}),
                  0)
            << err_.str();
        EXPECT_EQ(err_.str(),
                  "netrevia-batch: warning: --lambda has no effect with --engine "
                  "ensemble\n");
        EXPECT_NE(out_.str().find("engine:       ensemble, seed 0\n"
                                  "runs:         43 subsets of 10 genes\n"),
                  std::string::npos)
            << out_.str();
        for (const char* file : {"GRN.dat", "GRN.dot"}) {
            EXPECT_TRUE(read(dir_ / file) == read(golden / file)) << file << ", " << threads;
        }
    }
    ASSERT_EQ(
        run({"--engine", "ensemble", "--seed", "1", "--output-dir", dir_.string(), data.string()}),
        0);
    EXPECT_EQ(err_.str(), "");
    EXPECT_FALSE(read(dir_ / "GRN.dat") == read(golden / "GRN.dat"));
}

// The values of a GRN.dat file, row by row.
std::vector<double> matrix_values(const fs::path& file) {
    std::ifstream in(file);
    std::vector<double> values;
    for (double v = 0.0; in >> v;) values.push_back(v);
    return values;
}

// The worked example (3 genes, one free direction): the fast engine's fits carry no
// single-precision rounding, so R has the rows (1, 0, 0), (-2/3, 0, 2/3), (0.5, 0, -1) to the
// 12 decimals of GRN.dat, where the exact engine leaves entries of about 1e-8 for the zeros.
TEST_F(BatchRun, FastEngineSolvesTheWorkedExampleToRounding) {
    ASSERT_EQ(run({"--quiet", "--engine", "fast", "--output-dir", dir_.string(), example_}), 0)
        << err_.str();
    const std::vector<double> expected = {1.0,       0.0, 0.0, -2.0 / 3.0, 0.0,
                                          2.0 / 3.0, 0.5, 0.0, -1.0};
    const std::vector<double> fast = matrix_values(dir_ / "GRN.dat");
    ASSERT_EQ(fast.size(), expected.size());
    for (std::size_t e = 0; e < expected.size(); ++e) EXPECT_NEAR(fast[e], expected[e], 1e-12) << e;
}

// The fast engine through the batch tool: the committed exact results to 1e-5 of the largest
// entry (lambda > 0 makes every median step's minimiser unique, so the two engines follow the
// same path), and the same bytes for every thread count.
TEST_F(BatchRun, FastEngineAgreesWithTheExactGoldenResults) {
    for (const char* name : {"four_courses", "two_courses"}) {
        const fs::path data = fs::path(CLI_TEST_DIR) / "data" / (std::string(name) + ".dat");
        const fs::path golden =
            fs::path(CLI_TEST_DIR) / "golden" / (std::string(name) + "_lambda_0.05");
        std::string first;
        for (const char* threads : {"1", "2"}) {
            ASSERT_EQ(run({"--quiet", "--engine", "fast", "--threads", threads, "--lambda", "0.05",
                           "--output-dir", dir_.string(), data.string()}),
                      0)
                << err_.str();
            const std::string actual = read(dir_ / "GRN.dat");
            if (first.empty()) {
                first = actual;
            } else {
                EXPECT_TRUE(actual == first) << name << ": 1 and 2 threads differ";
            }
        }
        const std::vector<double> expected = matrix_values(golden / "GRN.dat");
        const std::vector<double> fast = matrix_values(dir_ / "GRN.dat");
        ASSERT_EQ(fast.size(), expected.size()) << name;
        double largest = 0.0;
        double difference = 0.0;
        for (std::size_t e = 0; e < expected.size(); ++e) {
            largest = std::max(largest, std::abs(expected[e]));
            difference = std::max(difference, std::abs(fast[e] - expected[e]));
        }
        EXPECT_GT(largest, 0.0) << name;
        EXPECT_LE(difference, 1e-5 * largest) << name;
    }
}

}  // namespace

namespace {

// A stop request seen before the commit: exit 128 + signal, the earlier results untouched and
// no temporary file left.
TEST_F(BatchRun, StopRequestBeforeTheCommitChangesNoFile) {
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), example_}), 0) << err_.str();
    const std::string matrix = read(dir_ / "GRN.dat");
    const std::string record = read(dir_ / "run.json");
    netrevia::cli::StopRequest stop;
    stop.signal = 15;
    stop.cancel = true;
    out_.str("");
    err_.str("");
    const std::string other = std::string(CLI_TEST_DIR) + "/data/two_courses.dat";
    EXPECT_EQ(
        batch_main({"--quiet", "--output-dir", dir_.string(), other}, out_, err_, false, &stop),
        143);
    EXPECT_EQ(err_.str(), "netrevia-batch: stopped by signal 15; no result file was changed\n");
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(read(dir_ / "GRN.dat"), matrix);
    EXPECT_EQ(read(dir_ / "run.json"), record);
    // GRN.dat, GRN.dot, the default exports edges.tsv and run.json, and the folder's lock file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 5);
}

// The real tool on a run of a few seconds: SIGINT and SIGTERM stop it with 130 and 143, and
// the output folder stays exactly as it was (no results, no temporary files).
TEST(BatchSignals, InterruptAndTerminateStopTheRunWithoutWritingFiles) {
    const fs::path dir = fs::temp_directory_path() / "netrevia-batch-signals";
    fs::remove_all(dir);
    fs::create_directories(dir / "out");
    const std::string data = (dir / "hundred_genes.dat").string();
    const std::string simulate = std::string(SIMULATE_PATH) +
                                 " --genes 100 --courses 4 --points 12 --seed 3 --input"
                                 " --out-data " +
                                 data + " --out-truth " + (dir / "truth.tsv").string();
    ASSERT_EQ(std::system(simulate.c_str()), 0);
    for (const auto& [signal_number, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string out_dir = (dir / "out").string();
            execl(BATCH_PATH, BATCH_PATH, "--quiet", "--output-dir", out_dir.c_str(), data.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        kill(child, signal_number);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), code);
        fs::remove(dir / "out" / ".GRN.lock");  // the lock file of the run stays
        EXPECT_TRUE(fs::is_empty(dir / "out"));
    }
    fs::remove_all(dir);
}

}  // namespace

namespace {

TEST(BatchArgs, OptionsWithoutAValueRefuseOne) {
    for (const char* flag : {"--quiet", "--no-wait", "--no-self-loops", "--help", "--version"}) {
        const auto parsed = parse_args({std::string(flag) + "=1", "d.dat"});
        EXPECT_EQ(parsed.outcome, ParseOutcome::kError) << flag;
        EXPECT_EQ(parsed.error, std::string("option '") + flag + "' takes no value: write '" +
                                    flag + "', not '" + flag + "=1'");
    }
}

class BatchRefusals : public BatchRun {};

// An input that is a file the run would replace is refused before any work (nothing made, not
// even the lock file), under any name: the result's own path, another spelling, a link, a hard
// link. Files this run does not write may be inputs.
TEST_F(BatchRefusals, InputThatIsAResultFileIsRefused) {
    const fs::path out = dir_ / "out";
    fs::create_directory(out);
    fs::copy_file(example_, out / "GRN.dat");
    const std::string message =
        " that this run would replace with its results; copy it "
        "elsewhere, or choose another folder with --output-dir\n";
    EXPECT_EQ(run({"--quiet", "--output-dir", out.string(), (out / "GRN.dat").string()}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: the input " + (out / "GRN.dat").string() +
                              " is the file " + (out / "GRN.dat").string() + message);
    fs::create_symlink(out / "GRN.dat", dir_ / "link.dat");
    fs::create_hard_link(out / "GRN.dat", dir_ / "hard.dat");
    const std::string spelled = (dir_ / "out" / "." / ".." / "out" / "GRN.dat").string();
    for (const std::string& input :
         {(dir_ / "link.dat").string(), (dir_ / "hard.dat").string(), spelled}) {
        EXPECT_EQ(run({"--quiet", "--output-dir", out.string(), input}), 1) << input;
    }
    fs::rename(out / "GRN.dat", out / "run.json");
    EXPECT_EQ(run({"--quiet", "--output-dir", (dir_ / "." / "out").string(),
                   (out / "run.json").string()}),
              1);
    EXPECT_EQ(err_.str(), "netrevia-batch: the input " + (out / "run.json").string() +
                              " is the file " + (out / "run.json").string() + message);
    EXPECT_EQ(read(out / "run.json"), read(example_));
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);

    // GRN.svg is only the drawing's: an input without --render, refused with it.
    fs::rename(out / "run.json", out / "GRN.svg");
    EXPECT_EQ(run({"--quiet", "--render", "svg", "--output-dir", out.string(),
                   (out / "GRN.svg").string()}),
              1);
    EXPECT_EQ(run({"--quiet", "--export", "none", "--output-dir", out.string(),
                   (out / "GRN.svg").string()}),
              0)
        << err_.str();
    EXPECT_EQ(read(out / "GRN.svg"), read(example_));
}

// Negative values run as the method takes them, with a warning each: every entry becomes an
// edge (zeros as activations), nine for three genes.
TEST_F(BatchRefusals, NegativeLambdaAndThresholdRunWithAWarning) {
    ASSERT_EQ(run({"--quiet", "--lambda", "-1", "--threshold", "-0.5", "--output-dir",
                   dir_.string(), example_}),
              0);
    EXPECT_EQ(err_.str(),
              "netrevia-batch: warning: --lambda -1 is negative: the sparsity term then rewards "
              "nonzero entries instead of pulling them towards zero, so the network comes out "
              "denser\n"
              "netrevia-batch: warning: --threshold -0.5 is negative: every entry of R becomes an "
              "edge, those above -0.5 (zeros included) as activations, the others as "
              "repressions\n");
    EXPECT_NE(out_.str().find("edges:        9 "), std::string::npos) << out_.str();
    ASSERT_EQ(run({"--quiet", "--lambda", "0", "--threshold", "0", "--output-dir", dir_.string(),
                   example_}),
              0);
    EXPECT_EQ(err_.str(), "");
}

// --top K with --no-self-loops: K edges between distinct genes (the worked example's largest
// entries are the self-terms 1 and -1, so --top 2 used to draw none); GRN.dot keeps the
// self-terms beyond the same cut, and the summary says so.
TEST_F(BatchRefusals, TopCountsDistinctGenesWithoutSelfLoops) {
    ASSERT_EQ(
        run({"--quiet", "--top", "2", "--no-self-loops", "--output-dir", dir_.string(), example_}),
        0);
    EXPECT_NE(out_.str().find("edges:        4 (2 positive, 2 negative) at threshold 0.5 (--top 2 "
                              "between distinct genes)\n"
                              "              2 between distinct genes of 6 possible, 2 "
                              "self-edges (in GRN.dot only: --no-self-loops)\n"),
              std::string::npos)
        << out_.str();
    ASSERT_EQ(run({"--quiet", "--top", "2", "--output-dir", dir_.string(), example_}), 0);
    EXPECT_NE(out_.str().find("edges:        2 (1 positive, 1 negative) at threshold 0.666667 "
                              "(--top 2)\n"
                              "              0 between distinct genes of 6 possible, 2 "
                              "self-edges\n"),
              std::string::npos)
        << out_.str();
}

}  // namespace
