#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>

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

// The content of GRN.dot: the 28 header lines, one edge pair per entry with R(i,j) > threshold
// (blue) or else R(i,j) < -threshold (red), i then j ascending, and the closing line; CR LF
// after every line. names holds n texts of exactly 9 characters.
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
