// The ranking and the cut without a window: counts against the batch tool's summary for the
// same cuts, the top-K threshold on ties, zeros and NaN, the cap, and the suggested threshold.
#include "viewer/results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "support/support.h"
#include "viewer_testing.h"

namespace netrevia::viewer {
namespace {

namespace fs = std::filesystem;

struct Counts {
    int edges = -1;
    int positive = -1;
    int negative = -1;
    int between = -1;
    int self = -1;
    friend bool operator==(const Counts&, const Counts&) = default;
};

std::ostream& operator<<(std::ostream& out, const Counts& c) {
    return out << c.edges << " (" << c.positive << "+, " << c.negative << "-), " << c.between
               << " between, " << c.self << " self";
}

// The edge lines of the batch tool's summary for the cut given by args.
Counts batch_counts(const std::vector<std::string>& cut, const fs::path& folder) {
    std::vector<std::string> args{"--quiet", "--export", "none", "--output-dir", folder.string()};
    args.insert(args.end(), cut.begin(), cut.end());
    args.push_back(std::string(EXAMPLES_DIR) + "/twenty_genes.dat");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::batch_main(args, out, err, false), 0) << err.str();
    Counts c;
    std::istringstream lines(out.str());
    std::string line;
    while (std::getline(lines, line)) {
        std::sscanf(line.c_str(), "edges: %d (%d positive, %d negative)", &c.edges, &c.positive,
                    &c.negative);
        std::sscanf(line.c_str(), " %d between distinct genes of %*d possible, %d self-edges",
                    &c.between, &c.self);
    }
    return c;
}

Counts window_counts(const CutNetwork& cut) {
    const int edges = cut.positive_edges + cut.negative_edges;
    return {edges, cut.positive_edges, cut.negative_edges, edges - cut.self_edges, cut.self_edges};
}

TEST(Results, CutCountsEqualTheBatchToolsForThresholdsAndTopK) {
    const test_support::TempDir folder("netrevia-viewer-cut");
    const Results results(
        viewer_testing::window_run(fs::path(EXAMPLES_DIR) / "twenty_genes.dat", folder.path()));
    struct Case {
        Cut cut;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases{
        {{1.0e-6, 0, true}, {"--threshold", "1e-6"}},
        {{0.39, 0, true}, {"--threshold", "0.39"}},
        {{0.05, 0, true}, {"--threshold", "0.05"}},
        {{1.9491, 0, true}, {"--threshold", "1.9491"}},
        {{100.0, 0, true}, {"--threshold", "100"}},
        {{0.0, 1, true}, {"--top", "1"}},
        {{0.0, 25, true}, {"--top", "25"}},
        {{0.0, 25, false}, {"--top", "25", "--no-self-loops"}},
        {{0.0, 399, true}, {"--top", "399"}},
        {{0.0, 400, true}, {"--top", "400"}},
        {{0.0, 5000, true}, {"--top", "5000"}},
    };
    for (const Case& c : cases) {
        const CutNetwork cut = results.apply(c.cut);
        EXPECT_EQ(window_counts(cut), batch_counts(c.args, folder.path())) << c.args[1];
        // The drawing holds the same edges, less the self-terms when they are left out.
        const Counts counts = window_counts(cut);
        EXPECT_EQ(cut.drawn,
                  static_cast<std::size_t>(c.cut.self_loops ? counts.edges : counts.between))
            << c.args[1];
        EXPECT_EQ(cut.shown.size(), cut.drawn);
    }
}

// R of three genes, column-major: a three-way tie at 0.5 (one a self-term), a NaN, a zero.
//        j=1    j=2    j=3
// i=1    0.5   -0.5    0.2
// i=2    0.5    NaN    0.1
// i=3   -0.2    0     -0.3
std::vector<double> small_R() { return {0.5, 0.5, -0.2, -0.5, NAN, 0.0, 0.2, 0.1, -0.3}; }

TEST(Results, RanksAsEdgesTsvAndCutsTopKAtTies) {
    const Results results(viewer_testing::results_of(3, small_R()));
    // Between genes by |R|, ties by regulator then target, then the self-terms; no NaN, no 0.
    std::vector<std::vector<double>> rows;
    for (const output::RankedEdge& e : results.ranked(true))
        rows.push_back({double(e.rank), double(e.regulator), double(e.target), e.weight});
    EXPECT_EQ(rows, (std::vector<std::vector<double>>{{1, 1, 2, 0.5},
                                                      {2, 2, 1, -0.5},
                                                      {3, 1, 3, -0.2},
                                                      {4, 3, 1, 0.2},
                                                      {5, 3, 2, 0.1},
                                                      {6, 1, 1, 0.5},
                                                      {7, 3, 3, -0.3}}));
    EXPECT_EQ(results.ranked(false).size(), 5u);

    // The (K+1)-th largest of the nine |R(i,j)|, NaN as 0: 0.5 0.5 0.5 0.3 0.2 0.2 0.1 0 0.
    const double expected[] = {0.5, 0.5, 0.5, 0.3, 0.2, 0.2, 0.1, 0.0, 0.0, 0.0, 0.0};
    for (int K = 0; K <= 10; ++K) EXPECT_EQ(results.top_threshold(K), expected[K]) << K;
    // Without self-terms, of the six between distinct genes: 0.5 0.5 0.2 0.2 0.1 0.
    const double between[] = {0.5, 0.5, 0.2, 0.2, 0.1, 0.0, 0.0, 0.0};
    for (int K = 0; K <= 7; ++K) EXPECT_EQ(results.top_threshold(K, false), between[K]) << K;

    // Top 1 ties three ways at the cut: nothing is drawn, as the batch tool's --top says.
    EXPECT_EQ(results.apply({0.0, 1, true}).drawn, 0u);
    const CutNetwork top3 = results.apply({0.0, 3, true});
    EXPECT_EQ(top3.threshold, 0.3);
    EXPECT_EQ(window_counts(top3), (Counts{3, 2, 1, 2, 1}));
    ASSERT_EQ(top3.shown.size(), 3u);
    EXPECT_EQ(top3.shown[2].rank, 6);  // the self-term after the two between genes
    EXPECT_EQ(top3.between_shown, 2);

    // A negative threshold makes every entry above it an activation, zeros included, as
    // GRN.dot counts them; the drawing never holds a zero or a NaN.
    const CutNetwork all = results.apply({-1.0, 0, true});
    EXPECT_EQ(window_counts(all), (Counts{8, 8, 0, 6, 2}));
    EXPECT_EQ(all.drawn, 7u);
    EXPECT_EQ(results.apply({NAN, 0, true}).drawn, 0u);
}

// The top-K threshold against a plain sort of all n x n magnitudes, on matrices full of ties,
// zeros and NaN, for every K: the merge of the two ranked runs must pick the same entry.
TEST(Results, TopThresholdIsTheKPlusFirstLargestMagnitudeForEveryK) {
    std::mt19937 engine(7);
    const double values[] = {0.0, 0.1, -0.1, 0.2, -0.2, 0.5, -0.5, 1.5, NAN};
    for (int n = 1; n <= 7; ++n) {
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<double> R(static_cast<std::size_t>(n) * n);
            for (double& r : R) r = values[engine() % 9];
            std::vector<double> magnitudes;
            for (const double r : R) magnitudes.push_back(std::isnan(r) ? 0.0 : std::abs(r));
            std::sort(magnitudes.begin(), magnitudes.end(), std::greater<>());
            const Results results(viewer_testing::results_of(n, R));
            for (int K = 0; K <= n * n + 1; ++K) {
                const double expected = K < n * n ? magnitudes[static_cast<std::size_t>(K)] : 0.0;
                ASSERT_EQ(results.top_threshold(K), expected)
                    << n << " genes, trial " << trial << ", K " << K;
            }
        }
    }
}

TEST(Results, CapKeepsTheStrongestAndCountsTheRest) {
    const Results results(viewer_testing::results_of(3, small_R()));
    const CutNetwork capped = results.apply({0.15, 0, true}, 3);
    EXPECT_EQ(capped.drawn, 6u);  // four between genes, two self-terms
    ASSERT_EQ(capped.shown.size(), 3u);
    EXPECT_EQ(capped.shown[0].rank, 1);
    EXPECT_EQ(capped.shown[2].rank, 3);
    EXPECT_EQ(capped.between_shown, 3);
    // Without self-terms they neither count as drawn nor take a place under the cap.
    const CutNetwork no_self = results.apply({0.15, 0, false}, 5);
    EXPECT_EQ(no_self.drawn, 4u);
    EXPECT_EQ(no_self.shown.size(), 4u);
    EXPECT_EQ(no_self.self_edges, 2);  // the counts keep them, as GRN.dot does
}

TEST(Results, SuggestedThresholdIsTheHintAsPrintedAndExportsTakeTheCut) {
    EXPECT_EQ(rounded_as_hint(0.38982), 0.39);
    EXPECT_EQ(rounded_as_hint(1.2345e-5), 1.2e-5);
    EXPECT_EQ(rounded_as_hint(0.0), 0.0);
    const Results none(viewer_testing::results_of(2, {1.0, 0.0, 0.0, 2.0}));
    EXPECT_EQ(none.largest_between(), 0.0);
    EXPECT_EQ(none.suggested_threshold(), 0.0);

    const Results results(viewer_testing::results_of(3, small_R(), 1.0e-6));
    EXPECT_EQ(results.largest_between(), 0.5);
    EXPECT_EQ(results.suggested_threshold(), 0.1);
    EXPECT_FALSE(results.suggests_engine_default());
    // The engines that score pairs suggest their own default, never a share of the largest
    // score (0.2 of about 1 would draw more than the default does).
    for (const auto& [engine, expected] : {std::pair{"ensemble", 0.75}, std::pair{"trees", 0.07},
                                           std::pair{"consensus", 0.2}, std::pair{"fast", 0.1}}) {
        viewer::RunResults run = viewer_testing::results_of(3, small_R(), 1.0e-6);
        run.record.engine = engine;
        const Results scored(std::move(run));
        EXPECT_EQ(scored.suggested_threshold(), expected) << engine;
        EXPECT_EQ(scored.suggests_engine_default(), std::string(engine) != "fast") << engine;
    }
    // --top 3 --no-self-loops: the fourth largest between distinct genes, 0.2 (a tie at the cut
    // leaves two); GRN.dot's counts keep the self-terms 0.5 and -0.3 beyond it.
    const CutNetwork cut = results.apply({0.0, 3, false});
    const inference::RunSummary summary = results.summary_for(cut);
    EXPECT_EQ(summary.threshold, 0.2);
    EXPECT_EQ(summary.positive_edges, 2);
    EXPECT_EQ(summary.negative_edges, 2);
    EXPECT_EQ(summary.self_edges, 2);
    const exports::RunRecord record = results.record_for(cut);
    EXPECT_EQ(record.threshold, 0.2);
    EXPECT_FALSE(record.self_edges);
    EXPECT_EQ(results.run().summary.threshold, 1.0e-6);  // the run's own stays as written
}

}  // namespace
}  // namespace netrevia::viewer
