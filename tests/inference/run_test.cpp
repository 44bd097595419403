#include "inference/run.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "inference/data_file.h"
#include "numeric/matrix_ref.h"
#include "output/io_error.h"

namespace netrevia::inference {
namespace {

const std::string kData = TEST_DATA_DIR;
const std::string kExample = std::string(EXAMPLES_DIR) + "/three_genes.dat";

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each test writes its results into a fresh folder of its own, removed afterwards.
class InferenceRun : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ =
            std::filesystem::temp_directory_path() / ("netrevia-run-" + std::string(info->name()) +
                                                      "-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir_);
        options_.output_dir = dir_;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Nothing but the lock file, which every run creates in its output folder and leaves.
    bool folder_is_empty() const {
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            if (entry.path().filename() != ".GRN.lock") return false;
        }
        return true;
    }

    std::filesystem::path dir_;
    RunOptions options_;
};

// The worked example: one dataset, z_1 = 1, and R with rows (1, 0, 0), (-2/3, 0, 2/3),
// (0.5, 0, -1) up to the single-precision rounding of the fit coefficients.
TEST_F(InferenceRun, ExampleFileGivesTheWorkedExample) {
    int observed = 0;
    options_.observer = [&](int, double) { ++observed; };
    const InferredNetwork network = infer_network(kExample, 0.0, options_);
    EXPECT_EQ(network.n, 3);
    EXPECT_EQ(network.K, 1);
    EXPECT_EQ(network.gene_names,
              (std::vector<std::string>{"G1       ", "G2       ", "G3       "}));
    EXPECT_EQ(network.time_point_counts, (std::array<int, 4>{3, 0, 0, 0}));
    EXPECT_EQ(network.zero_counts, (std::array<int, 4>{1, 0, 0, 0}));
    EXPECT_EQ(observed, network.iterations);
    ASSERT_EQ(network.R.size(), 9u);
    const double expected[3][3] = {{1, 0, 0}, {-2.0 / 3, 0, 2.0 / 3}, {0.5, 0, -1}};
    const numeric::ConstMatrixRef R{network.R.data(), 3};
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) EXPECT_NEAR(R(i, j), expected[i - 1][j - 1], 1e-6);
    }
    // R reproduces the rates of change: R A^T = D, A the first two time points on the linear
    // scale (rows (1, 2, 1) and (2, 2, 0.5)), D by gene (1, 2), (0, -1), (-0.5, 0.5).
    const double A[2][3] = {{1, 2, 1}, {2, 2, 0.5}};
    const double D[3][2] = {{1, 2}, {0, -1}, {-0.5, 0.5}};
    for (int i = 1; i <= 3; ++i) {
        for (int j = 0; j < 2; ++j) {
            double rate = 0.0;
            for (int l = 1; l <= 3; ++l) rate += R(i, l) * A[j][l - 1];
            EXPECT_NEAR(rate, D[i - 1][j], 1e-6);
        }
    }
}

TEST_F(InferenceRun, WritesBothFilesAndCountsTheirEdges) {
    const RunSummary summary = run_inference(kExample, 0.0, 1e-6, options_);
    EXPECT_EQ(summary.positive_edges, 3);  // 1 -> 1, 3 -> 2, 1 -> 3
    EXPECT_EQ(summary.negative_edges, 2);  // 1 -> 2, 3 -> 3
    EXPECT_EQ(summary.matrix_file, dir_ / "GRN.dat");
    EXPECT_EQ(summary.graphviz_file, dir_ / "GRN.dot");
    EXPECT_FALSE(contents(summary.matrix_file).empty());
    const std::string graph = contents(summary.graphviz_file);
    std::size_t arrows = 0;
    for (auto at = graph.find("->"); at != std::string::npos; at = graph.find("->", at + 2)) {
        ++arrows;
    }
    EXPECT_EQ(arrows, 5u);

    const RunSummary none = run_inference(kExample, 0.0, 10.0, options_);
    EXPECT_EQ(none.positive_edges + none.negative_edges, 0);
}

