#include "output/network_drawing.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "tests/output/test_support.h"

namespace netrevia::output {
namespace {

using testing::matches_golden;

// 4 genes, column-major: R(i,j) at (i-1) + 4(j-1). Beyond the threshold 0.1: A -> B-1 (0.9),
// C -| A (-0.6), C -> B-1 (0.3) and the self-terms C (-2) and B-1 (0.4). A's self-term and
// A -> D stay below it, so D, with no drawn edge, is left out. C regulates but is regulated
// only by itself, B-1 only is regulated.
const std::array<double, 16> kR{0.05, 0.9, 0.0,  0.05,  // column 1: A regulates
                                0.0,  0.4, 0.0,  0.0,   // column 2: B-1
                                -0.6, 0.3, -2.0, 0.0,   // column 3: C
                                0.0,  0.0, 0.0,  0.0};  // column 4: D
const std::vector<std::string> kNames{"A", "B-1", "C", "D"};

std::string drawing(bool self_loops) {
    std::ostringstream out;
    const DrawingExtent extent = format_drawing(out, kNames, {kR.data(), 4}, 4, 0.1, self_loops, 5);
    EXPECT_EQ(extent.drawn, self_loops ? 5u : 3u);
    EXPECT_EQ(extent.beyond_threshold, extent.drawn);
    return out.str();
}

// Pen widths 5, 3 and 1 by rank among the three edges between distinct genes; the self-loops
// dashed, faint and thin whatever their size, the strongest entry of R included.
TEST(NetworkDrawing, DrawnGenesWidthsByRankAndFaintSelfLoops) {
    const std::string with_loops = drawing(true);
    EXPECT_TRUE(matches_golden(with_loops, "drawing.dot"));

    // Without self-loops the same drawing less the two loops and their legend line; C, now
    // only a regulator, stays.
    std::string expected = with_loops;
    for (const std::string line : {"  g3 -> g3 [arrowhead=tee, color=\"#c0392b66\", "
                                   "penwidth=1.00, style=dashed];\n",
                                   "  g2 -> g2 [arrowhead=normal, color=\"#2b6cb066\", "
                                   "penwidth=1.00, style=dashed];\n",
                                   "dashed loop: self-term\\n"}) {
        const std::size_t at = expected.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        expected.erase(at, line.size());
    }
    EXPECT_EQ(drawing(false), expected);
}

// Only the strongest max_edges are drawn (the self-loops rank last), the widths spread over
// those, the genes of no drawn edge are left out, and the legend says how many were left out.
TEST(NetworkDrawing, CapKeepsTheStrongestEdgesAndSaysSo) {
    std::ostringstream out;
    const DrawingExtent extent = format_drawing(out, kNames, {kR.data(), 4}, 4, 0.1, true, 2);
    EXPECT_EQ(extent.drawn, 2u);
    EXPECT_EQ(extent.beyond_threshold, 5u);
    const std::string text = out.str();
    const auto count = [&text](const std::string& part) {
        std::size_t found = 0;
        for (std::size_t p = 0; (p = text.find(part, p)) != std::string::npos; ++p) ++found;
        return found;
    };
    EXPECT_EQ(count(" -> g"), 2u);
    EXPECT_EQ(count("  g1 -> g2 [arrowhead=normal, color=\"#2b6cb0\", penwidth=5.00];\n"), 1u);
    EXPECT_EQ(count("  g3 -> g1 [arrowhead=tee, color=\"#c0392b\", penwidth=1.00];\n"), 1u);
    EXPECT_EQ(count("[label="), 3u + 5u);  // A, B-1, C and the legend's five
    EXPECT_EQ(count("threshold 0.1\\nthe 2 strongest of 5 edges\"];"), 1u);
}

// A label is printable, cut to 48 characters (UTF-8 characters, not bytes), and shows '&' as
// itself: Graphviz reads "&#xD800;" in a label as a reference to a character XML forbids.
TEST(NetworkDrawing, LabelsAreCutAndNeverCharacterReferences) {
    const auto quoted = [](const std::string& text) {
        std::string label(1, '"');
        label.append(text).push_back('"');
        return label;
    };
    EXPECT_EQ(drawing_label("&#xD800;&lt;"), "\"&amp;#xD800;&amp;lt;\"");
    EXPECT_EQ(drawing_label("a\"b\\N\x01"), "\"a\\\"b\\\\N?\"");
    EXPECT_EQ(drawing_label(std::string(10000, 'A')), quoted(std::string(48, 'A').append("...")));
    std::string umlauts;
    for (int k = 0; k < 49; ++k) umlauts += "\xc3\xbc";
    EXPECT_EQ(drawing_label(umlauts), quoted(umlauts.substr(0, 96).append("...")));
    EXPECT_EQ(drawing_label(umlauts.substr(0, 96)), quoted(umlauts.substr(0, 96)));
}

}  // namespace
}  // namespace netrevia::output
