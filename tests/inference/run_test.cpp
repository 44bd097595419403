#include "inference/run.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ensemble/ensemble.h"
#include "inference/data_file.h"
#include "inference/input_error.h"
#include "numeric/matrix_ref.h"
#include "support/support.h"

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
    void SetUp() override { options_.output_dir = dir_; }

    // Nothing but the lock file, which every run creates in its output folder and leaves.
    bool folder_is_empty() const {
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            if (entry.path().filename() != ".GRN.lock") return false;
        }
        return true;
    }

    netrevia::test_support::TempDir temp_{"netrevia-run"};
    const std::filesystem::path dir_ = temp_.path();
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
    EXPECT_EQ(network.time_point_counts, (std::array<int, kMaxEnsembleBlocks>{3, 0, 0, 0}));
    EXPECT_EQ(network.zero_counts, (std::array<int, kMaxEnsembleBlocks>{1, 0, 0, 0}));
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
    EXPECT_EQ(summary.self_edges, 2);      // 1 -> 1, 3 -> 3
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
        ADD_FAILURE() << "no InputError";
    } catch (const InputError& e) {
        EXPECT_STREQ(e.what(), ("file not found, unit 7, file " + missing).c_str());
    }
    for (const std::string field : {"", "   "}) {
        try {
            run_inference(field, 0.0, 1e-6, options_);
            ADD_FAILURE() << "no InputError for \"" << field << "\"";
        } catch (const InputError& e) {
            EXPECT_STREQ(e.what(), "file not found, unit 7, file ");
        }
    }
    EXPECT_TRUE(folder_is_empty());
}

