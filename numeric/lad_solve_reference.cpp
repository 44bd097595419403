#include "numeric/lad_solve_reference.h"

#include <cassert>
#include <cmath>
#include <utility>

// No dependence between the iterations of the loop that follows (GCC's vectoriser may skip its
// aliasing checks).
#if defined(__GNUC__) && !defined(__clang__)
#define NETREVIA_IVDEP _Pragma("GCC ivdep")
#else
#define NETREVIA_IVDEP
#endif

namespace netrevia::numeric {

namespace {

// BIG of the method: 1.0e38 as a single-precision constant, widened (9.99999968e37).
constexpr double kBig = static_cast<double>(1.0e38f);

}  // namespace

// The method one pivot at a time, in the order of the published description: the statement of
// what lad_solve computes, kept beside it so that its blocked elimination can be checked against
// it bit for bit.
//
// Tableau layout (m2 = m + 2 rows, n2 = n + 2 columns): rows 1..m are the constraints with the
// basic values in column n + 1 and signed row labels in column n + 2 (n + i: residual of equation
// i; j <= n: unknown j; negative: the row's sign was flipped); row m + 1 holds the marginal costs,
// row m + 2 the column labels. Stage 1 pivots the unknowns into the basis (rows 1..kl-1 then hold
// them), setting aside columns found linearly dependent (columns 1..kr-1); stage 2 exchanges
// residuals until no marginal cost improves the sum. A leaving row whose marginal cost allows it is
// reflected rather than pivoted on, so one iteration may pass several vertices.
//
// Precision: d (every general temporary) and pivot are float, as in the published method, and each
// value assigned to them is rounded to single precision; later tie-breaks and ratio tests depend on
// that rounding, so keep them float. Everything else, including best, min, the sums and the
// expressions mixing them with d or pivot, is double.
//
// On x86-64 the routine is also compiled for AVX2, chosen at run time: wider vectors for the
// elimination, the same IEEE operations one by one (no fused multiply-add: -ffp-contract=off and
// no FMA target), so the results are bit for bit those of the baseline code.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void lad_solve_reference(int m,
               int n,
               int rows,
               int cols,
               MatrixRef T,
               VectorRef b,
               float tol,
               VectorRef x,
               VectorRef r,
               IntVectorRef ws) {
    assert(m >= 0 && n >= 1 && rows == m + 2 && cols == n + 2 && T.ld == rows);
    // Every index below derives from m and n, so a tableau of any other extent, or no unknown at
    // all, could reach past the caller's storage. When assertions are compiled out such a call
    // returns at once and touches nothing.
    if (m < 0 || n < 1 || rows != m + 2 || cols != n + 2 || T.ld != rows) return;
    const int m1 = m + 1;
    const int m2 = m + 2;
    const int n1 = n + 1;
    const int n2 = n + 2;

    // Initialisation: labels, sign-normalised right-hand side, marginal costs.
    for (int j = 1; j <= n; ++j) {
        T(m2, j) = j;
        x(j) = 0.0;
    }
    for (int i = 1; i <= m; ++i) {
        T(i, n2) = n + i;
        T(i, n1) = b(i);
        if (b(i) < 0.0) {  // a zero of either sign is not negated
            for (int j = 1; j <= n2; ++j) T(i, j) = -T(i, j);
        }
        r(i) = 0.0;
    }
    for (int j = 1; j <= n1; ++j) {
        double sum = 0.0;
        for (int i = 1; i <= m; ++i) sum += T(i, j);
        T(m1, j) = sum;
    }

    bool stage2 = false;
    bool ended_early = false;
    int pivots = 0;
    int kr = 1;   // first column not set aside as linearly dependent
    int kl = 1;   // first row that does not hold an unknown
    int in = 1;   // entering column
    int out = 1;  // leaving row
    float pivot = 0.0f;

    for (;;) {
        if (!stage2) {
            // Stage 1 entering column: largest |marginal cost| among the columns that still stand
            // for an unknown; ties keep the first. The first such column stands in when no cost
            // compares (all NaN), so that `in` is always a column of this call.
            double best = -1.0;
            in = 0;
            for (int j = kr; j <= n; ++j) {
                if (std::abs(T(m2, j)) > n) continue;
                if (in == 0) in = j;
                const float d = static_cast<float>(std::abs(T(m1, j)));
                if (d > best) {
                    best = d;
                    in = j;
                }
            }
            // Each stage-1 event consumes one unknown column and stage 2 begins when none is
            // left, so an unknown column always remains here.
            assert(in != 0);
            if (T(m1, in) < 0.0) {
                for (int i = 1; i <= m2; ++i) T(i, in) = -T(i, in);
            }
        } else {
            // Stage 2 entering column: a column's value is its cost d when d >= 0, -d - 2 when
            // d <= -2 (entering with the opposite sign); costs in (-2, 0) cannot improve the sum.
            double best = -kBig;
            for (int j = kr; j <= n; ++j) {
                const float d = static_cast<float>(T(m1, j));
                double value = 0.0;
                if (d >= 0.0f) {
                    value = d;
                } else if (d <= -2.0f) {
                    value = -static_cast<double>(d) - 2.0;
                } else {
                    continue;
                }
                if (value > best) {
                    best = value;
                    in = j;
                }
            }
            if (best <= tol) break;  // optimal
            if (!(T(m1, in) > 0.0)) {
                for (int i = 1; i <= m2; ++i) T(i, in) = -T(i, in);
                T(m1, in) = T(m1, in) - 2.0;
            }
        }

        // Leaving row. Candidate list: rows with an entry above tol in the entering column,
        // their ratios held in b and their row numbers in ws.
        int k = 0;
        bool candidate = false;
        for (int i = kl; i <= m; ++i) {
            const float d = static_cast<float>(T(i, in));
            if (d > tol) {
                ++k;
                b(k) = T(i, n1) / d;
                ws(k) = i;
                candidate = true;
            }
        }
        for (;;) {
            if (k == 0) {
                candidate = false;
                break;
            }
            // Ratio test, ties keep the first entry in list order. The chosen entry is replaced
            // by the last one, so the list order changes with every removal. When no ratio lies
            // below BIG the method names no row; the first listed one then leaves, which keeps
            // `out` a candidate row of this call.
            double min = kBig;
            int chosen = 1;
            out = ws(1);
            for (int q = 1; q <= k; ++q) {
                if (b(q) < min) {
                    min = b(q);
                    out = ws(q);
                    chosen = q;
                }
            }
            b(chosen) = b(k);
            ws(chosen) = ws(k);
            --k;

            // Reflection test: while the cost stays above tol after passing this vertex, reflect
            // row out (pass on to the next candidate) instead of pivoting.
            pivot = static_cast<float>(T(out, in));
            if (T(m1, in) - pivot - pivot <= tol) break;
            for (int j = kr; j <= n1; ++j) {
                const float d = static_cast<float>(T(out, j));
                T(m1, j) = T(m1, j) - d - d;
                T(out, j) = -d;
            }
            T(out, n2) = -T(out, n2);
        }

        if (!candidate) {
            if (stage2) {  // no row can leave: rounding errors have stalled the method
                T(m2, n1) = 2.0;
                ended_early = true;
                break;
            }
            // Stage 1: the entering column depends linearly on the basis. Set it aside at kr;
            // the exchange goes through d, so the values moved into column in are rounded.
            for (int i = 1; i <= m2; ++i) {
                const float d = static_cast<float>(T(i, kr));
                T(i, kr) = T(i, in);
                T(i, in) = d;
            }
            ++kr;
        } else {
            // Pivot on T(out, in): the multipliers d and the pivot are single precision, the
            // updates they feed are double.
            for (int j = kr; j <= n1; ++j) {
                if (j != in) T(out, j) = T(out, j) / pivot;
            }
            // T(i,j) -= d_i T(out,j) for i != out, j != in, with the multiplier d_i = T(i,in)
            // rounded to float. Column in is not written here, so each update depends only on
            // its own element, its row's multiplier and the pivot row: the loops run column by
            // column, in storage order, and every element gets the same rounding as row by row.
            // The candidate ratios in b are dead until the next ratio test, so b holds the
            // multipliers of rows 1..m meanwhile (each a float, widened exactly).
            for (int i = 1; i <= m; ++i) b(i) = static_cast<float>(T(i, in));
            const float d_cost = static_cast<float>(T(m1, in));
            for (int j = kr; j <= n1; ++j) {
                if (j == in) continue;
                const double pivot_row = T(out, j);
                // b and the tableau are distinct arrays (storage contract): no dependence
                // between iterations, so the compiler may use vector instructions.
                NETREVIA_IVDEP
                for (int i = 1; i < out; ++i) T(i, j) = T(i, j) - b(i) * pivot_row;
                NETREVIA_IVDEP
                for (int i = out + 1; i <= m; ++i) T(i, j) = T(i, j) - b(i) * pivot_row;
                T(m1, j) = T(m1, j) - d_cost * pivot_row;
            }
            for (int i = 1; i <= m1; ++i) {
                if (i != out) T(i, in) = -T(i, in) / pivot;
            }
            T(out, in) = 1.0 / static_cast<double>(pivot);
            std::swap(T(out, n2), T(m2, in));
            ++pivots;
            if (stage2) continue;

            // Stage 1: move the new unknown row up to position `pivots` (= kl - 1 after the
            // increment), through d, so the values moved out of row out are rounded.
            ++kl;
            for (int j = kr; j <= n2; ++j) {
                const float d = static_cast<float>(T(out, j));
                T(out, j) = T(pivots, j);
                T(pivots, j) = d;
            }
        }
        if (pivots + kr == n1) stage2 = true;
    }

    if (!ended_early) {
        // Sign normalisation of the unknown rows, then the exit code: 1 when no marginal cost of
        // a full-rank tableau lies at 0 or 2 (within tol), which would mean an alternative optimum.
        for (int i = 1; i <= kl - 1; ++i) {
            if (T(i, n1) < 0.0) {
                for (int j = kr; j <= n2; ++j) T(i, j) = -T(i, j);
            }
        }
        T(m2, n1) = 0.0;
        if (kr == 1) {
            bool unique = true;
            for (int j = 1; j <= n; ++j) {
                const float d = static_cast<float>(std::abs(T(m1, j)));
                if (d <= tol || 2.0 - d <= tol) {
                    unique = false;
                    break;
                }
            }
            if (unique) T(m2, n1) = 1.0;
        }
    }

    // Solution and residuals from the basic rows, through d (single-precision accuracy). Labels
    // are exact integers, so truncation towards zero only converts them.
    for (int i = 1; i <= m; ++i) {
        int label = static_cast<int>(T(i, n2));
        float d = static_cast<float>(T(i, n1));
        if (label <= 0) {
            label = -label;
            d = -d;
        }
        if (i < kl) {
            x(label) = d;
        } else {
            r(label - n) = d;
        }
    }

    T(m2, n2) = pivots;
    T(m1, n2) = n1 - kr;
    double sum = 0.0;
    for (int i = kl; i <= m; ++i) sum += T(i, n1);
    T(m1, n1) = sum;
}

}  // namespace netrevia::numeric
