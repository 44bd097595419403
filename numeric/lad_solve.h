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

}  // namespace netrevia::numeric
