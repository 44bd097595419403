#pragma once

#include "numeric/matrix_ref.h"

namespace netrevia::selection {

// Minimises f(x) = sum_{j=1..N} c(j) |x - v(j)| over x for values v sorted ascending (N >= 1):
// walks the N + 1 linear pieces of f, left to right, and keeps a later piece's candidate only
// when it is strictly better, so for non-negative weights x_star is the smallest minimiser
// (the lower weighted median). f_star is f at x_star as computed piece by piece. All sums in
// double.
void weighted_median(
    int N, double& x_star, double& f_star, numeric::ConstVectorRef c, numeric::ConstVectorRef v);

}  // namespace netrevia::selection