TEST_F(InferenceRun, MissingEndMarkerIsFatalAndWritesNothing) {
    const std::string file = kData + "/no_end_marker.dat";
    try {
        run_inference(file, 0.0, 1e-6, options_);
        ADD_FAILURE() << "no InputError";
    } catch (const InputError& e) {
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
    EXPECT_EQ(summary.network.time_point_counts, (std::array<int, kMaxEnsembleBlocks>{2, 0, 0, 0}));
    EXPECT_TRUE(summary.network.R.empty());
    EXPECT_TRUE(std::filesystem::exists(summary.graphviz_file));
}

// Fewer blocks than declared (K' = 4, two blocks), each with its own T.
TEST_F(InferenceRun, DatasetsWithDifferentTimePointCounts) {
    const InferredNetwork network = infer_network(kData + "/two_datasets.dat", 0.0, options_);
    EXPECT_EQ(network.K, 2);
    EXPECT_EQ(network.time_point_counts, (std::array<int, kMaxEnsembleBlocks>{6, 9, 0, 0}));
    // Five and eight intervals for three genes: the state matrices have full rank.
    EXPECT_EQ(network.zero_counts, (std::array<int, kMaxEnsembleBlocks>{0, 0, 0, 0}));
    // Each block's solution in its own slice of the stores: R bit for bit.
    EXPECT_EQ(network.R, (std::vector<double>{
                             -0.61999292393906325, -0.99849076472584397, 1.3360547041182012,
                             0.68311303003394963, 0.28012748730692361, -0.61186055454307775,
                             -0.1028465411143157, 0.64999985263677429, -0.66929015807159309}));
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

// A data file of K courses of n genes (G1, G2, ...) and T points at times 0, 0.5, 1, ...; the
// log2 level of gene g at point j of course k is pseudo-random in [0, 2), and
// levels[k] (T x n, linear scale) receives what the run should read.
std::string courses_file(int K, int n, int T, std::vector<std::vector<double>>& levels) {
    std::mt19937_64 engine(42);
    std::ostringstream out;
    out << "Number of datasets\n" << K << "\nNumber of genes\n" << n << "\nGene names\n";
    for (int g = 1; g <= n; ++g) out << "G" << g << "\n";
    levels.assign(static_cast<std::size_t>(K),
                  std::vector<double>(static_cast<std::size_t>(T * n)));
    for (int k = 1; k <= K; ++k) {
        out << "Set" << k << "\nCourse\nGenes and time points\n"
            << n << " " << T << "\nTime points\n";
        for (int j = 0; j < T; ++j) out << 0.5 * j << " ";
        out << "\nReserved\n1.0\nExpression values (log2)\n";
        for (int g = 0; g < n; ++g) {
            for (int j = 0; j < T; ++j) {
                const double x = static_cast<double>(engine() % 2000) / 1000.0;
                out << x << " ";
                levels[static_cast<std::size_t>(k - 1)][static_cast<std::size_t>(j + g * T)] =
                    std::pow(2.0, x);
            }
            out << "\n";
        }
    }
    out << "END\n";
    return out.str();
}

class EnsembleRun : public InferenceRun {
protected:
    std::string write(const std::string& name, const std::string& text) {
        const std::string file = (dir_ / name).string();
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
};

// Six courses: beyond the exact engines' four blocks, within the ensemble engine's 64. The run
// hands the courses over unchanged: R is what the estimator gives on the levels themselves.
TEST_F(EnsembleRun, ReadsUpToSixtyFourCoursesAndHandsThemOverUnchanged) {
    std::vector<std::vector<double>> levels;
    const std::string file = write("six.dat", courses_file(6, 5, 4, levels));
    EXPECT_THROW(infer_network(file, 0.0, options_), DataFileRejected);

    options_.engine = selection::Engine::kEnsemble;
    options_.seed = 9;
    const InferredNetwork network = infer_network(file, 0.0, options_);
    EXPECT_EQ(network.K, 6);
    EXPECT_EQ(network.time_point_counts[5], 4);
    EXPECT_EQ(network.time_point_counts[6], 0);
    EXPECT_EQ(network.subset_size, 4);  // ceil(10 / 3)
    EXPECT_EQ(network.runs, 17);        // ceil(200 / 12)

    const std::vector<double> t = {0.0, 0.5, 1.0, 1.5};
    std::vector<ensemble::Course> courses;
    for (const std::vector<double>& Y : levels) courses.push_back({4, t, Y});
    EXPECT_EQ(network.R, ensemble::infer({5, courses, 9, 1, {}}).R);
}

TEST_F(EnsembleRun, MoreThanSixtyFourCoursesAreRejected) {
    std::vector<std::vector<double>> levels;
    const std::string file = write("many.dat", courses_file(65, 2, 2, levels));
    options_.engine = selection::Engine::kEnsemble;
    try {
        infer_network(file, 0.0, options_);
        ADD_FAILURE() << "no rejection";
    } catch (const DataFileRejected& e) {
        EXPECT_STREQ(
            e.what(),
            ("data file " + file + ", dataset block 65: more than 64 dataset blocks").c_str());
    }
}

// Two courses of two points: 2 intervals, fewer than the 4 that two genes and an intercept need.
TEST_F(EnsembleRun, CoursesTooShortForTwoGenesAreRefusedWithTheirCounts) {
    std::vector<std::vector<double>> levels;
    const std::string file = write("short.dat", courses_file(2, 3, 2, levels));
    options_.engine = selection::Engine::kEnsemble;
    try {
        run_inference(file, 0.0, 0.5, options_);
        ADD_FAILURE() << "no rejection";
    } catch (const DataFileRejected& e) {
        EXPECT_STREQ(e.what(), ("data file " + file +
                                ": the ensemble engine needs at least 4 intervals (time points "
                                "less one, over all courses) to fit 2 genes and an intercept; "
                                "the 2 course(s) hold 2")
                                   .c_str());
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "GRN.dat"));
}

TEST_F(EnsembleRun, NoGenesGiveAnEmptyNetwork) {
    options_.engine = selection::Engine::kEnsemble;
    const InferredNetwork network = infer_network(kData + "/no_genes.dat", 0.0, options_);
    EXPECT_EQ(network.K, 1);
    EXPECT_TRUE(network.R.empty());
}

// --top: the worked example has five entries of 0.5 to 1 and four of rounding size; the
// five are drawn, with the threshold at the sixth largest |R(i,j)|.
TEST_F(InferenceRun, TopEdgesDrawTheLargestEntries) {
    options_.top_edges = 5;
    const RunSummary summary = run_inference(kExample, 0.0, 0.9, options_);
    EXPECT_EQ(summary.positive_edges + summary.negative_edges, 5);
    EXPECT_LT(summary.threshold, 1e-6);
    EXPECT_GT(summary.threshold, 0.0);
    options_.top_edges = 9;  // every entry: the threshold is 0, zeros stay undrawn
    EXPECT_EQ(run_inference(kExample, 0.0, 0.9, options_).threshold, 0.0);
    options_.top_edges = 0;
    EXPECT_EQ(run_inference(kExample, 0.0, 0.9, options_).threshold, 0.9);
}

}  // namespace
}  // namespace netrevia::inference
