#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

#include "inference/run.h"
#include "output/network_drawing.h"

namespace netrevia::cli {

// Bounds of a drawing. A picture of thousands of edges shows nothing, and a layout program may
// take hours for it (dot: more than 300 s for 2000 edges among 1000 genes, where sfdp takes
// 1.3 s): so only the strongest max_edges edges are drawn, and the program is stopped after
// time_limit. cancel, when set, stops it at once.
inline constexpr std::size_t kDefaultRenderMaxEdges = 500;
inline constexpr std::chrono::seconds kDefaultRenderTimeLimit{60};
struct RenderLimits {
    std::size_t max_edges = kDefaultRenderMaxEdges;
    std::chrono::seconds time_limit = kDefaultRenderTimeLimit;
    const std::atomic<bool>* cancel = nullptr;
};

// How a drawing ended. Unless kDrawn, no drawing is left under its name (an earlier one would
// show another network) and no temporary file remains.
enum class RenderOutcome { kDrawn, kFailed, kStopped };
struct RenderResult {
    RenderOutcome outcome = RenderOutcome::kFailed;
    std::string problem;  // kFailed: what went wrong
    std::string layout;   // the layout program used
    output::DrawingExtent extent;
};

// Graphviz layout program for a network of this size: "dot" draws small networks best but takes
// minutes beyond a few hundred nodes; "sfdp" stays under a second there.
std::string choose_layout(int nodes, std::size_t edges);

// Draws dot_file with the layout program into drawn_file in the format (svg or png), through a
// temporary file renamed into place once the program succeeded, within limits (time_limit and
// cancel; max_edges is not used here). The program runs without a shell and dies with this
// process.
RenderResult render_graph(const std::filesystem::path& dot_file,
                          const std::string& format,
                          const std::string& layout,
                          const std::filesystem::path& drawn_file,
                          const RenderLimits& limits);

// Draws the network from its own styled description (output::format_drawing: full names,
// arrowheads by sign, widths by rank, a legend; at most limits.max_edges edges), kept in a
// temporary file beside drawn_file while the layout program runs; GRN.dot is not used. layout
// empty: chosen by choose_layout from the genes and the edges drawn.
RenderResult render_network(const inference::InferredNetwork& network,
                            double threshold,
                            bool self_loops,
                            const std::string& format,
                            const std::string& layout,
                            const std::filesystem::path& drawn_file,
                            const RenderLimits& limits);

}  // namespace netrevia::cli