TEST_F(InferenceRun, TwoRunsInARowWriteTheSameFiles) {
    run_inference(kExample, 0.0, 1e-6, options_);
    const std::string matrix = contents(dir_ / "GRN.dat");
    const std::string graph = contents(dir_ / "GRN.dot");
    run_inference(kExample, 0.0, 1e-6, options_);
    EXPECT_EQ(contents(dir_ / "GRN.dat"), matrix);
    EXPECT_EQ(contents(dir_ / "GRN.dot"), graph);
}

TEST_F(InferenceRun, TrailingBlanksOfThePathFieldAreNotPartOfTheName) {
    std::string field = kExample;
    field.resize(260, ' ');
    const InferredNetwork padded = infer_network(field, 0.0, options_);
    EXPECT_EQ(padded.R, infer_network(kExample, 0.0, options_).R);
}

TEST_F(InferenceRun, MissingOrBlankPathIsFileNotFoundAndWritesNothing) {
    const std::string missing = (dir_ / "missing.dat").string();
    try {
        run_inference(missing + "   ", 0.0, 1e-6, options_);
        ADD_FAILURE() << "no IoError";
    } catch (const output::IoError& e) {
        EXPECT_STREQ(e.what(), ("file not found, unit 7, file " + missing).c_str());
    }
    for (const std::string field : {"", "   "}) {
        try {
            run_inference(field, 0.0, 1e-6, options_);
            ADD_FAILURE() << "no IoError for \"" << field << "\"";
        } catch (const output::IoError& e) {
            EXPECT_STREQ(e.what(), "file not found, unit 7, file ");
        }
    }
    EXPECT_TRUE(folder_is_empty());
}

TEST_F(InferenceRun, MissingEndMarkerIsFatalAndWritesNothing) {
    const std::string file = kData + "/no_end_marker.dat";
    try {
        run_inference(file, 0.0, 1e-6, options_);
        ADD_FAILURE() << "no IoError";
    } catch (const output::IoError& e) {
        EXPECT_STREQ(e.what(), ("end-of-file during read, unit 7, file " + file).c_str());
    }
    EXPECT_TRUE(folder_is_empty());
}

TEST_F(InferenceRun, RejectedFileWritesNothing) {
    const std::string file = kData + "/overflowing_value.dat";
    try {
        run_inference(file, 0.0, 1e-6, options_);
        ADD_FAILURE() << "no rejection";
    } catch (const DataFileRejected& e) {
        EXPECT_STREQ(e.what(), ("data file " + file +
                                ", dataset block 1: expression value 10000 of gene 3 (G3) at time "
                                "point 3 is out of range: its linear scale 2^x is not finite")
                                   .c_str());
    }
    EXPECT_TRUE(folder_is_empty());
}

TEST_F(InferenceRun, WindowsLineEndsGiveTheSameNetwork) {
    const InferredNetwork crlf = infer_network(kData + "/three_genes_crlf.dat", 0.0, options_);
    const InferredNetwork lf = infer_network(kExample, 0.0, options_);
    EXPECT_EQ(crlf.gene_names, lf.gene_names);
    EXPECT_EQ(crlf.R, lf.R);
}

// The stores hold min(K', 4) slices, not K': two billion declared datasets cost nothing.
TEST_F(InferenceRun, HugeDeclaredDatasetCountDoesNotSizeTheStores) {
    const InferredNetwork huge = infer_network(kData + "/huge_declared_count.dat", 0.0, options_);
    EXPECT_EQ(huge.K, 1);
    EXPECT_EQ(huge.R, infer_network(kExample, 0.0, options_).R);
}

