#include "numeric/lad_solve.h"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

// No dependence between the iterations of the loop that follows (GCC's vectoriser may skip its
// aliasing checks).
#if defined(__GNUC__) && !defined(__clang__)
#define NETREVIA_IVDEP _Pragma("GCC ivdep")
#else
#define NETREVIA_IVDEP
#endif

// On x86-64 the routines so marked are also compiled for AVX2 and for AVX-512, chosen at run time:
// wider vectors, the same IEEE operations one by one. No fused multiply-add anywhere (the build
// uses -ffp-contract=off and no clone targets FMA), so every clone gives the baseline's bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define NETREVIA_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define NETREVIA_CLONES
#endif

namespace netrevia::numeric {

namespace {

// BIG of the method: 1.0e38 as a single-precision constant, widened (9.99999968e37).
constexpr double kBig = static_cast<double>(1.0e38f);

// Pivots whose elimination may wait for one pass over the tableau. Four keeps the multipliers
// of a column's rows (4 m doubles) and the running entry in the first-level cache and registers.
constexpr int kBlock = 4;

// Rows brought up to date since the last pass (see lad_solve) beyond which a pass is made early.
constexpr int kMaxCurrentRows = 4 * kBlock;

// Storage whose first element starts a cache line. The vector loops over the multipliers and the
// row shadows run fastest when their loads do not straddle two lines; with the heap's 16-byte
// alignment the same run was up to a quarter slower or faster depending only on where earlier
// allocations (file names) had left the heap.
constexpr std::size_t kLine = 64;
template <class T>
struct LineAligned {
    using value_type = T;
    LineAligned() = default;
    template <class U>
    LineAligned(const LineAligned<U>&) noexcept {}
    T* allocate(std::size_t count) {
        return static_cast<T*>(::operator new (count * sizeof(T), std::align_val_t{kLine}));
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete (p, std::align_val_t{kLine}); }
    friend bool operator==(const LineAligned&, const LineAligned&) { return true; }
};
using AlignedDoubles = std::vector<double, LineAligned<double>>;

// Rows of a multiplier vector rounded up to whole cache lines, so that every pivot's multipliers
// start a line too.
constexpr int line_padded(int rows) {
    constexpr int per_line = static_cast<int>(kLine / sizeof(double));
    return (rows + per_line - 1) / per_line * per_line;
}

// The state of one block of pending pivots (see the invariant at lad_solve).
//   - Pivot p's multipliers d_p(i) (rows 1..m, each a float widened) and its divided pivot row
//     r_p(j) (columns 1..n + 1; only the deferred columns are read).
//   - The current rows' entries in the deferred columns, row by row in a contiguous shadow, so
//     that the row operations of the method run along memory; a current row's entries in the
//     current columns stay in the tableau. Shadow slot s holds columns 1..n2 of row shadow_row[s].
struct Block {
    int m;
    int n2;
    int m_stride;  // m rounded up to whole cache lines
    int pending = 0;
    AlignedDoubles multipliers;        // multipliers[p m_stride + i - 1] = d_p(i)
    AlignedDoubles pivot_rows;         // pivot_rows[p n2 + j - 1] = r_p(j)
    AlignedDoubles shadow;             // shadow[s n2 + j - 1], s = slot
    std::vector<int> shadow_row;       // row of each slot
    std::vector<int> slot_of_row;      // rows 1..m: slot, or -1 for a deferred row
    std::vector<char> column_current;  // columns 1..n (n + 1 and n + 2 are always current)
    std::vector<int> current_columns;  // entered or exchanged columns of this block

