#include "viewer/graph_layout.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <mutex>
#include <string_view>

namespace netrevia::viewer {

namespace {

constexpr int kDotMaxGenes = 100;
constexpr int kDotMaxEdges = 300;
constexpr double kPointsPerInch = 72.0;
// Graphviz draws an arrowhead 10 points long at arrowsize 1 and routes the edge to its base.
constexpr double kArrowLengthAtSizeOne = 10.0;
// The layout programs of Graphviz's dot and neato plugins.
constexpr std::string_view kPrograms[] = {"dot",   "neato", "fdp",   "sfdp",
                                          "circo", "twopi", "osage", "patchwork"};

std::string number_text(double x) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 4);
    return std::string(text, result.ptr);
}

// cgraph takes char* for names and values it only reads.
void set_attribute(void* object, const char* name, const std::string& value) {
    agsafeset(object, const_cast<char*>(name), const_cast<char*>(value.c_str()),
              const_cast<char*>(""));
}

void set_default(Agraph_t* graph, int kind, const char* name, const char* value) {
    agattr(graph, kind, const_cast<char*>(name), const_cast<char*>(value));
}

// Where the ray from a box's centre towards another point leaves the box.
LayoutPoint border_point(LayoutPoint centre, const LayoutNode& box, LayoutPoint toward) {
    const double dx = toward.x - centre.x;
    const double dy = toward.y - centre.y;
    if (dx == 0.0 && dy == 0.0) return centre;
    const double sx = dx != 0.0 ? box.width / 2.0 / std::abs(dx) : INFINITY;
    const double sy = dy != 0.0 ? box.height / 2.0 / std::abs(dy) : INFINITY;
    const double s = std::min({sx, sy, 1.0});
    return {centre.x + s * dx, centre.y + s * dy};
}

// dot puts the leaves of a gene (genes joined by that one edge alone) side by side in one rank,
// and a hub with thirty targets makes a picture thirty boxes wide and one high. As Graphviz's
// unflatten does, the leaf edges of each gene get minimum lengths 1, 2, ... kStaggerRanks in
// turn, and genes without an edge here (drawn for a self-loop alone) are chained by invisible
// edges into columns of kChainLength, instead of one long row.
constexpr int kStaggerRanks = 3;
constexpr int kChainLength = 4;

void stagger_leaves(Agraph_t* g,
                    std::size_t node_count,
                    std::span<const LayoutEdge> edges,
                    const std::vector<Agnode_t*>& placed,
                    const std::vector<Agedge_t*>& routed) {
    agattr(g, AGEDGE, const_cast<char*>("minlen"), const_cast<char*>("1"));
    agattr(g, AGEDGE, const_cast<char*>("style"), const_cast<char*>(""));
    std::vector<int> degree(node_count, 0);
    for (const LayoutEdge& e : edges) {
        ++degree[static_cast<std::size_t>(e.from)];
        ++degree[static_cast<std::size_t>(e.to)];
    }
    std::vector<int> leaves_seen(node_count, 0);
    for (std::size_t k = 0; k < edges.size(); ++k) {
        const auto from = static_cast<std::size_t>(edges[k].from);
        const auto to = static_cast<std::size_t>(edges[k].to);
        std::size_t hub = node_count;
        if (degree[to] == 1 && degree[from] > 1) hub = from;
        if (degree[from] == 1 && degree[to] > 1) hub = to;
        if (hub == node_count) continue;
        const int length = 1 + leaves_seen[hub]++ % kStaggerRanks;
        if (length > 1) set_attribute(routed[k], "minlen", std::to_string(length));
    }
    Agnode_t* previous = nullptr;
    int chained = 0;
    for (std::size_t k = 0; k < node_count; ++k) {
        if (degree[k] != 0) continue;
        if (previous != nullptr && chained < kChainLength) {
            set_attribute(agedge(g, previous, placed[k], nullptr, 1), "style", "invis");
            ++chained;
        } else {
            chained = 1;
        }
        previous = placed[k];
    }
}

struct GraphDeleter {
    void operator()(Agraph_t* graph) const { agclose(graph); }
};

}  // namespace

std::string layout_program(int genes, int edges) {
    return genes <= kDotMaxGenes && edges <= kDotMaxEdges ? "dot" : "sfdp";
}

