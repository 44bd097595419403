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

// The message for text that one of the readers refuses; empty when it is read.
std::string refusal(const std::string& text,
                    TruthFormat format,
                    const std::vector<std::string>& genes = {}) {
    try {
        read_truth_text(text, format, genes, "t.tsv");
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

// Files that break their format or contradict themselves are refused with the file, the line
// and what is wrong there; they used to be scored (the last of two signs won, an unreadable
// weight counted as 1, a DREAM 0 after a 1 was ignored).
TEST(TruthFormats, BrokenOrSelfContradictingFilesAreRefusedWithFileAndLine) {
    const std::string order = "# genes\tA\tB\tC\n";
    const std::vector<std::string> abc{"A", "B", "C"};
    const struct {
        std::string text;
        TruthFormat format;
        std::vector<std::string> genes;
        std::string message;
    } cases[] = {
        {order + "regulator\ttarget\tsign\nA\tB\t+\n\nA\tB\t-\n",
         TruthFormat::kOwn,
         {},
         "line 5: 'A' -> 'B' is given as '-' here and as '+' on line 3"},
        {order + "A\tB\t+\t0.5\nA B + 0.75\n",
         TruthFormat::kAuto,
         {},
         "line 3: 'A' -> 'B' is given as '+ 0.75' here and as '+ 0.5' on line 2"},
        {order + "C\tC\t-\nC\tC\t+\n",
         TruthFormat::kOwn,
         {},
         "line 3: 'C' -> 'C' is given as '+' here and as '-' on line 2"},
        // Names are compared as the matrix holds them, cut to 9 characters.
        {"LongGeneName1\tA\t+\nLongGeneName2\tA\t-\n",
         TruthFormat::kOwn,
         {"LongGeneN", "A"},
         "line 2: 'LongGeneName2' -> 'A' is given as '-' here and as '+' on line 1"},
        {order + "A\tB\t+\t-1\n",
         TruthFormat::kOwn,
         {},
         "line 2: the weight '-1' contradicts the sign + (a weight of 0 is no edge)"},
        {order + "A\tB\t-\t0\n",
         TruthFormat::kOwn,
         {},
         "line 2: the weight '0' contradicts the sign - (a weight of 0 is no edge)"},
        {order + "A\tB\t+\tstrong\n",
         TruthFormat::kOwn,
         {},
         "line 2: the weight 'strong' is not a finite number"},
        {order + "A\tB\t+\tinf\n",
         TruthFormat::kOwn,
         {},
         "line 2: the weight 'inf' is not a finite number"},
        {order + "A\tB\t+\t1\tnote\n",
         TruthFormat::kOwn,
         {},
         "line 2: the line has 5 fields; a truth line is 'regulator target +|- [weight]'"},
        {order + "A\tB\n",
         TruthFormat::kOwn,
         {},
         "line 2: the line has 2 fields; a truth line is 'regulator target +|- [weight]'"},
        {order + "A\tB\t1\n", TruthFormat::kOwn, {}, "line 2: the sign '1' is neither + nor -"},
        {order + "A\tD\t+\n",
         TruthFormat::kOwn,
         {},
         "line 2: gene 'D' is not in the gene order (the '# genes' line, line 1)"},
        {"A\tD\t+\n", TruthFormat::kOwn, abc,
         "line 1: gene 'D' is not in the gene order (the data file)"},
        {"# genes A B A\n", TruthFormat::kOwn, {}, "line 1: the gene order names 'A' twice"},
        {"# genes LongGeneName1 LongGeneName2\n",
         TruthFormat::kOwn,
         {},
         "line 1: the gene order names 'LongGeneName1' and 'LongGeneName2', which agree in the "
         "first 9 characters the matrix keeps"},
        {order + "# genes\tA\tC\tB\n",
         TruthFormat::kOwn,
         {},
         "line 2: a second '# genes' line differs from the one on line 1"},
        {"A\tB\t1\nB\tC\t0\nA\tB\t0\n",
         TruthFormat::kDream,
         {},
         "line 3: 'A' -> 'B' is given as '0' here and as '1' on line 1"},
        {"A\tB\t1\nA\tB\t1\t0.5\n",
         TruthFormat::kDream,
         {},
         "line 2: a DREAM gold standard line is 'G1<TAB>G2<TAB>1' (an edge) or '...<TAB>0' "
         "(none)"},
        {"Gene1,Gene2,Type\nA,B,+\nA,B,-\n",
         TruthFormat::kBeeline,
         {},
         "line 3: 'A' -> 'B' is given as '-' here and as '+' on line 2"},
        {"Gene1,Gene2,Type\nA,B,activates\n",
         TruthFormat::kBeeline,
         {},
         "line 2: the Type 'activates' is neither + nor -"},
        {"Gene1,Gene2,Type\nA,B\n",
         TruthFormat::kBeeline,
         {},
         "line 2: the line has 2 fields, the header 3"},
        {"Gene1,Gene2\nA,\n", TruthFormat::kBeeline, {}, "line 2: a gene name is empty"},
        {"# made by hand\nSource,Gene2\n",
         TruthFormat::kBeeline,
         {},
         "line 2: the header is not 'Gene1,Gene2[,Type]'"},
        {"# nothing\n", TruthFormat::kBeeline, {}, ": no header 'Gene1,Gene2[,Type]'"},
        // Encodings and line ends a user can change when saving the file.
        {std::string("\xff\xfe#\0 \0", 6),
         TruthFormat::kAuto,
         {},
         ": the file is UTF-16 (little-endian) text; save it as UTF-8 or ASCII text"},
        {std::string("\xfe\xff\0#", 4),
         TruthFormat::kAuto,
         {},
         ": the file is UTF-16 (big-endian) text; save it as UTF-8 or ASCII text"},
        {std::string("\xff\xfe\0\0#\0\0\0", 8),
         TruthFormat::kAuto,
         {},
         ": the file is UTF-32 (little-endian) text; save it as UTF-8 or ASCII text"},
        {std::string("\0\0\xfe\xff", 4),
         TruthFormat::kAuto,
         {},
         ": the file is UTF-32 (big-endian) text; save it as UTF-8 or ASCII text"},
        {order + std::string("A\tB\0\t+\n", 7),
         TruthFormat::kOwn,
         {},
         "line 2: the line holds a NUL byte; save the file as UTF-8 or ASCII text (is it "
         "UTF-16?)"},
        {"# genes A B\rA B +\r",
         TruthFormat::kAuto,
         {},
         "line 1: a line ends in a lone CR (classic Mac OS line ends); save the file with LF or "
         "CR LF line ends"},
        // Control bytes are shown escaped, long text cut.
        {order + "A\tB\t\x1b[31m\n",
         TruthFormat::kOwn,
         {},
         "line 2: the sign '\\x1b[31m' is neither + nor -"},
        {order + "A\t" + std::string(50, 'Z') + "\t+\n",
         TruthFormat::kOwn,
         {},
         "line 2: gene '" + std::string(40, 'Z') +
             "...' is not in the gene order (the '# genes' line, line 1)"},
    };
    for (const auto& c : cases) {
        const std::string where = c.message[0] == ':' ? "truth file t.tsv" : "truth file t.tsv, ";
        EXPECT_EQ(refusal(c.text, c.format, c.genes), where + c.message) << c.text;
    }
}

// A pair given twice alike counts once (a weight on one of the lines only is no difference),
// and a UTF-8 byte-order mark, as editors write it, changes nothing in any format.
TEST(TruthFormats, RepeatsAlikeCountOnceAndAUtf8MarkIsSkipped) {
    const Truth twice = read_truth_text("# genes A B C\nA B +\nA\tB\t+\t0.5\nA B +\nC C -\nC C -\n",
                                        TruthFormat::kAuto);
    ASSERT_EQ(twice.edges.size(), 1u);
    EXPECT_EQ(twice.self_edges, std::vector<int>{2});
    EXPECT_TRUE(twice.order_known);
    const std::string mark = "\xef\xbb\xbf";
    for (const std::string text : {"# genes A B C\nregulator target sign\nB A -\nC B +\n",
                                   "Gene1,Gene2,Type\nB,A,-\nC,B,+\n", "B\tA\t1\nC\tB\t1\n"}) {
        EXPECT_EQ(detect_truth_format(mark + text), detect_truth_format(text)) << text;
        const Truth plain = read_truth_text(text, TruthFormat::kAuto);
        const Truth marked = read_truth_text(mark + text, TruthFormat::kAuto);
        EXPECT_EQ(marked.genes, plain.genes) << text;
        ASSERT_EQ(marked.edges.size(), 2u) << text;
        for (std::size_t e = 0; e < 2; ++e) {
            EXPECT_EQ(marked.edges[e].regulator, plain.edges[e].regulator);
            EXPECT_EQ(marked.edges[e].target, plain.edges[e].target);
            EXPECT_EQ(marked.edges[e].weight, plain.edges[e].weight);
        }
    }
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