    Block(int rows, int columns)
        : m(rows),
          n2(columns),
          m_stride(line_padded(rows)),
          multipliers(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(m_stride)),
          pivot_rows(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(columns)),
          slot_of_row(static_cast<std::size_t>(rows) + 1, -1),
          column_current(static_cast<std::size_t>(columns) + 1, 0) {}
    VectorRef multiplier(int p) { return {multipliers.data() + std::ptrdiff_t{p} * m_stride}; }
    VectorRef pivot_row(int p) { return {pivot_rows.data() + std::ptrdiff_t{p} * n2}; }
    VectorRef shadow_of_slot(int s) { return {shadow.data() + std::ptrdiff_t{s} * n2}; }
    int slot(int i) const { return slot_of_row[static_cast<std::size_t>(i)]; }
    bool row_is_current(int i) const { return slot(i) >= 0; }
    bool column_is_current(int j) const { return column_current[static_cast<std::size_t>(j)] != 0; }
    int current_row_count() const { return static_cast<int>(shadow_row.size()); }
};

// Rows 1..m of column t, count pivots: t(i) = t(i) - d_p(i) r_p, p = 0..count-1 in order, every
// step rounded on its own. Count is a constant here so that the running entry stays in a register.
template <int count>
[[gnu::always_inline]] inline void eliminate_column(double* t,
                                                    int m,
                                                    const double* const* d,
                                                    const double* r) {
    NETREVIA_IVDEP
    for (int i = 0; i < m; ++i) {
        double value = t[i];
        for (int p = 0; p < count; ++p) value = value - d[p][i] * r[p];
        t[i] = value;
    }
}

// The deferred pass over the listed columns of T: every deferred row receives the pending
// pivots' eliminations, and every current row takes its value from the shadow. The current rows
// are computed with the rest, so that the column loop runs whole and vectorises, and then
// overwritten.
NETREVIA_CLONES
void apply_pending(MatrixRef T, const std::vector<int>& columns, Block& block) {
    const int m = block.m;
    const double* d[kBlock] = {};
    for (int p = 0; p < block.pending; ++p) d[p] = block.multiplier(p).data;
    for (const int j : columns) {
        double* t = T.column(j);
        double r[kBlock] = {};
        for (int p = 0; p < block.pending; ++p) r[p] = block.pivot_row(p)(j);
        switch (block.pending) {
            case 0:
                break;
            case 1:
                eliminate_column<1>(t, m, d, r);
                break;
            case 2:
                eliminate_column<2>(t, m, d, r);
                break;
            case 3:
                eliminate_column<3>(t, m, d, r);
                break;
            default:
                eliminate_column<kBlock>(t, m, d, r);
                break;
        }
        for (int s = 0; s < block.current_row_count(); ++s) {
            T(block.shadow_row[static_cast<std::size_t>(s)], j) = block.shadow_of_slot(s)(j);
        }
    }
}

}  // namespace

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
// Blocked elimination. The routine makes the same decisions and the same floating-point
// operations as lad_solve_reference, which updates the whole tableau after every pivot; here the
// bulk of each pivot's elimination, T(i,j) -= d_i T(out,j), waits until kBlock pivots are pending
// and is then applied in one pass, each entry receiving its pending steps in pivot order, so every
// entry holds the same bits as in the reference once the pass is made. (The same idea as a
// delayed-update, left-looking LU: the decisions read only what is brought up to date.)
//
// Invariant, after every step: an entry T(i,j) is current (holds the reference's value) unless
// column j is deferred and row i is deferred; a deferred entry lacks exactly the eliminations of
// the pending pivots, T(i,j) = T(i,j) - d_p(i) r_p(j) for p = 1..count in order. Current are:
//   - rows m + 1 (costs) and m + 2 (labels), columns n + 1 (basic values) and n + 2 (labels),
//     which every pivot updates at once;
//   - a column once it enters, and both columns of a stage-1 set-aside exchange;
//   - a row once it is the pivot row, is reflected, or takes part in the stage-1 row move.
// Bringing a column or a row up to date applies its missing pending steps; from then on every
// pivot updates it at once. Deferred rows are never moved or reflected, so a pending pivot's
// multipliers stay attached to the same row numbers. Where the current values live: a current
// row's entries in the deferred columns in its shadow (Block), the cost and label rows in their
// contiguous copies, everything else in T. The pass brings every deferred column up to date,
// writes the shadows back and ends the block: then all of T is current again.
NETREVIA_CLONES
void lad_solve(int m,
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

    // The cost and label rows are read and written across all columns at every step: they are
    // kept in contiguous copies meanwhile and written back when the method ends.
    AlignedDoubles cost_and_labels(2 * static_cast<std::size_t>(n2));
    const VectorRef cost_row{cost_and_labels.data()};
    const VectorRef label_row{cost_and_labels.data() + n2};
    for (int j = 1; j <= n1; ++j) cost_row(j) = T(m1, j);
    for (int j = 1; j <= n; ++j) label_row(j) = T(m2, j);

    // Block state (see the invariant above).
    Block block(m, n2);
    std::vector<int> deferred_columns;
    AlignedDoubles ratios(static_cast<std::size_t>(m) + 1);
    std::vector<int> candidate_rows(static_cast<std::size_t>(m) + 1);
    int kr = 1;  // first column not set aside as linearly dependent

    auto shadow_of_row = [&](int i) { return block.shadow_of_slot(block.slot(i)); };
    // A row operation runs along the shadow of a current row: its entries in the current
    // columns (n + 1, n + 2 and those of the block) are copied in before and back after.
    auto shadow_takes_current_columns = [&](int i) {
        const VectorRef row = shadow_of_row(i);
        row(n1) = T(i, n1);
        row(n2) = T(i, n2);
        for (const int j : block.current_columns) {
            if (j >= kr) row(j) = T(i, j);
        }
    };
    auto tableau_takes_current_columns = [&](int i) {
        const VectorRef row = shadow_of_row(i);
        T(i, n1) = row(n1);
        T(i, n2) = row(n2);
        for (const int j : block.current_columns) {
            if (j >= kr) T(i, j) = row(j);
        }
    };
    auto bring_column_up_to_date = [&](int j) {
        if (block.column_is_current(j)) return;
        deferred_columns.assign(1, j);
        apply_pending(T, deferred_columns, block);
        block.column_current[static_cast<std::size_t>(j)] = 1;
        block.current_columns.push_back(j);
    };
    // Copies row i into a new shadow slot (one pass across the column stride) and applies its
    // pending eliminations there, along memory. Entries of current columns are copied and
    // updated too but never read: the tableau holds those.
    auto bring_row_up_to_date = [&](int i) {
        if (block.row_is_current(i)) return;
        const int s = block.current_row_count();
        block.shadow.resize(static_cast<std::size_t>(s + 1) * static_cast<std::size_t>(n2));
        block.shadow_row.push_back(i);
        block.slot_of_row[static_cast<std::size_t>(i)] = s;
        const VectorRef row = block.shadow_of_slot(s);
        for (int j = kr; j <= n; ++j) row(j) = T(i, j);
        for (int p = 0; p < block.pending; ++p) {
            const double d = block.multiplier(p)(i);
            const VectorRef pivot_row = block.pivot_row(p);
            NETREVIA_IVDEP
            for (int j = kr; j <= n; ++j) row(j) = row(j) - d * pivot_row(j);
        }
    };
    // The deferred pass; afterwards every entry is current and no pivot is pending.
    auto complete_block = [&]() {
        deferred_columns.clear();
        for (int j = kr; j <= n; ++j) {
            if (!block.column_is_current(j)) deferred_columns.push_back(j);
        }
        apply_pending(T, deferred_columns, block);
        block.pending = 0;
        for (const int i : block.shadow_row) block.slot_of_row[static_cast<std::size_t>(i)] = -1;
        block.shadow_row.clear();
        for (const int j : block.current_columns) {
            block.column_current[static_cast<std::size_t>(j)] = 0;
        }
        block.current_columns.clear();
    };

    bool stage2 = false;
    bool ended_early = false;
    int pivots = 0;
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
                if (std::abs(label_row(j)) > n) continue;
                if (in == 0) in = j;
                const float d = static_cast<float>(std::abs(cost_row(j)));
                if (d > best) {
                    best = d;
                    in = j;
                }
            }
            // Each stage-1 event consumes one unknown column and stage 2 begins when none is
            // left, so an unknown column always remains here.
            assert(in != 0);
            bring_column_up_to_date(in);
            if (cost_row(in) < 0.0) {
                for (int i = 1; i <= m; ++i) T(i, in) = -T(i, in);
                cost_row(in) = -cost_row(in);
                label_row(in) = -label_row(in);
            }
        } else {
            // Stage 2 entering column: a column's value is its cost d when d >= 0, -d - 2 when
            // d <= -2 (entering with the opposite sign); costs in (-2, 0) cannot improve the sum.
            double best = -kBig;
            for (int j = kr; j <= n; ++j) {
                const float d = static_cast<float>(cost_row(j));
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
            bring_column_up_to_date(in);
            if (!(cost_row(in) > 0.0)) {
                for (int i = 1; i <= m; ++i) T(i, in) = -T(i, in);
                cost_row(in) = -cost_row(in);
                label_row(in) = -label_row(in);
                cost_row(in) = cost_row(in) - 2.0;
            }
        }

        // Leaving row. Candidate list: rows with an entry above tol in the entering column,
        // their ratios held in b and their row numbers in ws.
        // The ratios of all rows are formed first, in one pass that vectorises.
        int k = 0;
        bool candidate = false;
        {
            const double* basic = T.column(n1);
            const double* entering = T.column(in);
            NETREVIA_IVDEP
            for (int i = kl; i <= m; ++i) {
                const float d = static_cast<float>(entering[i - 1]);
                ratios[static_cast<std::size_t>(i)] = basic[i - 1] / d;
            }
        }
        // The candidates are gathered without a branch into the front of the ratio and
        // candidate arrays (every row is written, the count advances only for a candidate),
        // then copied to b and ws.
        for (int i = kl; i <= m; ++i) {
            const float d = static_cast<float>(T(i, in));
            ratios[static_cast<std::size_t>(k)] = ratios[static_cast<std::size_t>(i)];
            candidate_rows[static_cast<std::size_t>(k)] = i;
            k += d > tol ? 1 : 0;
        }
        for (int q = 1; q <= k; ++q) {
            b(q) = ratios[static_cast<std::size_t>(q - 1)];
            ws(q) = candidate_rows[static_cast<std::size_t>(q - 1)];
        }
        candidate = k > 0;
        for (;;) {
            if (k == 0) {
                candidate = false;
                break;
            }
            // Ratio test, ties keep the first entry in list order. The chosen entry is replaced
            // by the last one, so the list order changes with every removal. When no ratio lies
            // below BIG the method names no row; the first listed one then leaves, which keeps
            // `out` a candidate row of this call.
            // The first minimum is found in two passes: the smallest ratio below BIG (four
            // running minima, merged; NaN never compares below), then its first occurrence.
            double lowest[4] = {kBig, kBig, kBig, kBig};
            int q = 1;
            for (; q + 3 <= k; q += 4) {
                for (int lane = 0; lane < 4; ++lane) {
                    const double ratio = b(q + lane);
                    lowest[lane] = ratio < lowest[lane] ? ratio : lowest[lane];
                }
            }
            for (; q <= k; ++q) lowest[0] = b(q) < lowest[0] ? b(q) : lowest[0];
            for (int lane = 1; lane < 4; ++lane) {
                lowest[0] = lowest[lane] < lowest[0] ? lowest[lane] : lowest[0];
            }
            int chosen = 1;
            if (lowest[0] < kBig) {
                while (!(b(chosen) == lowest[0])) ++chosen;
            }
            out = ws(chosen);
            b(chosen) = b(k);
            ws(chosen) = ws(k);
            --k;

            // Reflection test: while the cost stays above tol after passing this vertex, reflect
            // row out (pass on to the next candidate) instead of pivoting.
            pivot = static_cast<float>(T(out, in));
            if (cost_row(in) - pivot - pivot <= tol) break;
            bring_row_up_to_date(out);
            shadow_takes_current_columns(out);
            const VectorRef row = shadow_of_row(out);
            NETREVIA_IVDEP
            for (int j = kr; j <= n1; ++j) {
                const float d = static_cast<float>(row(j));
                cost_row(j) = cost_row(j) - d - d;
                row(j) = -d;
            }
            row(n2) = -row(n2);
            tableau_takes_current_columns(out);
        }

        if (!candidate) {
            if (stage2) {  // no row can leave: rounding errors have stalled the method
                T(m2, n1) = 2.0;
                ended_early = true;
                break;
            }
            // Stage 1: the entering column depends linearly on the basis. Set it aside at kr;
            // the exchange goes through d, so the values moved into column in are rounded.
            bring_column_up_to_date(kr);
            auto exchange = [&](double& set_aside, double& entering) {
                const float d = static_cast<float>(set_aside);
                set_aside = entering;
                entering = d;
            };
            for (int i = 1; i <= m; ++i) exchange(T(i, kr), T(i, in));
            exchange(cost_row(kr), cost_row(in));
            exchange(label_row(kr), label_row(in));
            ++kr;
        } else {
            // Pivot on T(out, in): the multipliers d and the pivot are single precision, the
            // updates they feed are double. Row out is brought up to date and divided; the
            // pivot's multipliers and pivot row are kept for the deferred entries.
            bring_row_up_to_date(out);
            const int p = block.pending;
            const VectorRef d = block.multiplier(p);
            const VectorRef pivot_row = block.pivot_row(p);
            shadow_takes_current_columns(out);
            {
                const VectorRef row = shadow_of_row(out);
                NETREVIA_IVDEP
                for (int j = kr; j < in; ++j) row(j) = row(j) / pivot;
                NETREVIA_IVDEP
                for (int j = in + 1; j <= n1; ++j) row(j) = row(j) / pivot;
                for (int j = kr; j <= n1; ++j) pivot_row(j) = row(j);
            }
            tableau_takes_current_columns(out);
            // b holds the multipliers too, as in the reference (its ratios are dead until the
            // next ratio test), so that even the scratch ends the same.
            for (int i = 1; i <= m; ++i) {
                b(i) = static_cast<float>(T(i, in));
                d(i) = b(i);
            }
            const float d_cost = static_cast<float>(cost_row(in));
            // T(i,j) -= d_i T(out,j) for i != out, j != in, now on the current entries: the cost
            // row, the current columns (whole) and the current rows' shadows; the rest waits.
            NETREVIA_IVDEP
            for (int j = kr; j < in; ++j) cost_row(j) = cost_row(j) - d_cost * pivot_row(j);
            NETREVIA_IVDEP
            for (int j = in + 1; j <= n1; ++j) cost_row(j) = cost_row(j) - d_cost * pivot_row(j);
            auto eliminate_current_column = [&](int j) {
                if (j == in || j < kr) return;
                NETREVIA_IVDEP
                for (int i = 1; i < out; ++i) T(i, j) = T(i, j) - d(i) * pivot_row(j);
                NETREVIA_IVDEP
                for (int i = out + 1; i <= m; ++i) T(i, j) = T(i, j) - d(i) * pivot_row(j);
            };
            eliminate_current_column(n1);
            for (const int j : block.current_columns) eliminate_current_column(j);
            for (int s = 0; s < block.current_row_count(); ++s) {
                const int i = block.shadow_row[static_cast<std::size_t>(s)];
                if (i == out) continue;
                const VectorRef row = block.shadow_of_slot(s);
                NETREVIA_IVDEP
                for (int j = kr; j <= n; ++j) row(j) = row(j) - d(i) * pivot_row(j);
            }
            ++block.pending;
            NETREVIA_IVDEP
            for (int i = 1; i < out; ++i) T(i, in) = -T(i, in) / pivot;
            NETREVIA_IVDEP
            for (int i = out + 1; i <= m; ++i) T(i, in) = -T(i, in) / pivot;
            cost_row(in) = -cost_row(in) / pivot;
            T(out, in) = 1.0 / static_cast<double>(pivot);
            std::swap(T(out, n2), label_row(in));
            ++pivots;
            if (!stage2) {
                // Stage 1: move the new unknown row up to position `pivots` (= kl - 1 after the
                // increment), through d, so the values moved out of row out are rounded.
                ++kl;
                bring_row_up_to_date(pivots);
                shadow_takes_current_columns(out);
                shadow_takes_current_columns(pivots);
                const VectorRef from = shadow_of_row(out);
                const VectorRef to = shadow_of_row(pivots);
                for (int j = kr; j <= n2; ++j) {
                    const float d_moved = static_cast<float>(from(j));
                    from(j) = to(j);
                    to(j) = d_moved;
                }
                tableau_takes_current_columns(out);
                tableau_takes_current_columns(pivots);
            }
        }
        if (block.pending == kBlock || block.current_row_count() >= kMaxCurrentRows) {
            complete_block();
        }
        if (!stage2 && pivots + kr == n1) stage2 = true;
    }
    complete_block();
    for (int j = 1; j <= n1; ++j) T(m1, j) = cost_row(j);
    for (int j = 1; j <= n; ++j) T(m2, j) = label_row(j);

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
