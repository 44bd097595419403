// Graphviz in the process: the choice of program, boxes apart, edges from border to head.
#include "viewer/graph_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "cli/render.h"

namespace netrevia::viewer {
namespace {

TEST(LayoutProgram, FollowsTheBatchToolsRenderRule) {
    for (const auto& [genes, edges] : std::vector<std::pair<int, int>>{
             {3, 0}, {100, 300}, {101, 300}, {100, 301}, {2000, 10}, {20, 99}}) {
        EXPECT_EQ(layout_program(genes, edges), cli::choose_layout(genes, edges))
            << genes << " genes, " << edges << " edges";
    }
    EXPECT_EQ(layout_program(100, 300), "dot");
    EXPECT_EQ(layout_program(101, 300), "sfdp");
}

// Distance from p to the border of the box of size node around c.
double off_border(LayoutPoint p, LayoutPoint c, const LayoutNode& node) {
    const double dx = std::abs(p.x - c.x) - node.width / 2.0;
    const double dy = std::abs(p.y - c.y) - node.height / 2.0;
    if (dx <= 0.0 && dy <= 0.0) return -std::max(dx, dy);  // inside: to the nearer side
    return std::hypot(std::max(dx, 0.0), std::max(dy, 0.0));
}

void expect_sound_layout(const std::string& program) {
    const std::vector<LayoutNode> nodes{{60, 30}, {90, 30}, {40, 24}, {70, 30}};
    const std::vector<LayoutEdge> edges{{0, 1}, {1, 2}, {0, 2}, {2, 0}, {3, 1}};
    const GraphLayout layout = compute_layout(nodes, edges, program, 9.0);
    EXPECT_EQ(layout.program, program);
    ASSERT_EQ(layout.centres.size(), nodes.size());
    ASSERT_EQ(layout.edges.size(), edges.size());
    for (std::size_t a = 0; a < nodes.size(); ++a) {
        const LayoutPoint p = layout.centres[a];
        EXPECT_GE(p.x - nodes[a].width / 2.0, -0.5) << program;
        EXPECT_LE(p.x + nodes[a].width / 2.0, layout.width + 0.5) << program;
        EXPECT_GE(p.y - nodes[a].height / 2.0, -0.5) << program;
        EXPECT_LE(p.y + nodes[a].height / 2.0, layout.height + 0.5) << program;
        for (std::size_t b = a + 1; b < nodes.size(); ++b) {
            const LayoutPoint q = layout.centres[b];
            const bool apart = std::abs(p.x - q.x) >= (nodes[a].width + nodes[b].width) / 2.0 ||
                               std::abs(p.y - q.y) >= (nodes[a].height + nodes[b].height) / 2.0;
            EXPECT_TRUE(apart) << program << ": boxes " << a << " and " << b << " overlap";
        }
    }
    for (std::size_t k = 0; k < edges.size(); ++k) {
        const PlacedEdge& e = layout.edges[k];
        const auto from = static_cast<std::size_t>(edges[k].from);
        const auto to = static_cast<std::size_t>(edges[k].to);
        ASSERT_GE(e.spline.size(), 4u);
        EXPECT_EQ((e.spline.size() - 1) % 3, 0u);
        EXPECT_LT(off_border(e.spline.front(), layout.centres[from], nodes[from]), 2.0)
            << program << " edge " << k;
        EXPECT_LT(off_border(e.tip, layout.centres[to], nodes[to]), 2.0)
            << program << " edge " << k;
        const LayoutPoint base = e.spline.back();
        EXPECT_NEAR(std::hypot(e.tip.x - base.x, e.tip.y - base.y), 9.0, 1.0)
            << program << " edge " << k;
    }
}

TEST(ComputeLayout, DotPlacesBoxesApartAndEndsEdgesAtTheirHeads) { expect_sound_layout("dot"); }

TEST(ComputeLayout, SfdpToo) { expect_sound_layout("sfdp"); }

// The distinct rows (y of the centres, to the point) of some of a layout's nodes.
std::size_t rows_of(const GraphLayout& layout, std::size_t first, std::size_t count) {
    std::set<long> rows;
    for (std::size_t k = first; k < first + count; ++k)
        rows.insert(std::lround(layout.centres[k].y));
    return rows.size();
}

TEST(ComputeLayout, DotStaggersLeavesAndChainsLoneGenes) {
    // A hub with 12 targets that have no other edge, and 8 genes with no edge at all.
    std::vector<LayoutNode> nodes(21, LayoutNode{50, 24});
    std::vector<LayoutEdge> edges;
    for (int leaf = 1; leaf <= 12; ++leaf) edges.push_back({0, leaf});
    const GraphLayout layout = compute_layout(nodes, edges, "dot", 9.0);
    EXPECT_EQ(rows_of(layout, 1, 12), 3u);  // three ranks of leaves, not one row of twelve
    EXPECT_EQ(rows_of(layout, 13, 8), 4u);  // two columns of four
    EXPECT_EQ(layout.edges.size(), 12u);    // the invisible links are not edges of the picture
    const GraphLayout across = compute_layout(nodes, edges, "dot", 9.0, true);
    EXPECT_GT(across.height, across.width);  // ranks side by side: the leaves form columns
}

TEST(ComputeLayout, UnknownProgramIsALayoutError) {
    const std::vector<LayoutNode> nodes{{60, 30}};
    EXPECT_THROW(compute_layout(nodes, {}, "no-such-layout", 9.0), LayoutError);
}

}  // namespace
}  // namespace netrevia::viewer
