#include "numeric/l1_equality.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace netrevia::numeric {

namespace {

constexpr double kOptimalityTolerance = 1.0e-10;  // |a_j^T y| > 1 + this: j improves the sum
constexpr double kPivotTolerance = 1.0e-10;       // relative to max |d|
constexpr double kSingularTolerance = 1.0e-11;    // relative to the largest entry
constexpr int kRefactorPeriod = 32;               // rank-one updates between recomputations
constexpr int kDegenerateLimit = 50;              // steps without decrease before Bland's rule

std::size_t size_of(int rows, int cols) {
    return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
}

// LU factors with partial pivoting of the p x p basis matrix A_S, F(i, q) = A(i, |label q|),
// into work.lu and work.pivots. Fails when a pivot is not above tolerance * max |A_S|; with
// tolerance 0 only an exactly zero pivot fails.
bool factor_basis(ConstMatrixRef A, int p, IntVectorRef basis, L1EqualityWork& work, double tol) {
    const MatrixRef F{work.lu.data(), p};
    const IntVectorRef pivots{work.pivots.data()};
    double largest = 0.0;
    for (int q = 1; q <= p; ++q) {
        const int j = std::abs(basis(q));
        for (int i = 1; i <= p; ++i) {
            F(i, q) = A(i, j);
            largest = std::max(largest, std::abs(F(i, q)));
        }
    }
    const double bound = tol * largest;
    for (int k = 1; k <= p; ++k) {
        int pivot_row = k;
        for (int i = k + 1; i <= p; ++i) {
            if (std::abs(F(i, k)) > std::abs(F(pivot_row, k))) pivot_row = i;
        }
        if (!(std::abs(F(pivot_row, k)) > bound) || F(pivot_row, k) == 0.0) return false;
        pivots(k) = pivot_row;
        if (pivot_row != k) {
            for (int q = 1; q <= p; ++q) std::swap(F(k, q), F(pivot_row, q));
        }
        for (int i = k + 1; i <= p; ++i) {
            F(i, k) /= F(k, k);
            const double f = F(i, k);
            for (int q = k + 1; q <= p; ++q) F(i, q) -= f * F(k, q);
        }
    }
    return true;
}

// Solves A_S x = v in place from the LU factors (forward, then back substitution).
void lu_solve(int p, const L1EqualityWork& work, VectorRef v) {
    const ConstMatrixRef F{work.lu.data(), p};
    for (int k = 1; k <= p; ++k) {
        const int pr = work.pivots[static_cast<std::size_t>(k - 1)];
        if (pr != k) std::swap(v(k), v(pr));
    }
    for (int k = 1; k <= p; ++k) {
        for (int i = k + 1; i <= p; ++i) v(i) -= F(i, k) * v(k);
    }
    for (int k = p; k >= 1; --k) {
        for (int i = k + 1; i <= p; ++i) v(k) -= F(k, i) * v(i);
        v(k) /= F(k, k);
    }
}

// The explicit inverse of A_S from its LU factors, column by column.
void invert_basis(int p, L1EqualityWork& work) {
    const MatrixRef inverse{work.inverse.data(), p};
    for (int col = 1; col <= p; ++col) {
        for (int i = 1; i <= p; ++i) inverse(i, col) = i == col ? 1.0 : 0.0;
        lu_solve(p, work, VectorRef{inverse.column(col)});
    }
}

// r_S = A_S^{-1} c from the LU factors, refined once by the residual c - A_S r_S.
void basic_values_from_lu(
    ConstMatrixRef A, int p, ConstVectorRef c, IntVectorRef basis, L1EqualityWork& work) {
    const VectorRef values{work.values.data()};
    const VectorRef residual{work.scratch.data()};
    for (int i = 1; i <= p; ++i) values(i) = c(i);
    lu_solve(p, work, values);
    for (int i = 1; i <= p; ++i) residual(i) = c(i);
    for (int q = 1; q <= p; ++q) {
        const int j = std::abs(basis(q));
        for (int i = 1; i <= p; ++i) residual(i) -= A(i, j) * values(q);
    }
    lu_solve(p, work, residual);
    for (int q = 1; q <= p; ++q) values(q) += residual(q);
}

// Marks the columns of a start basis in work.position; false (and nothing marked) when a label
// is 0, out of range or repeated.
bool mark_basis(int p, int n, IntVectorRef basis, L1EqualityWork& work) {
    const IntVectorRef position{work.position.data()};
    for (int q = 1; q <= p; ++q) {
        const int j = std::abs(basis(q));
        if (j < 1 || j > n || position(j) != 0) {
            for (int back = 1; back < q; ++back) position(std::abs(basis(back))) = 0;
            return false;
        }
        position(j) = q;
    }
    return true;
}

void unmark_basis(int p, IntVectorRef basis, L1EqualityWork& work) {
    for (int q = 1; q <= p; ++q) {
        const int j = std::abs(basis(q));
        if (j != 0) work.position[static_cast<std::size_t>(j - 1)] = 0;
    }
}

// Dependent rows: the solve continues on the rank independent rows the start basis chose
// (work.order), copied into a smaller problem of their own.
L1EqualityOutcome solve_reduced(ConstMatrixRef A,
                                int p,
                                int n,
                                int rank,
                                ConstVectorRef c,
                                VectorRef r,
                                IntVectorRef basis,
                                int max_iterations,
                                const L1EqualityWork& work) {
    std::vector<double> reduced_A(size_of(std::max(rank, 1), n));
    std::vector<double> reduced_c(static_cast<std::size_t>(std::max(rank, 1)));
    std::vector<int> reduced_basis(static_cast<std::size_t>(std::max(rank, 1)));
    const MatrixRef A_reduced{reduced_A.data(), std::max(rank, 1)};
    for (int k = 1; k <= rank; ++k) {
        const int row = work.order[static_cast<std::size_t>(k - 1)];
        for (int j = 1; j <= n; ++j) A_reduced(k, j) = A(row, j);
        reduced_c[static_cast<std::size_t>(k - 1)] = c(row);
        reduced_basis[static_cast<std::size_t>(k - 1)] = basis(k);
    }
    L1EqualityWork inner;
    L1EqualityOutcome outcome =
        l1_equality_solve({reduced_A.data(), std::max(rank, 1)}, rank, n, {reduced_c.data()}, r,
                          {reduced_basis.data()}, inner, max_iterations);
    for (int q = 1; q <= p; ++q) {
        basis(q) = q <= rank ? reduced_basis[static_cast<std::size_t>(q - 1)] : 0;
    }
    if (outcome.status == L1EqualityStatus::kOptimal)
        outcome.status = L1EqualityStatus::kRankDeficient;
    return outcome;
}

}  // namespace

