#pragma once

#include <filesystem>
#include <string>

namespace netrevia::cli {

// Graphviz layout program for a network of this size: "dot" draws small networks best but takes
// minutes beyond a few hundred nodes; "sfdp" stays under a second there.
std::string choose_layout(int nodes, int edges);

// Draws dot_file with the layout program into a file beside it with the format's extension
// (svg or png), through a temporary file renamed into place. Returns an empty string on
// success, otherwise what went wrong; then no drawing is left under that name.
std::string render_graph(const std::filesystem::path& dot_file,
                         const std::string& format,
                         const std::string& layout,
                         std::filesystem::path& drawn_file);

}  // namespace netrevia::cli
