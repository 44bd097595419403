#include "tools/score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "output/graphviz_file.h"
#include "tools/simulate.h"

namespace {

using netrevia::tools::DrawnEdge;
using netrevia::tools::Truth;

// Names padded to the 9 characters of the Graphviz names line.
std::string names_line(const std::string& regulator, const std::string& target) {
    return regulator + std::string(9 - regulator.size(), ' ') + "  ->  " + target +
           std::string(9 - target.size(), ' ');
}

Truth three_edges() {
    std::istringstream in(
        "# made by hand\n# genes\tA\tB\tC\tD\nregulator\ttarget\tsign\tweight\n"
        "A\tB\t+\t0.5\nB\tC\t-\t-1.25\nC\tA\t+\t2\nD\tD\t-\t-3\n");
    return netrevia::tools::read_truth(in);
}

TEST(Auroc, PerfectReversedAndTiedRankings) {
    const std::vector<bool> labels = {true, false, true, false, false};
    EXPECT_DOUBLE_EQ(netrevia::tools::auroc({5, 1, 4, 2, 3}, labels), 1.0);
    EXPECT_DOUBLE_EQ(netrevia::tools::auroc({1, 5, 2, 4, 3}, labels), 0.0);
    EXPECT_DOUBLE_EQ(netrevia::tools::auroc({7, 7, 7, 7, 7}, labels), 0.5);
    EXPECT_TRUE(std::isnan(netrevia::tools::auroc({1, 2}, {false, false})));
}

TEST(Auroc, HandComputedCaseWithTies) {
    // Ascending ranks: 0.1 -> 1; 0.5, 0.5 -> 2.5; 0.8, 0.8 -> 4.5; 0.9 -> 6. Positives hold
    // 6 + 4.5 + 2.5 = 13, so U = 13 - 3*4/2 = 7 of P N = 9 pairs.
    const std::vector<double> scores = {0.8, 0.5, 0.9, 0.1, 0.8, 0.5};
    const std::vector<bool> labels = {true, false, true, false, false, true};
    EXPECT_DOUBLE_EQ(netrevia::tools::auroc(scores, labels), 7.0 / 9.0);
}

TEST(AveragePrecision, StepwiseOverTieGroups) {
    // Thresholds 0.9 | 0.8 (1 of 2 true) | 0.5 (1 of 2 true) | 0.1: each group adds 1/3 of
    // recall at precision 1/1, 2/3, 3/5: 1/3 + 2/9 + 1/5 = 34/45.
    const std::vector<double> scores = {0.8, 0.5, 0.9, 0.1, 0.8, 0.5};
    const std::vector<bool> labels = {true, false, true, false, false, true};
    EXPECT_DOUBLE_EQ(netrevia::tools::average_precision(scores, labels), 34.0 / 45.0);
    EXPECT_DOUBLE_EQ(netrevia::tools::average_precision({3, 2, 1}, {true, true, false}), 1.0);
    // All tied: the precision of the whole list, the share of positives.
    EXPECT_DOUBLE_EQ(netrevia::tools::average_precision({1, 1, 1, 1}, {true, false, false, false}),
                     0.25);
}

TEST(ReadTruth, TakesGeneOrderEdgesAndSignsAndDropsSelfEdges) {
    const Truth t = three_edges();
    ASSERT_EQ(t.genes.size(), 4u);
    ASSERT_EQ(t.edges.size(), 3u);
    EXPECT_EQ(t.edges[1].regulator, 1);
    EXPECT_EQ(t.edges[1].target, 2);
    EXPECT_LT(t.edges[1].weight, 0.0);
    std::istringstream unknown("# genes A B\nA\tZ\t+\t1\n");
    EXPECT_THROW(netrevia::tools::read_truth(unknown), std::runtime_error);
    std::istringstream no_order("A\tB\t+\t1\n");
    EXPECT_THROW(netrevia::tools::read_truth(no_order), std::runtime_error);
}

TEST(ReadDataFileGenes, ReadsTheNamesOfTheHeader) {
    std::istringstream in(
        "Number of datasets\n1\nNumber of genes\n3\nGene names\nG1\n'Two "
        "words'\nLongGeneName12\nSet1\n");
    EXPECT_EQ(netrevia::tools::read_data_file_genes(in),
              (std::vector<std::string>{"G1", "Two words", "LongGeneN"}));
    // Names that clash in their first 9 characters, as GRN.dat and GRN.dot name them (both
    // read as "LongGeneN" before, and the truth's edges of the second went to the first).
    std::istringstream clash(
        "Number of datasets\n1\nNumber of genes\n3\nGene names\nLongGeneName1\nG2\n"
        "LongGeneName2\nSet1\n");
    EXPECT_EQ(netrevia::tools::read_data_file_genes(clash),
              (std::vector<std::string>{"LongGen~1", "G2", "LongGen~2"}));
}

TEST(ReadMatrixFile, FixedFieldsAsteriskAndBlankSplit) {
    const std::string zero = std::string(11, ' ') + "0.000000000000";
    const std::string neg = std::string(10, ' ') + "-1.500000000000";
    const std::string big = std::string(25, '*');
    std::istringstream in(zero + neg + "\r\n" + big + zero + "\r\n");
    const auto R = netrevia::tools::read_matrix_file(in, 2);
    EXPECT_EQ(R[0], 0.0);                                      // R(1,1)
    EXPECT_EQ(R[2], -1.5);                                     // R(1,2): row 1 is the first line
    EXPECT_EQ(R[1], std::numeric_limits<double>::infinity());  // R(2,1)
    std::istringstream loose("1 -2\n3.5e-1 4\n");
    const auto L = netrevia::tools::read_matrix_file(loose, 2);
    EXPECT_EQ(L, (std::vector<double>{1, 0.35, -2, 4}));
    std::istringstream short_row(zero + neg + "\r\n" + zero + "\r\n");
    EXPECT_THROW(netrevia::tools::read_matrix_file(short_row, 2), std::runtime_error);
    std::istringstream few_rows(zero + neg + "\r\n");
    EXPECT_THROW(netrevia::tools::read_matrix_file(few_rows, 2), std::runtime_error);
}

TEST(ScoreNetwork, PrecisionRecallAndColoursOfAHandWrittenDot) {
    const Truth t = three_edges();
    // A -> B right colour, B -> C wrong colour, D -> A false, C -> C a self edge.
    std::istringstream dot(
        " digraph \"Gene regulatory network\" {   \r\n \t\t\tcolor=\"black\"\r\n" +
        names_line("A", "B") + "\r\n \t\t[color=\"blue\"]\r\n" + names_line("B", "C") +
        "\r\n \t\t[color=\"blue\"]\r\n" + names_line("C", "C") + "\r\n \t\t[color=\"red\"] \r\n" +
        names_line("D", "A") + "\r\n \t\t[color=\"red\"] \r\n \t} \r\n");
    const auto edges = netrevia::tools::read_dot_edges(dot, t.genes);
    ASSERT_EQ(edges.size(), 4u);
    EXPECT_EQ(edges[3].regulator, 3);
    EXPECT_EQ(edges[3].target, 0);
    EXPECT_FALSE(edges[3].positive);

    // R(target, regulator), column-major 4 x 4: true edges get 0.9, 0.8 (wrong sign), 0.1;
    // the false D -> A gets 0.5, everything else 0.
    std::vector<double> R(16, 0.0);
    const auto at = [&](int i, int j) -> double& {
        return R[static_cast<std::size_t>((i - 1) + (j - 1) * 4)];
    };
    at(2, 1) = 0.9;
    at(3, 2) = 0.8;
    at(1, 3) = 0.1;
    at(1, 4) = -0.5;
    at(3, 3) = 7.0;  // diagonal: not ranked
    const auto s = netrevia::tools::score_network(t, R, &edges);
    EXPECT_EQ(s.true_edges, 3);
    EXPECT_EQ(s.drawn, 3);
    EXPECT_EQ(s.self_drawn, 1);
    EXPECT_EQ(s.hits, 2);
    EXPECT_DOUBLE_EQ(s.precision, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(s.recall, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(s.f1, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(s.sign_dot, 0.5);
    EXPECT_DOUBLE_EQ(s.sign_matrix, 2.0 / 3.0);
    // 12 candidates, 3 true. Ascending ranks: eight zeros 1..8, 0.1 -> 9, 0.5 (false) -> 10,
    // 0.8 -> 11, 0.9 -> 12; U = 9 + 11 + 12 - 6 = 26 of 27 pairs. Precision at the three hits:
    // 1/1, 2/2, 3/4.
    EXPECT_DOUBLE_EQ(s.auroc, 26.0 / 27.0);
    EXPECT_DOUBLE_EQ(s.aupr, (1.0 + 1.0 + 3.0 / 4.0) / 3.0);
}

TEST(ScoreNetwork, UnknownNameInDotAndMissingColourAreErrors) {
    const Truth t = three_edges();
    std::istringstream unknown(names_line("A", "Q") + "\n \t\t[color=\"blue\"]\n");
    EXPECT_THROW(netrevia::tools::read_dot_edges(unknown, t.genes), std::runtime_error);
    std::istringstream no_colour(names_line("A", "B") + "\n");
    EXPECT_THROW(netrevia::tools::read_dot_edges(no_colour, t.genes), std::runtime_error);
}

TEST(ScoreNetwork, SimulatedTruthScoresItsOwnMatrixPerfectly) {
    netrevia::tools::SimulationOptions opt;
    opt.genes = 30;
    opt.points = {3};
    const auto sim = netrevia::tools::simulate(opt);
    std::ostringstream out;
    write_truth_file(out, sim, opt);
    std::istringstream in(out.str());
    const Truth t = netrevia::tools::read_truth(in);
    EXPECT_EQ(t.genes, sim.names);
    const auto s = netrevia::tools::score_network(t, sim.net.J, nullptr);
    EXPECT_GE(s.true_edges, 30);
    EXPECT_EQ(s.auroc, 1.0);
    EXPECT_EQ(s.aupr, 1.0);
    EXPECT_EQ(s.sign_matrix, 1.0);
    std::ostringstream line;
    write_score(line, s, false);
    EXPECT_NE(line.str().find(" auroc=1 "), std::string::npos) << line.str();
    EXPECT_NE(line.str().find(" precision=NA "), std::string::npos) << line.str();
}

// GRN.dot as the writer makes it, quoted names included (names that are not plain identifiers,
// and clashing names the run made distinct): every edge comes back, in the writer's order and
// colour. Quoted names used to end the scoring with "unknown gene name".
TEST(ScoreNetwork, ReadsEveryEdgeTheWriterDrawsQuotedNamesIncluded) {
    const std::vector<std::string> genes{"G1", "HLA-A", "a\"b\\c", "LongGen~1", "LongGen~2"};
    std::vector<std::string> fields;
    for (const std::string& g : genes) fields.push_back(g + std::string(9 - g.size(), ' '));
    const int n = 5;
    std::vector<double> R(25);
    for (std::size_t k = 0; k < R.size(); ++k)
        R[k] = (k % 3 == 0 ? -1.0 : 1.0) * static_cast<double>(k % 4);
    std::ostringstream dot;
    netrevia::output::format_graphviz(dot, fields, {R.data(), n}, n, 0.5);
    std::istringstream in(dot.str());
    const auto edges = netrevia::tools::read_dot_edges(in, genes);
    const auto expected = netrevia::tools::edges_above(R, n, 0.5);
    ASSERT_EQ(edges.size(), expected.size()) << dot.str();
    ASSERT_GT(edges.size(), 10u);
    for (std::size_t e = 0; e < edges.size(); ++e) {
        EXPECT_EQ(edges[e].regulator, expected[e].regulator) << e;
        EXPECT_EQ(edges[e].target, expected[e].target) << e;
        EXPECT_EQ(edges[e].positive, expected[e].positive) << e;
    }
    // An open quote on either side, or a colour line without a colour, is no GRN.dot.
    for (const std::string& bad : {std::string("\"G1  ->  G1\n \t\t[color=\"blue\"]\n"),
                                   std::string("G1         ->  \"G1\n \t\t[color=\"blue\"]\n"),
                                   names_line("G1", "G1") + "\n \t\t[color=\"green\"]\n"}) {
        std::istringstream broken(bad);
        std::string message;
        try {
            netrevia::tools::read_dot_edges(broken, genes);
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        EXPECT_EQ(message.rfind("GRN.dot: ", 0), 0u) << bad;
        EXPECT_EQ(message.find("unknown"), std::string::npos) << message;
    }
}

TEST(EdgesAbove, FollowsTheGraphvizWritersRule) {
    // 2 x 2, column-major: R(1,1) = 0.5, R(2,1) = -0.5, R(1,2) = NaN, R(2,2) = 0.2.
    const std::vector<double> R = {0.5, -0.5, std::numeric_limits<double>::quiet_NaN(), 0.2};
    const auto at_02 = netrevia::tools::edges_above(R, 2, 0.2);  // strict: 0.2 is no edge
    ASSERT_EQ(at_02.size(), 2u);
    EXPECT_EQ(at_02[0].regulator, 0);  // 1 -> 1, blue
    EXPECT_TRUE(at_02[0].positive);
    EXPECT_EQ(at_02[1].target, 1);  // 1 -> 2, red
    EXPECT_FALSE(at_02[1].positive);
    // A negative threshold draws every number; anything above it is blue. NaN stays out.
    const auto negative = netrevia::tools::edges_above(R, 2, -1.0);
    ASSERT_EQ(negative.size(), 3u);
    for (const DrawnEdge& e : negative) EXPECT_TRUE(e.positive);
    EXPECT_EQ(netrevia::tools::largest_off_diagonal(R, 2), 0.5);
}

TEST(ScoreThresholds, EqualsTheScoreOfTheMatchingDotAndDropsAHelperGene) {
    Truth t = three_edges();
    std::vector<double> R(16, 0.0);
    R[1] = 0.9;    // R(2,1): true A -> B
    R[6] = -0.8;   // R(3,2): true B -> C, right sign
    R[3] = -0.05;  // R(4,1): false A -> D
    R[12] = 0.3;   // R(1,4): false D -> A
    const auto edges = netrevia::tools::edges_above(R, 4, 0.1);
    const auto s = netrevia::tools::score_network(t, R, &edges);
    EXPECT_EQ(s.drawn, 3);
    EXPECT_EQ(s.hits, 2);
    EXPECT_DOUBLE_EQ(s.f1, 2.0 / 3.0);

    // Dropping D (index 3) leaves A, B, C: both false edges go, the true ones stay.
    netrevia::tools::drop_gene(t, R, 3);
    ASSERT_EQ(t.genes.size(), 3u);
    ASSERT_EQ(R.size(), 9u);
    EXPECT_EQ(R[1], 0.9);   // R(2,1)
    EXPECT_EQ(R[5], -0.8);  // R(3,2)
    const auto kept = netrevia::tools::edges_above(R, 3, 0.1);
    const auto d = netrevia::tools::score_network(t, R, &kept);
    EXPECT_EQ(d.true_edges, 3);
    EXPECT_EQ(d.drawn, 2);
    EXPECT_EQ(d.precision, 1.0);

    // Dropping a gene in the middle renumbers the edges behind it.
    Truth u = three_edges();
    std::vector<double> S(16, 0.0);
    netrevia::tools::drop_gene(u, S, 1);  // B: A -> B and B -> C go, C -> A stays
    ASSERT_EQ(u.edges.size(), 1u);
    EXPECT_EQ(u.edges[0].regulator, 1);
    EXPECT_EQ(u.edges[0].target, 0);
}

TEST(ScoreThresholds, TsvHasOneHeaderAndAFractionColumnOnlyWhenRelative) {
    netrevia::tools::ThresholdScore a, b;
    a.t = 0.1;
    a.fraction = std::numeric_limits<double>::quiet_NaN();
    a.score.has_dot = true;
    b = a;
    b.t = 0.5;
    std::ostringstream tsv;
    netrevia::tools::write_threshold_scores(tsv, {a, b}, true);
    const std::string table = tsv.str();
    EXPECT_EQ(table.rfind("threshold\ttrue_edges\t", 0), 0u) << table;
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);
    EXPECT_NE(table.find("\n0.5\t"), std::string::npos) << table;
    a.fraction = 0.2;
    std::ostringstream line;
    netrevia::tools::write_threshold_scores(line, {a}, false);
    EXPECT_EQ(line.str().rfind("threshold=0.1 fraction=0.2 true_edges=", 0), 0u) << line.str();
}

}  // namespace
