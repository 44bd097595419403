#pragma once

#include <vector>

#include "numeric/matrix_ref.h"
#include "numeric/notify.h"

namespace netrevia::inference {

// Singular values not above this count as zero: the single-precision value of 1.0e-6,
// compared in double.
inline constexpr double kZeroSingularValue = 9.999999974752427e-7;

// One dataset's linear model dx/dt = J x: from the linear-scale expression Y (T x n, row =
// time point, column = gene, stride T) and the time points t(1..T), the minimum-norm
// least-squares interaction matrix J0 (n x n) and the basis B (n x n: columns 1..z span the
// null space of the state matrix, the largest singular value in column n). Returns z, the count
// of zero singular values. Y is overwritten. Preconditions: T >= 2, t strictly increasing,
// 1 <= n <= 2000.
int solve_dataset(int n,
                  int T,
                  const std::vector<double>& t,
                  std::vector<double>& Y,
                  numeric::MatrixRef J0,
                  numeric::MatrixRef B,
                  const numeric::Notify& notify);

}  // namespace netrevia::inference