void L1EqualityWork::reserve(int p, int n) {
    const std::size_t pp = size_of(p, p);
    const auto grow = [](auto& v, std::size_t size) {
        if (v.size() < size) v.resize(size);
    };
    grow(inverse, pp);
    grow(lu, pp);
    for (auto* v : {&y, &d, &values, &signs, &scratch, &ratios})
        grow(*v, static_cast<std::size_t>(p));
    grow(elimination, size_of(p, n));
    grow(pivots, static_cast<std::size_t>(p));
    grow(order, static_cast<std::size_t>(p));
    grow(row_free, static_cast<std::size_t>(p));
    grow(position, static_cast<std::size_t>(n));  // new entries are 0: no column marked
}

int l1_equality_iteration_limit(int p) { return 100 * (p + 10); }

int l1_equality_start_basis(
    ConstMatrixRef A, int p, int n, IntVectorRef basis, L1EqualityWork& work) {
    work.reserve(p, n);
    const MatrixRef W{work.elimination.data(), std::max(p, 1)};
    const IntVectorRef chosen{work.position.data()};  // borrowed; cleared again below
    const IntVectorRef row_free{work.row_free.data()};
    const IntVectorRef rows{work.order.data()};
    double scale = 0.0;
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= p; ++i) {
            W(i, j) = A(i, j);
            scale = std::max(scale, std::abs(A(i, j)));
        }
    }
    for (int i = 1; i <= p; ++i) row_free(i) = 1;
    const double bound = kSingularTolerance * scale;
    int rank = 0;
    for (int k = 1; k <= p; ++k) {
        // Pivot search in column order, rows ascending: a later equal entry does not win.
        double best = 0.0;
        int best_row = 0;
        int best_col = 0;
        for (int j = 1; j <= n; ++j) {
            if (chosen(j) != 0) continue;
            for (int i = 1; i <= p; ++i) {
                if (row_free(i) != 0 && std::abs(W(i, j)) > best) {
                    best = std::abs(W(i, j));
                    best_row = i;
                    best_col = j;
                }
            }
        }
        if (!(best > bound)) break;
        rank = k;
        basis(k) = best_col;
        rows(k) = best_row;
        chosen(best_col) = k;
        row_free(best_row) = 0;
        for (int i = 1; i <= p; ++i) {
            if (row_free(i) == 0) continue;
            const double f = W(i, best_col) / W(best_row, best_col);
            if (f == 0.0) continue;
            for (int j = 1; j <= n; ++j) {
                if (chosen(j) == 0) W(i, j) -= f * W(best_row, j);
            }
        }
    }
    for (int k = 1; k <= rank; ++k) chosen(basis(k)) = 0;
    for (int k = rank + 1; k <= p; ++k) basis(k) = 0;
    return rank;
}