GraphLayout compute_layout(std::span<const LayoutNode> nodes,
                           std::span<const LayoutEdge> edges,
                           const std::string& program,
                           double head_length,
                           bool across) {
    // Unknown programs are refused here: Graphviz's own refusal lists its plugins and loses
    // that list.
    if (std::find(std::begin(kPrograms), std::end(kPrograms), program) == std::end(kPrograms))
        throw LayoutError("Graphviz has no layout program '" + program + "'");

    // Graphviz's layouts keep state in globals of their own: one layout at a time per process.
    // Its context lives as long as the process: each new one reads the plugin configuration
    // again and loses what it read (Graphviz 2.42). The lock and the context are the statics
    // of this folder, and they hold only that foreign state.
    static std::mutex graphviz;
    static GVC_t* shared_context = nullptr;
    const std::lock_guard<std::mutex> lock(graphviz);

    agseterr(AGMAX);  // messages are not printed; the last one is read back on failure
    if (shared_context == nullptr) shared_context = gvContext();
    if (shared_context == nullptr) throw LayoutError("Graphviz could not start");
    GVC_t* const context = shared_context;
    const std::unique_ptr<Agraph_t, GraphDeleter> graph(
        agopen(const_cast<char*>("network"), Agdirected, nullptr));
    if (!graph) throw LayoutError("Graphviz could not create the graph");
    Agraph_t* g = graph.get();

    const bool layered = program == "dot";
    if (layered) {
        set_default(g, AGRAPH, "splines", "true");
        set_default(g, AGRAPH, "nodesep", "0.25");
        set_default(g, AGRAPH, "ranksep", "0.45");
        // Bounded effort: unbounded, the network simplex that places nodes across took seconds
        // at 100 genes and 300 edges (long edges make thousands of virtual nodes); one pass
        // per node and half the crossing passes took a tenth of that and look alike.
        set_default(g, AGRAPH, "nslimit", "1");
        set_default(g, AGRAPH, "mclimit", "0.5");
        if (across) set_default(g, AGRAPH, "rankdir", "LR");
    } else {
        // Straight lines: routing splines around thousands of boxes takes far longer than the
        // layout itself.
        set_default(g, AGRAPH, "splines", "line");
        set_default(g, AGRAPH, "overlap", "prism");
        set_default(g, AGRAPH, "sep", "+6");
    }
    set_default(g, AGNODE, "shape", "box");
    set_default(g, AGNODE, "fixedsize", "true");
    set_default(g, AGNODE, "label", "");
    set_default(g, AGNODE, "width", "0.75");
    set_default(g, AGNODE, "height", "0.5");
    set_default(g, AGEDGE, "arrowhead", "normal");
    set_default(g, AGEDGE, "arrowsize", number_text(head_length / kArrowLengthAtSizeOne).c_str());

    std::vector<Agnode_t*> placed;
    placed.reserve(nodes.size());
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        char name[24] = "n";
        *std::to_chars(name + 1, name + sizeof name - 1, k).ptr = '\0';
        Agnode_t* node = agnode(g, name, 1);
        set_attribute(node, "width", number_text(nodes[k].width / kPointsPerInch));
        set_attribute(node, "height", number_text(nodes[k].height / kPointsPerInch));
        placed.push_back(node);
    }
    std::vector<Agedge_t*> routed;
    routed.reserve(edges.size());
    for (const LayoutEdge& e : edges) {
        routed.push_back(agedge(g, placed[static_cast<std::size_t>(e.from)],
                                placed[static_cast<std::size_t>(e.to)], nullptr, 1));
    }

    if (layered) stagger_leaves(g, nodes.size(), edges, placed, routed);

    if (gvLayout(context, g, program.c_str()) != 0) {
        char* message = aglasterr();  // the caller's to free
        const std::string reason = message != nullptr ? std::string(": ") + message : "";
        std::free(message);
        throw LayoutError("Graphviz could not lay out the network with '" + program + "'" + reason);
    }

    // Graphviz's y grows upwards from the bounding box's lower left corner.
    GraphLayout layout;
    layout.program = program;
    const boxf box = GD_bb(g);
    layout.width = box.UR.x - box.LL.x;
    layout.height = box.UR.y - box.LL.y;
    const auto to_screen = [&box](pointf p) { return LayoutPoint{p.x - box.LL.x, box.UR.y - p.y}; };
    for (Agnode_t* node : placed) layout.centres.push_back(to_screen(ND_coord(node)));
    for (std::size_t k = 0; k < routed.size(); ++k) {
        PlacedEdge edge;
        const splines* spline = ED_spl(routed[k]);
        if (spline != nullptr && spline->size > 0 && spline->list[0].size >= 4) {
            const bezier& curve = spline->list[0];
            for (int p = 0; p < curve.size; ++p) edge.spline.push_back(to_screen(curve.list[p]));
            edge.tip = curve.eflag ? to_screen(curve.ep) : edge.spline.back();
        } else {
            // No route (Graphviz gives none for some degenerate placements): a straight line
            // from border to border, short of the target by the head.
            const auto from = static_cast<std::size_t>(edges[k].from);
            const auto to = static_cast<std::size_t>(edges[k].to);
            const LayoutPoint a =
                border_point(layout.centres[from], nodes[from], layout.centres[to]);
            edge.tip = border_point(layout.centres[to], nodes[to], layout.centres[from]);
            const double dx = edge.tip.x - a.x;
            const double dy = edge.tip.y - a.y;
            const double length = std::hypot(dx, dy);
            const double keep = length > head_length ? (length - head_length) / length : 0.0;
            const LayoutPoint base{a.x + keep * dx, a.y + keep * dy};
            edge.spline = {a, a, base, base};
        }
        layout.edges.push_back(std::move(edge));
    }
    gvFreeLayout(context, g);
    return layout;
}

}  // namespace netrevia::viewer
