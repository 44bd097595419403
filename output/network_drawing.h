#pragma once

#include <ostream>
#include <span>
#include <string>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

// A Graphviz description of the network for drawing, beside GRN.dot (whose layout is fixed):
// the genes with an edge beyond the threshold, labelled with their full names; activations
// blue with a normal arrowhead, repressions red with a tee; pen width from 1 (weakest) to 5
// (strongest) by the rank of |R(i,j)| among the drawn edges between distinct genes; self-loops
// thin and faint, or left out when self_loops is false; and a small legend. names holds the
// full names, index k-1 for gene k.
void format_drawing(std::ostream& out,
                    std::span<const std::string> names,
                    numeric::ConstMatrixRef R,
                    int n,
                    double threshold,
                    bool self_loops);

}  // namespace netrevia::output
