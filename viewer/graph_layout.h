#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace netrevia::viewer {

// Graphviz layout program for a network of this many genes and drawn edges, the rule of the
// batch tool's --render: "dot" (layered, the clearest for small networks, but minutes beyond a
// few hundred nodes) up to 100 genes and 300 edges, "sfdp" (force-directed, multilevel) beyond.
std::string layout_program(int genes, int edges);

// A point in layout units (points, 1/72 inch), y growing downwards as on screen.
struct LayoutPoint {
    double x = 0.0;
    double y = 0.0;
};

// A node of the graph to lay out: the size of its box, in points.
struct LayoutNode {
    double width = 0.0;
    double height = 0.0;
};

// A directed edge between two distinct nodes (indices into the nodes).
struct LayoutEdge {
    int from = 0;
    int to = 0;
};

// An edge as routed: a cubic Bezier spline p0, (c1, c2, p1), (c1, c2, p2), ... from the border
// of its tail to the base of its head, and the tip of the head on the border of its target.
struct PlacedEdge {
    std::vector<LayoutPoint> spline;
    LayoutPoint tip;
};

struct GraphLayout {
    std::string program;
    double width = 0.0;  // of the bounding box, whose top left corner is (0, 0)
    double height = 0.0;
    std::vector<LayoutPoint> centres;  // one per node
    std::vector<PlacedEdge> edges;     // one per edge, in the order given
};

class LayoutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Lays the graph out with Graphviz's library in this process (gvc, cgraph) and the named layout
// program: boxes of the given sizes that do not overlap, edges routed as splines (dot) or
// straight lines (sfdp) ending head_length short of their target's border, where the caller
// draws the head. Graphviz keeps global state and is not re-entrant: calls are serialised, so
// one may run on a worker thread while nothing else in the process uses Graphviz. Throws
// LayoutError when Graphviz fails or does not know the program.
// With across, dot's ranks run from left to right instead of top to bottom.
GraphLayout compute_layout(std::span<const LayoutNode> nodes,
                           std::span<const LayoutEdge> edges,
                           const std::string& program,
                           double head_length,
                           bool across = false);

}  // namespace netrevia::viewer
