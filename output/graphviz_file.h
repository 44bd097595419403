#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

// Message text only, as every unit number: scripts that match "unit 5" rely on the value.
inline constexpr int kGraphvizFileUnit = 5;
inline constexpr const char* kGraphvizFileName = "GRN.dot";

// The edge rule: +1 (an activation, drawn blue) when r > threshold, otherwise -1 (a
// repression, drawn red) when r < -threshold, otherwise 0 (no edge). Both comparisons are
// strict and the first decides, so a negative threshold makes every number an edge and NaN is
// never one.
constexpr int edge_sign(double r, double threshold) {
    return r > threshold ? 1 : (r < -threshold ? -1 : 0);
}

// True when Graphviz reads name as a node identifier without quotes: ASCII letters, digits and
// underscores not starting with a digit and not a keyword of the language (node, edge, graph,
// digraph, subgraph, strict, in any case), or digits alone (a numeral).
bool is_plain_dot_id(std::string_view name);

// name as a quoted Graphviz string: '"' and '\' escaped, control characters and bytes that are
// not valid UTF-8 replaced by '?'.
std::string quote_dot_string(std::string_view name);

// The content of GRN.dot: the 28 header lines, one edge pair per entry with R(i,j) > threshold
// (blue) or else R(i,j) < -threshold (red), i then j ascending, and the closing line; CR LF
// after every line. names holds n texts of exactly 9 characters; a name that is not a plain
// identifier is written quoted (quote_dot_string), padded to 9 characters when shorter.
void format_graphviz(std::ostream& out,
                     std::span<const std::string> names,
                     numeric::ConstMatrixRef R,
                     int n,
                     double threshold);

// Writes folder/GRN.dot, replacing an old file only once the new one is complete.
// Throws IoError (unit 5) on failure.
void write_graphviz_file(const std::filesystem::path& folder,
                         std::span<const std::string> names,
                         numeric::ConstMatrixRef R,
                         int n,
                         double threshold);

}  // namespace netrevia::output
