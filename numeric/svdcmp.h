#pragma once

#include "numeric/matrix_ref.h"
#include "numeric/notify.h"

namespace netrevia::numeric {

// Capacity of the superdiagonal work vector: svdcmp requires n <= kSvdMaxColumns.
inline constexpr int kSvdMaxColumns = 2000;

// sqrt(a^2 + b^2) without destructive overflow or underflow.
double hypotenuse(const double& a, const double& b);

// A = U diag(w) V^T for the leading m x n part of A (stride A.ld >= m), in place: A returns U.
// m < n allowed; w unsorted; V (stride V.ld >= n) receives the n x n orthogonal factor.
// Golub-Reinsch (G. H. Golub, C. Reinsch, Numer. Math. 14 (1970) 403-420).
// Precondition: 1 <= n <= kSvdMaxColumns (asserted). Checks no other argument. Re-entrant.
// After 29 sweeps without convergence of one singular value, notify receives
// "no convergence in svdcmp" and the 30th sweep is carried out as usual.
void svdcmp(MatrixRef A, int m, int n, VectorRef w, MatrixRef V, const Notify& notify);

}  // namespace netrevia::numeric
