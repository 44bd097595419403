#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

// A Graphviz description of the network for drawing, beside GRN.dot (whose layout is fixed):
// the genes with an edge beyond the threshold, labelled with their full names; activations
// blue with a normal arrowhead, repressions red with a tee; pen width from 1 (weakest) to 5
// (strongest) by the rank of |R(i,j)| among the drawn edges between distinct genes; self-loops
// thin and faint, or left out when self_loops is false; and a small legend. names holds the
// full names, index k-1 for gene k. Only the max_edges strongest of the edges beyond the
// threshold are drawn (in the ranking of rank_edges, self-loops after the others), and the
// legend then says so: a layout program needs minutes for a few thousand edges, and a picture
// of them shows nothing.
struct DrawingExtent {
    std::size_t drawn = 0;             // edges in the drawing
    std::size_t beyond_threshold = 0;  // edges the threshold keeps; more than drawn when cut
};
DrawingExtent format_drawing(std::ostream& out,
                             std::span<const std::string> names,
                             numeric::ConstMatrixRef R,
                             int n,
                             double threshold,
                             bool self_loops,
                             std::size_t max_edges);

// A gene's label in the drawing, as a quoted Graphviz string: printable_name cut to
// kMaxLabelCharacters characters (then "..."), so that a name of kilobytes cannot make a node
// wider than a layout program can place, and '&' written as "&amp;", so that Graphviz never
// reads a name such as "&#xD800;" or "&lt;" as a character reference.
inline constexpr std::size_t kMaxLabelCharacters = 48;
std::string drawing_label(std::string_view name);

}  // namespace netrevia::output
