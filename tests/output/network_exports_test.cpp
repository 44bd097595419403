#include "output/network_exports.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace netrevia::output {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 3 genes, column-major: R(i,j) at (i-1) + 3(j-1). Off-diagonal magnitudes 0.5 (twice, a tie),
// 0.3 and 0.1 + 0.2 (not 0.3 in binary), one zero and one NaN; the diagonal holds -1 and 0.5.
const std::array<double, 9> kR{-1.0, 0.5,       0.0,   // column 1: R(1,1), R(2,1), R(3,1)
                               -0.5, 0.5,       kNaN,  // column 2
                               0.3,  0.1 + 0.2, 0.0};  // column 3
const std::vector<std::string> kNames{"HLA-A", "NF-kB", "2310002L13Rik"};

std::vector<std::array<int, 3>> ranks(const std::vector<RankedEdge>& edges) {
    std::vector<std::array<int, 3>> out;
    for (const RankedEdge& e : edges) out.push_back({e.rank, e.regulator, e.target});
    return out;
}

TEST(RankEdges, StrongestFirstTiesInGeneOrderSelfTermsLast) {
    const auto all = rank_edges({kR.data(), 3}, 3, true);
    // |0.5|: 1->2 and 2->1 tie, regulator 1 first; 0.1+0.2 > 0.3; then the diagonal, |-1| first.
    EXPECT_EQ(ranks(all), (std::vector<std::array<int, 3>>{
                              {1, 1, 2}, {2, 2, 1}, {3, 3, 2}, {4, 3, 1}, {5, 1, 1}, {6, 2, 2}}));
    EXPECT_EQ(all[2].weight, 0.1 + 0.2);
    EXPECT_EQ(ranks(rank_edges({kR.data(), 3}, 3, false)),
              (std::vector<std::array<int, 3>>{{1, 1, 2}, {2, 2, 1}, {3, 3, 2}, {4, 3, 1}}));
    EXPECT_TRUE(rank_edges({nullptr, 1}, 0, true).empty());
}

TEST(EdgeList, FullNamesRoundTripWeightsAndThresholdFlag) {
    std::ostringstream out;
    const auto edges = rank_edges({kR.data(), 3}, 3, true);
    format_edge_list(out, kNames, edges, 0.5);
    EXPECT_EQ(out.str(),
              "rank\tregulator\ttarget\tweight\tsign\tabs_weight\tabove_threshold\n"
              "1\tHLA-A\tNF-kB\t0.5\t1\t0.5\t0\n"
              "2\tNF-kB\tHLA-A\t-0.5\t-1\t0.5\t0\n"
              "3\t2310002L13Rik\tNF-kB\t0.30000000000000004\t1\t0.30000000000000004\t0\n"
              "4\t2310002L13Rik\tHLA-A\t0.29999999999999999\t1\t0.29999999999999999\t0\n"
              "5\tHLA-A\tHLA-A\t-1\t-1\t1\t1\n"
              "6\tNF-kB\tNF-kB\t0.5\t1\t0.5\t0\n");
    double back = 0.0;
    const std::string text = "0.30000000000000004";
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, 0.1 + 0.2);
}

TEST(EdgeList, NamesCannotBreakTheFields) {
    std::ostringstream out;
    const double r = 1.0;
    format_edge_list(out, std::vector<std::string>{"a\tb\nc\xff"}, rank_edges({&r, 1}, 1, true),
                     0.0);
    EXPECT_EQ(out.str().substr(out.str().find('\n') + 1), "1\ta?b?c?\ta?b?c?\t1\t1\t1\t1\n");
    EXPECT_EQ(printable_name("\xc3\xbc\xe2\x82\xac-\xe2\x82"), "\xc3\xbc\xe2\x82\xac-??");
    EXPECT_EQ(printable_name("\xf0\x9f\x98\x80\xf5\x80\x80\x80"), "\xf0\x9f\x98\x80????");
    // The first and last lead byte of each length: C2, DF; E0, EF; F0, F4. C1 is overlong.
    const std::string leads =
        "\xc2\xa0\xdf\xbf\xe0\xa4\x85\xef\xbf\xbd\xf0\x90\x80\x80\xf4\x8f\xbf\xbf";
    EXPECT_EQ(printable_name(leads), leads);
    EXPECT_EQ(printable_name("\xc1\xbf"), "??");
    // What XML forbids, one '?' per character or per stray byte: surrogates (ED A0-BF), overlong
    // three- and four-byte forms, beyond U+10FFFF, U+FFFE and U+FFFF, C1 controls and DEL. The
    // neighbours of each range stay: U+D7FF, U+E000, U+FFFD, U+10FFFF.
    EXPECT_EQ(
        printable_name("\xed\xa0\x80|\xed\xbf\xbf|\xe0\x80\xaf|\xf0\x80\x80\x80|\xf4\x90\x80\x80"),
        "???|???|???|????|????");
    EXPECT_EQ(printable_name("\xef\xbf\xbe|\xef\xbf\xbf|\xc2\x85|\xc2\x9f|\x7f"), "?|?|?|?|?");
    const std::string neighbours = "\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbd\xf4\x8f\xbf\xbf\xc2\xa0";
    EXPECT_EQ(printable_name(neighbours), neighbours);
}

// A name with a double quote is quoted, its quotes doubled, as R's read.delim and pandas'
// read_csv read it back; other names stay as they are, blanks and apostrophes included.
TEST(EdgeList, QuotedNamesComeBackWhole) {
    std::ostringstream out;
    const std::array<double, 4> R{0.0, 1.0, 0.0, 0.0};  // gene 1 -> gene 2
    format_edge_list(out, std::vector<std::string>{"\"G4\"", "a\"b 'c'"},
                     rank_edges({R.data(), 2}, 2, true), 0.0);
    EXPECT_EQ(out.str().substr(out.str().find('\n') + 1),
              "1\t\"\"\"G4\"\"\"\t\"a\"\"b 'c'\"\t1\t1\t1\t1\n");
    std::ostringstream plain;
    format_edge_list(plain, std::vector<std::string>{" x y ", "'z'"},
                     rank_edges({R.data(), 2}, 2, true), 0.0);
    EXPECT_EQ(plain.str().substr(plain.str().find('\n') + 1), "1\t x y \t'z'\t1\t1\t1\t1\n");
}

TEST(Sif, EdgesBeyondTheThresholdInRankOrder) {
    std::ostringstream out;
    format_sif(out, kNames, rank_edges({kR.data(), 3}, 3, true), 0.3);
    // 0.3 itself is not beyond 0.3; 0.1 + 0.2 is.
    EXPECT_EQ(out.str(),
              "HLA-A\tactivates\tNF-kB\n"
              "NF-kB\trepresses\tHLA-A\n"
              "2310002L13Rik\tactivates\tNF-kB\n"
              "HLA-A\trepresses\tHLA-A\n"
              "NF-kB\tactivates\tNF-kB\n");
}

}  // namespace
}  // namespace netrevia::output
