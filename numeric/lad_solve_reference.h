#pragma once

#include "numeric/matrix_ref.h"

namespace netrevia::numeric {

// The same minimisation, storage contract and results as lad_solve, one pivot at a time: every
// pivot updates the whole tableau before the next decision. lad_solve applies several pivots per
// pass over the tableau and must equal this routine bit for bit (T, x, r); it is kept as the
// readable statement of the method and as the yardstick of the tests.
void lad_solve_reference(int m,
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