L1EqualityOutcome l1_equality_solve(ConstMatrixRef A,
                                    int p,
                                    int n,
                                    ConstVectorRef c,
                                    VectorRef r,
                                    IntVectorRef basis,
                                    L1EqualityWork& work,
                                    int max_iterations) {
    L1EqualityOutcome outcome;
    for (int j = 1; j <= n; ++j) r(j) = 0.0;
    if (p <= 0) return outcome;
    if (max_iterations <= 0) max_iterations = l1_equality_iteration_limit(p);
    work.reserve(p, n);

    // Start basis: the given one when it is nonsingular, else complete pivoting.
    bool started = mark_basis(p, n, basis, work);
    if (started && !factor_basis(A, p, basis, work, kSingularTolerance)) {
        unmark_basis(p, basis, work);
        started = false;
    }
    if (!started) {
        const int rank = l1_equality_start_basis(A, p, n, basis, work);
        if (rank < p) return solve_reduced(A, p, n, rank, c, r, basis, max_iterations, work);
        mark_basis(p, n, basis, work);
        // The pivots of complete pivoting are nonzero, so only an exact zero can fail here.
        factor_basis(A, p, basis, work, 0.0);
    }

    const MatrixRef inverse{work.inverse.data(), p};
    const VectorRef y{work.y.data()};
    const VectorRef d{work.d.data()};
    const VectorRef values{work.values.data()};
    const VectorRef signs{work.signs.data()};
    const VectorRef ratios{work.ratios.data()};
    const IntVectorRef order{work.order.data()};
    const IntVectorRef position{work.position.data()};

    invert_basis(p, work);
    basic_values_from_lu(A, p, c, basis, work);
    // Sides: the sign of each basic value; a zero value keeps the side of its label.
    for (int q = 1; q <= p; ++q) {
        signs(q) = values(q) > 0.0 ? 1.0 : values(q) < 0.0 ? -1.0 : (basis(q) < 0 ? -1.0 : 1.0);
    }

    int updates = 0;  // rank-one updates since the inverse was last computed from LU factors
    int degenerate_steps = 0;
    bool bland = false;
    while (true) {
        // Pricing: y = A_S^{-T} s, then the most violated |a_j^T y| <= 1 over the nonbasic j.
        for (int i = 1; i <= p; ++i) {
            double sum = 0.0;
            for (int q = 1; q <= p; ++q) sum += inverse(q, i) * signs(q);
            y(i) = sum;
        }
        int entering = 0;
        double entering_g = 0.0;
        double worst = kOptimalityTolerance;
        for (int j = 1; j <= n; ++j) {
            if (position(j) != 0) continue;
            double g = 0.0;
            for (int i = 1; i <= p; ++i) g += A(i, j) * y(i);
            const double violation = std::abs(g) - 1.0;
            if (violation > worst) {
                worst = violation;
                entering = j;
                entering_g = g;
                if (bland) break;
            }
        }
        if (entering == 0 || outcome.iterations >= max_iterations) {
            if (updates == 0) {
                if (entering != 0) outcome.status = L1EqualityStatus::kIterationLimit;
                break;
            }
            // Confirm with an inverse computed afresh before stopping.
            if (!factor_basis(A, p, basis, work, 0.0)) {
                if (entering != 0) outcome.status = L1EqualityStatus::kIterationLimit;
                break;
            }
            invert_basis(p, work);
            basic_values_from_lu(A, p, c, basis, work);
            updates = 0;
            continue;
        }

        // Ratio test: r_j = sigma t moves r_S by -sigma t d. The sum falls at the rate
        // |g| - 1 and each basic value that reaches zero adds 2 |d_q| to the slope.
        const double sigma = entering_g > 0.0 ? 1.0 : -1.0;
        double d_max = 0.0;
        for (int q = 1; q <= p; ++q) {
            double sum = 0.0;
            for (int i = 1; i <= p; ++i) sum += inverse(q, i) * A(i, entering);
            d(q) = sum;
            d_max = std::max(d_max, std::abs(sum));
        }
        int candidates = 0;
        for (int q = 1; q <= p; ++q) {
            const double rate = signs(q) * sigma * d(q);  // speed at which |r_q| falls
            if (rate > kPivotTolerance * d_max) {
                ratios(q) = std::max(0.0, signs(q) * values(q)) / std::abs(d(q));
                order(++candidates) = q;
            }
        }
        std::sort(work.order.begin(), work.order.begin() + candidates, [&](int a, int b) {
            if (ratios(a) != ratios(b)) return ratios(a) < ratios(b);
            return std::abs(basis(a)) < std::abs(basis(b));
        });
        double slope = 1.0 - std::abs(entering_g);
        int leaving = 0;
        int passed = 0;
        for (int k = 1; k <= candidates; ++k) {
            const int q = order(k);
            slope += 2.0 * std::abs(d(q));
            if (bland || slope >= 0.0 || k == candidates) {
                leaving = q;
                break;
            }
            ++passed;
        }
        // Some candidate always exists: |g| > 1 needs some s_q sigma d_q > 1/p.
        if (leaving == 0) {
            outcome.status = L1EqualityStatus::kIterationLimit;
            break;
        }
        const double step = ratios(leaving);

        // Basis change: the passed basic values changed sign, column `entering` takes the
        // place of the leaving one on side sigma.
        for (int k = 1; k <= passed; ++k) signs(order(k)) = -signs(order(k));
        const double pivot = d(leaving);
        for (int i = 1; i <= p; ++i) inverse(leaving, i) /= pivot;
        for (int q = 1; q <= p; ++q) {
            if (q == leaving || d(q) == 0.0) continue;
            const double f = d(q);
            for (int i = 1; i <= p; ++i) inverse(q, i) -= f * inverse(leaving, i);
        }
        position(std::abs(basis(leaving))) = 0;
        position(entering) = leaving;
        basis(leaving) = entering;
        signs(leaving) = sigma;
        ++outcome.iterations;
        ++updates;

        if (updates >= kRefactorPeriod && factor_basis(A, p, basis, work, 0.0)) {
            invert_basis(p, work);
            basic_values_from_lu(A, p, c, basis, work);
            updates = 0;
        } else {
            for (int q = 1; q <= p; ++q) {
                double sum = 0.0;
                for (int i = 1; i <= p; ++i) sum += inverse(q, i) * c(i);
                values(q) = sum;
            }
        }
        // A value that came out clearly on the other side moves its sign; values of rounding
        // size keep the side the step gave them.
        double value_scale = 0.0;
        for (int q = 1; q <= p; ++q) value_scale = std::max(value_scale, std::abs(values(q)));
        for (int q = 1; q <= p; ++q) {
            if (signs(q) * values(q) < -1.0e-12 * value_scale) signs(q) = -signs(q);
        }

        if (step > 0.0) {
            degenerate_steps = 0;
        } else if (++degenerate_steps >= kDegenerateLimit) {
            bland = true;
        }
    }

    for (int q = 1; q <= p; ++q) {
        const int j = std::abs(basis(q));
        r(j) = values(q);
        basis(q) = signs(q) < 0.0 ? -j : j;
        outcome.sum += std::abs(values(q));
    }
    unmark_basis(p, basis, work);
    return outcome;
}

}  // namespace netrevia::numeric
