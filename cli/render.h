#pragma once

#include <filesystem>
#include <string>

#include "inference/run.h"

namespace netrevia::cli {

// Graphviz layout program for a network of this size: "dot" draws small networks best but takes
// minutes beyond a few hundred nodes; "sfdp" stays under a second there.
std::string choose_layout(int nodes, int edges);

// Draws dot_file with the layout program into drawn_file in the format (svg or png), through a
// temporary file renamed into place. Returns an empty string on success, otherwise what went
// wrong; then no drawing is left under that name.
std::string render_graph(const std::filesystem::path& dot_file,
                         const std::string& format,
                         const std::string& layout,
                         const std::filesystem::path& drawn_file);

// Draws the network from its own styled description (output::format_drawing: full names,
// arrowheads by sign, widths by rank, a legend), kept in a temporary file beside drawn_file
// while the layout program runs; GRN.dot is not used. Returns what went wrong, or "".
std::string render_network(const inference::InferredNetwork& network,
                           double threshold,
                           bool self_loops,
                           const std::string& format,
                           const std::string& layout,
                           const std::filesystem::path& drawn_file);

}  // namespace netrevia::cli
