#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "ensemble/ensemble.h"
#include "trees/extra_trees.h"

namespace netrevia::trees {

// The tree engine: for each target gene i, extremely randomized trees (trees/extra_trees.h)
// regress
//
//     y_i = dx_i/dt + alpha_i x_i = f_i(x)
//
// on the levels x of every gene (of the candidate regulators when a list is given), and the
// score of j -> i is the importance of regulator j for target i:
//
//  1. Levels on the linear scale, as the courses hold them. Rates by forward differences within
//     each course, never across two: the rate of interval (t(j), t(j+1)) is
//     (x(j+1) - x(j)) / (t(j+1) - t(j)), paired with the levels x(j) at its start.
//  2. alpha_i, the decay rate of gene i, from the input or estimated (estimate_decay).
//  3. Per target, `trees` trees grown on the pooled intervals of all courses, each target with
//     its own random stream (seed, i); regulator i itself is a candidate (a gene may regulate
//     itself) but its importance is not a score: R(i, i) = 0.
//  4. Normalised per target: the importances of j != i divided by the target's sum of squares
//     about its mean (the most its trees can remove), so a score is the share of the target's
//     variation the splits on j explain, and targets the trees explain poorly score low. The
//     scores of one target add up to at most 1.
//  5. The sign of R(i, j) is the ensemble engine's (ensemble/ensemble.h), the sign of its
//     pooled least-squares J(i, j) summed over the gene subsets holding the pair; + where that
//     is 0 (a pair no subset held).
// Trees are invariant to any increasing transformation of a regressor, so the levels are not
// scaled; the scores rank edges and do not estimate rates.

inline constexpr int kDefaultTrees = 500;

struct Input {
    int n = 0;
    std::span<const ensemble::Course> courses;
    std::uint64_t seed = 0;
    int threads = 0;  // 0: one per hardware thread; the result is the same for every count
    // alpha_i for every gene (>= 0), or empty: estimated by estimate_decay.
    std::span<const double> decay;
    // regulators[j - 1] != 0: gene j may regulate; empty: every gene. Every gene stays a target.
    std::span<const unsigned char> regulators;
    Settings settings{kDefaultTrees, 0, kDefaultMinSplit};
    // Set by another thread to stop the run: read before each target's trees. nullptr: the run
    // cannot be stopped.
    const std::atomic<bool>* cancel = nullptr;
};

struct Result {
    std::vector<double> R;           // n x n column-major, signed scores in [-1, 1]
    std::vector<double> ensemble_R;  // the ensemble engine's result on the same courses
    std::vector<double> decay;       // alpha_i as used
    int trees = 0;                   // per target
    int subset_size = 0;             // of the ensemble run
    long long runs = 0;
    bool cancelled = false;  // cancel was seen: R is incomplete and no result
};

// The pooled intervals of all courses: level X(r, g) at the start of interval r and rate
// D(r, g) over it, N x n column-major each.
struct Design {
    int N = 0;
    std::vector<double> X;
    std::vector<double> D;
};
Design make_design(int n, std::span<const ensemble::Course> courses);

// The default decay rates: alpha_i = max(0, max over the intervals r of -D(r, i) / X(r, i)),
// the steepest relative fall of gene i. It is the smallest alpha_i that leaves every y_i(r) =
// D(r, i) + alpha_i X(r, i) at 0 or above: production, what the regulators control, is never
// negative, and the interval of steepest fall is taken as one of decay alone. (For pure decay
// x' = -a x over a step h the forward difference gives -D/X = (1 - e^(-a h)) / h, which is the
// a that makes y = 0 for the same rates: the rule matches the rates it is used with.)
std::vector<double> estimate_decay(const Design& design, int n);

// Bytes the engine's arrays take for n genes, N intervals and `threads` workers, the ensemble
// run for the signs included (with a list of `regulators` candidates, its cross products),
// besides the courses themselves.
std::uint64_t memory_need(int n, long long N, int threads, int regulators = 0);

// The whole engine. Requires ensemble::subset_size(n, N) != 0 for n >= 2 and every course with
// n columns; checks nothing. Throws only std::bad_alloc. The result is bit for bit the same for
// every thread count.
Result infer(const Input& input);

// The consensus of two n x n results (diagonals ignored): the geometric mean of the two scores,
// sqrt(|first(i, j)| |second(i, j)|), with the sign of `signs` (+ where it is 0), and 0 on the
// diagonal and where either score is 0 or NaN. A pair scores high only when both engines give
// it weight, and the trees' importance shares, which set a target's few strong regulators far
// above the rest, keep that separation (ranks would make it equal steps). With regulators (one
// entry per gene, as Input::regulators) the columns of the other genes are 0.
std::vector<double> consensus(std::span<const double> first,
                              std::span<const double> second,
                              std::span<const double> signs,
                              int n,
                              std::span<const unsigned char> regulators = {});

}  // namespace netrevia::trees
