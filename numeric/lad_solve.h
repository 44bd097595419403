#pragma once

#include "numeric/matrix_ref.h"

namespace netrevia::numeric {

// Minimises sum_i |b(i) - sum_j a(i,j) x(j)| over x for m equations in n unknowns (m >= n in
// this system): the Barrodale-Roberts modified simplex method (I. Barrodale, F. D. K. Roberts,
// SIAM J. Numer. Anal. 10 (1973) 839-848; Comm. ACM 17 (1974) 319-320).
//
// Storage contract: T is (m + 2) x (n + 2), column-major with T.ld == rows == m + 2 and
// cols == n + 2; on entry rows 1..m, columns 1..n hold a(i,j). On return:
//   T(m+1, n+1) minimum sum of |residuals|      T(m+1, n+2) rank
//   T(m+2, n+1) exit code: 0 optimal, 1 unique optimal, 2 ended early (rounding)
//   T(m+2, n+2) number of pivots
// b (m) is destroyed (scratch for the ratios); x (n) receives the solution, r (m) the
// residuals b - A x; ws (m) is integer scratch. tol, and the working values d and pivot, are
// single precision as the method prescribes; everything else is double. Re-entrant.
//
// This is the published calling sequence, kept as an adapter: the tableau extent passed apart
// from m and n, the outcomes left in the tableau's last two rows. The golden tests and the
// benchmark pin results through exactly this shape, and a faster sweep is checked against it;
// code of this project calls lad_fit below instead.
void lad_solve(int m,
               int n,
               int rows,
               int cols,
               MatrixRef T,
               VectorRef b,
               float tol,
               VectorRef x,
               VectorRef r,
               IntVectorRef ws);

// What a fit leaves in the tableau's last two rows, by name.
struct LadFit {
    double residual_sum = 0.0;  // minimum sum of |residuals|
    int rank = 0;
    int exit_code = 0;  // 0 optimal, 1 unique optimal, 2 ended early (rounding)
    int pivots = 0;
};

// lad_solve with the extent taken from m and n (T.ld must be m + 2) and the outcomes returned.
inline LadFit lad_fit(
    int m, int n, MatrixRef T, VectorRef b, float tol, VectorRef x, VectorRef r, IntVectorRef ws) {
    lad_solve(m, n, m + 2, n + 2, T, b, tol, x, r, ws);
    return {T(m + 1, n + 1), static_cast<int>(T(m + 1, n + 2)), static_cast<int>(T(m + 2, n + 1)),
            static_cast<int>(T(m + 2, n + 2))};
}

}  // namespace netrevia::numeric
