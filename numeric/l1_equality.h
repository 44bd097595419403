#pragma once

#include <vector>

#include "numeric/matrix_ref.h"

namespace netrevia::numeric {

enum class L1EqualityStatus {
    kOptimal,         // r minimises sum |r(j)| subject to A r = c
    kRankDeficient,   // A has dependent rows: r is optimal for a maximal independent set of
                      // rows (the others hold only if c is consistent with them)
    kIterationLimit,  // stopped at the iteration limit: A r = c holds, r may not be minimal
};

struct L1EqualityOutcome {
    L1EqualityStatus status = L1EqualityStatus::kOptimal;
    int iterations = 0;  // basis changes
    double sum = 0.0;    // sum |r(j)|
};

// Work storage of the solver, grown on demand; one per thread. Between calls it holds nothing
// a later call reads.
struct L1EqualityWork {
    std::vector<double> inverse;      // p x p: inverse of the basis matrix A_S
    std::vector<double> lu;           // p x p: LU factors of A_S
    std::vector<double> y;            // p: multipliers, A_S^T y = s
    std::vector<double> d;            // p: A_S^{-1} a_j of the entering column
    std::vector<double> values;       // p: the basic values r_S
    std::vector<double> signs;        // p: side of each basic variable, +1 or -1
    std::vector<double> scratch;      // p
    std::vector<double> ratios;       // p: breakpoints of the ratio test
    std::vector<double> elimination;  // p x n: copy of A for choosing a start basis
    std::vector<int> pivots;          // p: row interchanges of the LU factors
    std::vector<int> order;           // p: breakpoint order; rows chosen by the start basis
    std::vector<int> row_free;        // p
    std::vector<int> position;        // n: basis position of column j, 0 when nonbasic

    void reserve(int p, int n);
};

// The default iteration limit for p rows: far above the few times p basis changes a solve
// needs in practice.
int l1_equality_iteration_limit(int p);

// A start basis for l1_equality_solve: Gaussian elimination with complete pivoting on a copy of
// A (p x n, stride A.ld), the largest remaining |entry| as pivot (ties: lowest column, then
// lowest row). Writes the pivot columns as labels into basis(1..rank) (zeros beyond) and returns
// the rank: the pivot count before the largest remaining entry falls to 1e-11 of max |A|.
int l1_equality_start_basis(
    ConstMatrixRef A, int p, int n, IntVectorRef basis, L1EqualityWork& work);

// Minimises sum_j |r(j)| subject to A r = c, A being p x n (stride A.ld) and p small: the
// primal simplex method for a linear program in the split r = u - v (u, v >= 0, 2n columns, p
// rows), on a p x p basis. r is free, so every basis is feasible and no first phase is needed;
// a basis S of p columns gives r_S = A_S^{-1} c and r = 0 elsewhere, and column j improves the
// sum when |a_j^T y| > 1 for the multipliers A_S^T y = s (s the signs of r_S). The ratio test
// takes the long step of the L1 fit (I. Barrodale, F. D. K. Roberts, SIAM J. Numer. Anal. 10
// (1973) 839-848): it passes the breakpoints where basic values change sign for as long as
// the sum still falls, so one iteration may cross several vertices.
//
// Tie-breaking, so that results depend only on the input: the entering column has the
// largest |a_j^T y| - 1 (Dantzig), the lowest j among equals; breakpoints are taken in
// ascending order of step length, the lowest column among equals. After 50 consecutive steps
// that do not lower the sum, the rest of the solve follows Bland's rule (lowest improving j,
// shortest step), which cannot cycle. A solve that reaches max_iterations (0: the default
// limit) stops with kIterationLimit and the feasible r of its last basis.
//
// basis(1..p) holds signed column labels: on entry a start basis (label 0 or a singular A_S:
// the complete-pivoting start basis is used instead), on return the final basis, each label
// negative when its variable lies on the negative side. Passing the previous solution's basis
// warm-starts a nearby problem. The basis inverse is updated by rank-one changes, recomputed
// every 32 changes, and r_S is recomputed at the end from LU factors with partial pivoting and
// one step of iterative refinement, so A r = c holds to rounding.
//
// Tolerances: a column improves when |a_j^T y| > 1 + 1e-10; entries of A_S^{-1} a_j below
// 1e-10 of its largest count as zero in the ratio test; a start basis whose LU pivot falls
// below 1e-11 of max |A_S| counts as singular. p = 0 gives r = 0. Never throws except
// std::bad_alloc when work storage grows.
L1EqualityOutcome l1_equality_solve(ConstMatrixRef A,
                                    int p,
                                    int n,
                                    ConstVectorRef c,
                                    VectorRef r,
                                    IntVectorRef basis,
                                    L1EqualityWork& work,
                                    int max_iterations = 0);

}  // namespace netrevia::numeric
