#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace netrevia::ensemble {

// The ensemble estimator: pooled least-squares fits on random gene subsets, ranked and averaged.
//
//  0. A gene whose levels at the starts of the intervals spread by at most 1/1000 of their
//     mean does not change usably: no fit can tell it from the intercept. It is left out of
//     everything below, as if the courses did not hold it, and its row and column of R are 0.
//  1. Levels on the linear scale; every gene divided by its standard deviation over all time
//     points of all courses.
//  2. Rates by forward differences within each course, never across two: the rate of interval
//     (t(j), t(j+1)) is (y(j+1) - y(j)) / (t(j+1) - t(j)), paired with the levels y(j).
//  3. `runs` fits, each on a subset of m genes drawn up front (draw_subsets): for every target i
//     of the subset, least squares of its rates on the levels of the subset's genes plus an
//     intercept, over the intervals of all courses together. The (m+1) x (m+1) Gram matrix of a
//     run is factorised once and serves all m targets.
//  4. Within a run the m(m-1) off-diagonal |J(i,j)| are ranked (ties share their mean rank) and
//     the ranks scaled to [0, 1].
//  5. score(i,j) = mean scaled rank over the runs that hold both genes; R(i,j) = score with the
//     sign of J(i,j) summed over those runs (minus only when the sum is negative); R(i,i) = 0,
//     and a pair that no run holds keeps 0.
// The scores rank edges; they do not estimate rates. The model is dy/dt = J y + u with a
// constant input u per gene (the intercept).
//
// With a list of candidate regulators (Input::regulators) only the listed genes are regressors
// and only edges from them are scored; every gene stays a target. Steps 3 to 5 become:
//  3. `runs` fits, each on a subset of m of the r regulators that change, drawn up front as above
//     (from 1..r): every gene i is a target of every run, regressed on the subset's levels, its
//     own level when it is not in the subset (its decay, which no regulator should take), and an
//     intercept. The (m+1) x (m+1) Gram matrix of a run serves the targets in the subset, and
//     bordered by a target's own level the others; every entry of either, and of every
//     right-hand side, is a cross product over the pooled intervals computed once for all runs.
//  4. Within a run the m(n' - 1) slopes of the pairs of distinct genes (n' genes that change)
//     are ranked together as above; a run of a single pair gives it 0.5, as a tie of all pairs.
//  5. As above, over the runs holding the pair; R(i, j) = 0 for every gene j not listed.
// A run scores m(n' - 1) pairs rather than m(m - 1), so each of the r(n' - 1) pairs is held by
// kListRunsPerPair runs from a few runs: ceil(kListRunsPerPair r / m), one when m = r.

inline constexpr int kMaxSubsetSize = 10;    // m never exceeds this
inline constexpr int kRunsPerPair = 10;      // runs that share an ordered pair, on average
inline constexpr int kListRunsPerPair = 30;  // the same with a list of regulators: every pair

// One time course, T >= 2 points: times t (strictly increasing) and levels, T x n column-major
// with column stride T (row = time point, column = gene), on the linear scale.
struct Course {
    int T = 0;
    std::span<const double> t;
    std::span<const double> levels;
};

struct Input {
    int n = 0;
    std::span<const Course> courses;
    std::uint64_t seed = 0;
    int threads = 0;  // 0: one per hardware thread; the result is the same for every count
    // regulators[g - 1] != 0: gene g is a candidate regulator; empty: every gene.
    std::span<const unsigned char> regulators;
};

struct Result {
    std::vector<double> R;  // n x n column-major
    int m = 0;              // genes per subset (regulators with a list)
    long long runs = 0;
    int regulators = 0;           // with a list: the listed genes that change, r
    std::vector<int> flat_genes;  // genes (1-based, ascending) left out: no usable change
};

// Genes per subset for n genes and `intervals` intervals over all courses: min(10, ceil(2n/3)),
// lowered to intervals - 2 so that every fit has more intervals than its m + 1 unknowns.
// Returns 0 when n >= 2 and even m = 2 does not fit; n for n < 2 (nothing to fit).
int subset_size(int n, long long intervals);

// ceil(kRunsPerPair n(n-1) / (m(m-1))) for 2 <= m <= n, else 0.
long long run_count(int n, int m);

// With a list: regulators per subset for r regulators that change, min(10, ceil(2r/3)) lowered
// to intervals - 3 so that every fit has more intervals than its m + 2 unknowns (the subset, a
// target's own level, the intercept); 0 when not even m = 1 fits.
int list_subset_size(int regulators, long long intervals);

// ceil(kListRunsPerPair r / m) for 1 <= m < r, 1 for m = r, else 0.
long long list_run_count(int regulators, int m);

// The subsets of all runs, m genes (1-based, ascending) per run, run after run. Each is a partial
// Fisher-Yates shuffle of 1..n driven by std::mt19937_64 seeded with seed (its output sequence
// is fixed by the C++ standard); a draw below k takes the raw 64-bit output modulo k after
// rejecting the outputs at or above the largest multiple of k, so the subsets are the same on
// every platform.
std::vector<int> draw_subsets(int n, int m, long long runs, std::uint64_t seed);

// The whole estimator. Requires subset_size(n, intervals) != 0 for n >= 2, every course with
// n columns, and regulators empty or of n entries; checks nothing. m and runs are those of the
// genes that change. Throws only std::bad_alloc. The result is bit for bit the same for every
// thread count: runs are fitted in parallel into their own slots and summed in run order.
Result infer(const Input& input);

}  // namespace netrevia::ensemble
