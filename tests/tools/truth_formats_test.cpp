#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "output/matrix_file.h"
#include "output/network_exports.h"
#include "tools/score.h"

namespace netrevia::tools {
namespace {

TEST(TruthFormats, DetectedFromTheFirstLine) {
    EXPECT_EQ(detect_truth_format("# c\nG1\tG2\t1\nG2\tG1\t0\n"), TruthFormat::kDream);
    EXPECT_EQ(detect_truth_format("Gene1,Gene2,Type\nA,B,+\n"), TruthFormat::kBeeline);
    EXPECT_EQ(detect_truth_format("# genes A B\nA\tB\t+\t0.5\n"), TruthFormat::kOwn);
    EXPECT_EQ(detect_truth_format("A B -\n"), TruthFormat::kOwn);
}

TEST(TruthFormats, DreamKeepsOnlyListedEdgesWithoutSigns) {
    const Truth t =
        read_truth_text("G2\tG1\t1\nG1\tG3\t0\nG3\tG3\t1\nG1\tG2\t1\n", TruthFormat::kAuto);
    EXPECT_EQ(t.genes, (std::vector<std::string>{"G2", "G1", "G3"}));  // first mention
    ASSERT_EQ(t.edges.size(), 2u);
    EXPECT_EQ(t.edges[0].regulator, 0);
    EXPECT_EQ(t.edges[0].target, 1);
    EXPECT_EQ(t.self_edges, std::vector<int>{2});
    EXPECT_FALSE(t.signs_known);
    // The data file's order wins over the order of mention.
    const Truth ordered = read_truth_text("G2\tG1\t1\n", TruthFormat::kDream, {"G1", "G2"});
    EXPECT_EQ(ordered.edges[0].regulator, 1);
    EXPECT_THROW(read_truth_text("G1\tG2\t2\n", TruthFormat::kDream), std::runtime_error);
}

TEST(TruthFormats, BeelineSignsOnlyWithTypeColumn) {
    const Truth typed = read_truth_text("Gene1,Gene2,Type\nA,B,-\nB,C,+\n", TruthFormat::kAuto);
    EXPECT_TRUE(typed.signs_known);
    ASSERT_EQ(typed.edges.size(), 2u);
    EXPECT_LT(typed.edges[0].weight, 0.0);
    EXPECT_GT(typed.edges[1].weight, 0.0);
    const Truth bare = read_truth_text("Gene1,Gene2\r\nA,B\r\n", TruthFormat::kAuto);
    EXPECT_FALSE(bare.signs_known);
    EXPECT_EQ(bare.genes, (std::vector<std::string>{"A", "B"}));
    EXPECT_THROW(read_truth_text("Source,Target\nA,B\n", TruthFormat::kBeeline),
                 std::runtime_error);
}

TEST(PrecisionAt, TieAcrossTheCutCountsInProportion) {
    // k = 2: 0.9 (true) is in; 0.5, 0.5, 0.5 (one true) share the last place: 1 + 1/3.
    EXPECT_DOUBLE_EQ(precision_at({0.9, 0.5, 0.5, 0.5, 0.1}, {true, false, true, false, true}, 2),
                     (1.0 + 1.0 / 3.0) / 2.0);
    EXPECT_DOUBLE_EQ(precision_at({3, 2, 1}, {false, true, true}, 2), 0.5);
    EXPECT_TRUE(std::isnan(precision_at({1.0}, {true}, 0)));
}

// The same matrix through GRN.dat and through edges.tsv scores the same: the edge list is an
// exact, named form of the matrix.
TEST(EdgeList, ScoresAsTheMatrixDoes) {
    const std::vector<std::string> genes{"HLA-A", "NF-kB", "14-3-3", "2310002L13Rik"};
    // Distinct magnitudes well apart at 12 decimals, a zero, and self-terms.
    const std::vector<double> R{-1.0,  0.25, 0.0,  -0.125,  0.5,   -2.0,    0.0625, 0.75,
                                0.375, 0.0,  -0.9, 0.03125, 0.875, -0.4375, 0.6,    -1.5};
    std::istringstream truth_in(
        "# genes\tHLA-A\tNF-kB\t14-3-3\t2310002L13Rik\nHLA-A\tNF-kB\t+\nNF-kB\t14-3-3\t-\n"
        "2310002L13Rik\tHLA-A\t+\nHLA-A\tHLA-A\t-\n");
    const Truth truth = read_truth(truth_in);

    std::ostringstream matrix;
    output::format_matrix(matrix, {R.data(), 4}, 4);
    std::istringstream matrix_in(matrix.str());
    const Score from_matrix = score_network(truth, read_matrix_file(matrix_in, 4), nullptr);

    std::ostringstream edges;
    output::format_edge_list(edges, genes, output::rank_edges({R.data(), 4}, 4, true), 0.1);
    ASSERT_TRUE(is_edge_list(edges.str()));
    std::vector<std::string> order = truth.genes;
    const std::vector<double> back = read_edge_list(edges.str(), order);
    EXPECT_EQ(back, R);
    EXPECT_EQ(order, truth.genes);
    const Score from_edges = score_network(truth, back, nullptr);
    EXPECT_EQ(from_edges.auroc, from_matrix.auroc);
    EXPECT_EQ(from_edges.aupr, from_matrix.aupr);
    EXPECT_EQ(from_edges.auroc_all, from_matrix.auroc_all);
    EXPECT_EQ(from_edges.early_precision, from_matrix.early_precision);
    EXPECT_EQ(from_matrix.true_edges_all, from_matrix.true_edges + 1);

    // A gene only the edge list names joins at the end.
    std::vector<std::string> few{"HLA-A"};
    const auto grown = read_edge_list("rank\tregulator\ttarget\tweight\n1\tX\tHLA-A\t0.5\n", few);
    EXPECT_EQ(few, (std::vector<std::string>{"HLA-A", "X"}));
    EXPECT_EQ(grown, (std::vector<double>{0.0, 0.0, 0.5, 0.0}));
    EXPECT_THROW(read_edge_list("rank\tregulator\ttarget\tweight\n1\tX\tY\tbad\n", few),
                 std::runtime_error);

    // Names with quotes, which edges.tsv writes quoted, come back whole.
    std::vector<std::string> quoted{"\"G4\"", "a\"b"};
    const std::vector<double> Q{0.0, 0.5, -0.25, 0.0};
    std::ostringstream quoted_edges;
    output::format_edge_list(quoted_edges, quoted, output::rank_edges({Q.data(), 2}, 2, true), 0);
    EXPECT_EQ(read_edge_list(quoted_edges.str(), quoted), Q);
    EXPECT_EQ(quoted, (std::vector<std::string>{"\"G4\"", "a\"b"}));
}

}  // namespace
}  // namespace netrevia::tools
