#include "output/graphviz_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "tests/output/test_support.h"

namespace netrevia::output {
namespace {

using testing::InTempDir;
using testing::kWorkedNames;
using testing::matches_golden;
using testing::read_bytes;
using testing::worked_example;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kClosing = " \t} \r\n";

// The 28 header lines, taken from the hand-written golden file without its closing line.
std::string header() {
    const std::string empty = read_bytes(std::filesystem::path(GOLDEN_DIR) / "no_edges.dot");
    return empty.substr(0, empty.size() - kClosing.size());
}

std::string blue(const std::string& from, const std::string& to) {
    return from + "  ->  " + to + "\r\n \t\t[color=\"blue\"]\r\n";
}
std::string red(const std::string& from, const std::string& to) {
    return from + "  ->  " + to + "\r\n \t\t[color=\"red\"] \r\n";
}

std::string graphviz(const std::vector<std::string>& names,
                     const double* data,
                     int n,
                     double threshold) {
    std::ostringstream out;
    format_graphviz(out, names, {data, n}, n, threshold);
    return out.str();
}

TEST(GraphvizFormat, HeaderAndClosingOnlyWhenNothingPasses) {
    const std::string text = graphviz(kWorkedNames, worked_example().data, 3, 1.0);
    EXPECT_TRUE(matches_golden(text, "no_edges.dot"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 29);
    EXPECT_TRUE(matches_golden(graphviz({}, nullptr, 0, 1e-6), "no_edges.dot"));
}

TEST(GraphvizFormat, EntryEqualToThresholdGivesNoEdge) {
    const double t = 0.25;
    const std::array<double, 4> R{t, -t, std::nextafter(t, 1.0), std::nextafter(-t, -1.0)};
    const std::vector<std::string> names{"G1       ", "G2       "};
    EXPECT_EQ(graphviz(names, R.data(), 2, t),
              header() + blue("G2       ", "G1       ") + red("G2       ", "G2       ") + kClosing);
}

TEST(GraphvizFormat, NegativeThresholdMakesEveryNumberAnEdgeButNotNaN) {
    // Column by column: R(1,1) = 0, R(2,1) = -0.2, R(1,2) = -0.7, R(2,2) = NaN.
    const std::array<double, 4> R{0.0, -0.2, -0.7, kNaN};
    const std::vector<std::string> names{"G1       ", "G2       "};
    EXPECT_EQ(graphviz(names, R.data(), 2, -0.5), header() + blue("G1       ", "G1       ") +
                                                      red("G2       ", "G1       ") +
                                                      blue("G1       ", "G2       ") + kClosing);
}

TEST(GraphvizFormat, NaNGivesNoEdgeWhateverTheThreshold) {
    const std::vector<std::string> names{"G1       "};
    EXPECT_EQ(graphviz(names, &kNaN, 1, 1e-6), header() + kClosing);
    EXPECT_EQ(graphviz(names, &kNaN, 1, -1e300), header() + kClosing);
}

TEST(GraphvizFormat, OneGeneWithSelfActivation) {
    const double half = 0.5;
    EXPECT_EQ(graphviz({"G1       "}, &half, 1, 1e-6),
              header() + blue("G1       ", "G1       ") + kClosing);
}

TEST(GraphvizFormat, NamesLinesHoldNinePlusSixPlusNineCharacters) {
    const double half = 0.5;
    const std::string expected = header() + blue("ABCD     ", "ABCD     ") + kClosing;
    EXPECT_EQ(graphviz({"ABCD     "}, &half, 1, 1e-6), expected);
    // Texts not padded by the caller are padded or cut to 9, so the line keeps its shape.
    EXPECT_EQ(graphviz({"ABCD"}, &half, 1, 1e-6), expected);
    EXPECT_EQ(graphviz({"ABCDEFGHIJKL"}, &half, 1, 1e-6),
              header() + blue("ABCDEFGHI", "ABCDEFGHI") + kClosing);
}

TEST(GraphvizFormat, NamesGraphvizCannotReadAreQuotedAndPadded) {
    const double half = 0.5;
    // Identifiers, numerals and names differing from a keyword stay as they are; the first and
    // last character of each range count, their neighbours outside do not.
    for (const std::string plain :
         {"G_1      ", "_x       ", "123      ", "nodes    ", "azAZ09_  ", "0        "}) {
        EXPECT_EQ(graphviz({plain}, &half, 1, 1e-6), header() + blue(plain, plain) + kClosing);
    }
    EXPECT_EQ(graphviz({"HLA-A    "}, &half, 1, 1e-6),
              header() + blue("\"HLA-A\"  ", "\"HLA-A\"  ") + kClosing);
    EXPECT_EQ(graphviz({"Node     "}, &half, 1, 1e-6),
              header() + blue("\"Node\"   ", "\"Node\"   ") + kClosing);
    // Escapes make the field longer than 9: no padding, no cut.
    EXPECT_EQ(quote_dot_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quote_dot_string("a\tb\x7f"), "\"a?b?\"");
    // UTF-8 is kept whole; a character cut in two by the field, or Latin-1, becomes '?'.
    EXPECT_EQ(quote_dot_string("\xc3\xbc-\xe2\x82"), "\"\xc3\xbc-??\"");
    EXPECT_EQ(quote_dot_string("\xfc\xc0\x80"), "\"???\"");
    EXPECT_EQ(quote_dot_string(""), "\"\"");
    EXPECT_FALSE(is_plain_dot_id("2310002L1"));
    EXPECT_FALSE(is_plain_dot_id("sUbGrApH"));
    for (const char* outside : {"a`", "a{", "a@", "a[", "a/", "a:", "/", ":"}) {
        EXPECT_FALSE(is_plain_dot_id(outside)) << outside;
    }
}

TEST_F(InTempDir, GraphvizReadsHostileNamesWithEveryEdgeOnce) {
    if (std::system("command -v dot >/dev/null 2>&1 && command -v gc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no dot or gc on PATH";
    // 9-character fields as the reader stores them: cut, blank-padded.
    const std::vector<std::string> names{
        "HLA-A    ",   "NF-kB    ", "14-3-3   ",    "2310002L1", "node     ", "a\"b      ",
        "back\\slas",  "x;y->z;w ", "{}[]=,   ",    "a b      ", "EDGE     ", "\xc3\xbc-gene  ",
        "\x01ctl    ", "123      ", "abcdefgh\xc3", "         ", "-1       ", "\\        "};
    const int n = static_cast<int>(names.size());
    std::vector<double> R(static_cast<std::size_t>(n * n));
    for (std::size_t k = 0; k < R.size(); ++k) R[k] = k % 2 == 0 ? 1.0 : -1.0;
    write_graphviz_file(dir(), names, {R.data(), n}, n, 0.5);
    const std::string dot = (dir() / "GRN.dot").string();
    const std::string canon = (dir() / "canon.dot").string();
    ASSERT_EQ(std::system(("dot -Tcanon -o '" + canon + "' '" + dot + "' 2>/dev/null").c_str()), 0);
    // gc counts what Graphviz read: every name one node, every entry one edge.
    const std::string counts = (dir() / "counts").string();
    ASSERT_EQ(std::system(("gc -n -e '" + canon + "' > '" + counts + "'").c_str()), 0);
    std::istringstream words(read_bytes(counts));
    int nodes = 0;
    int edges = 0;
    words >> nodes >> edges;
    EXPECT_EQ(nodes, n);
    EXPECT_EQ(edges, n * n);
}

TEST_F(InTempDir, GraphvizFileMatchesGolden) {
    write_graphviz_file(dir(), kWorkedNames, worked_example(), 3, 1e-6);
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dot"), "worked_example.dot"));
    EXPECT_EQ(testing::entries(dir()), std::vector<std::string>{"GRN.dot"});
}

TEST_F(InTempDir, GraphvizParserAcceptsEveryFile) {
    if (std::system("command -v dot >/dev/null 2>&1") != 0) GTEST_SKIP() << "no dot on PATH";
    const std::array<double, 4> mixed{0.0, -0.2, -0.7, kNaN};
    const double half = 0.5;
    struct Case {
        std::string folder;
        std::vector<std::string> names;
        const double* data;
        int n;
        double threshold;
    };
    const std::vector<Case> cases{
        {"worked", kWorkedNames, worked_example().data, 3, 1e-6},
        {"no_edges", kWorkedNames, worked_example().data, 3, 1.0},
        {"no_genes", {}, nullptr, 0, 1e-6},
        {"negative_threshold", {"G1       ", "G2       "}, mixed.data(), 2, -0.5},
        {"short_name", {"ABCD     "}, &half, 1, 1e-6},
    };
    for (const Case& c : cases) {
        const std::filesystem::path folder = dir() / c.folder;
        std::filesystem::create_directory(folder);
        write_graphviz_file(folder, c.names, {c.data, c.n}, c.n, c.threshold);
        const std::string command = "dot -Tsvg -o '" + (folder / "GRN.svg").string() + "' '" +
                                    (folder / "GRN.dot").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << c.folder;
        EXPECT_GT(std::filesystem::file_size(folder / "GRN.svg"), 0u) << c.folder;
    }
}

}  // namespace
}  // namespace netrevia::output