TEST_F(InferenceRun, FirstMarkerEndGivesNoDatasetAndAZeroNetwork) {
    const RunSummary summary = run_inference(kData + "/first_marker_end.dat", 0.0, 1e-6, options_);
    const InferredNetwork& network = summary.network;
    EXPECT_EQ(network.n, 3);
    EXPECT_EQ(network.K, 0);
    EXPECT_EQ(network.gene_names,
              (std::vector<std::string>{"G1       ", "G2       ", "G3       "}));
    EXPECT_EQ(network.R, std::vector<double>(9, 0.0));
    EXPECT_EQ(summary.positive_edges + summary.negative_edges, 0);
    EXPECT_TRUE(std::filesystem::exists(summary.matrix_file));
    EXPECT_TRUE(std::filesystem::exists(summary.graphviz_file));
}

// A file of no genes runs: its block is read and counted, there is nothing to solve.
TEST_F(InferenceRun, NoGenesGiveAnEmptyNetwork) {
    const RunSummary summary = run_inference(kData + "/no_genes.dat", 0.0, 1e-6, options_);
    EXPECT_EQ(summary.network.n, 0);
    EXPECT_EQ(summary.network.K, 1);
    EXPECT_EQ(summary.network.time_point_counts, (std::array<int, 4>{2, 0, 0, 0}));
    EXPECT_TRUE(summary.network.R.empty());
    EXPECT_TRUE(std::filesystem::exists(summary.graphviz_file));
}

// Fewer blocks than declared (K' = 4, two blocks), each with its own T.
TEST_F(InferenceRun, DatasetsWithDifferentTimePointCounts) {
    const InferredNetwork network = infer_network(kData + "/two_datasets.dat", 0.0, options_);
    EXPECT_EQ(network.K, 2);
    EXPECT_EQ(network.time_point_counts, (std::array<int, 4>{6, 9, 0, 0}));
    // Five and eight intervals for three genes: the state matrices have full rank.
    EXPECT_EQ(network.zero_counts, (std::array<int, 4>{0, 0, 0, 0}));
    ASSERT_EQ(network.R.size(), 9u);
    for (double r : network.R) EXPECT_TRUE(std::isfinite(r));
}

// Cancelling at any safe point throws RunCancelled and leaves the folder's earlier results
// exactly as they were: during the set-up (the observer sees each dataset in order), during
// the selection, and after a finished selection just before the commit.
TEST_F(InferenceRun, CancelledRunThrowsAndLeavesEarlierResultsUntouched) {
    const std::string data = kData + "/two_datasets.dat";
    std::vector<int> datasets;
    options_.dataset_observer = [&](int k) { datasets.push_back(k); };
    run_inference(data, 0.0, 1e-6, options_);
    EXPECT_EQ(datasets, (std::vector<int>{1, 2, 0}));
    const std::string matrix = contents(dir_ / "GRN.dat");
    const std::string graph = contents(dir_ / "GRN.dot");

    std::atomic<bool> cancel{false};
    options_.cancel = &cancel;
    datasets.clear();
    options_.dataset_observer = [&](int k) {
        datasets.push_back(k);
        if (k == 2) cancel = true;
    };
    EXPECT_THROW(run_inference(data, 0.0, 1e-6, options_), RunCancelled);
    EXPECT_EQ(datasets, (std::vector<int>{1, 2}));  // stopped before block 2 was solved

    options_.dataset_observer = nullptr;
    cancel = false;
    options_.observer = [&](int, double) { cancel = true; };
    EXPECT_THROW(run_inference(data, 0.0, 1e-6, options_), RunCancelled);
    cancel = false;
    options_.observer = [&](int iteration, double) { cancel = iteration == 1; };
    EXPECT_THROW(run_inference(kExample, 0.0, 1e-6, options_), RunCancelled);  // before commit

    EXPECT_EQ(contents(dir_ / "GRN.dat"), matrix);
    EXPECT_EQ(contents(dir_ / "GRN.dot"), graph);
    // GRN.dat, GRN.dot and the folder's lock file: no temporary file stays.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                            std::filesystem::directory_iterator()),
              3);
}

}  // namespace
}  // namespace netrevia::inference
