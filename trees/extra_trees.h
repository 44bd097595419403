#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "numeric/matrix_ref.h"

namespace netrevia::trees {

// Extremely randomized trees for regression, grown only for the importance of their attributes
// (P. Geurts, D. Ernst, L. Wehenkel, "Extremely randomized trees", Machine Learning 63 (2006)
// 3-42, the procedures Build_an_extra_tree, Split_a_node and Pick_a_random_split):
//
//  - A node of fewer than min_split cases, or whose outputs are all equal, or whose candidate
//    attributes are all constant on its cases, is a leaf.
//  - Otherwise K attributes are drawn at random, without replacement, among the candidates that
//    are not constant on the node's cases (all of them when fewer than K are); for each, a cut
//    a_c is drawn uniformly between its smallest and largest value on the node, and the split
//    [a < a_c] whose children leave the smallest sum of squared deviations from their means is
//    kept (the paper's relative variance reduction, scaled by the node's own variance, picks the
//    same split). The first drawn attribute wins a tie; with K covering every candidate, the
//    first in the order given.
//  - The whole learning sample grows every tree: no bootstrap.
//
// The importance of an attribute is the decrease of the sum of squares, m var(S) - m_l var(S_l)
// - m_r var(S_r) = (m_l m_r / m) (mean_l - mean_r)^2, summed over the nodes split on it, as the
// impurity importance of tree ensembles is defined (L. Breiman, "Random forests", Machine
// Learning 45 (2001) 5-32), and averaged over the trees. The trees themselves are not kept.

inline constexpr int kDefaultMinSplit = 5;  // the paper's n_min for regression

// The random draws of the trees: std::mt19937_64 (its output sequence is fixed by the C++
// standard) seeded through std::seed_seq (whose mixing is fixed too) with the run's seed and a
// stream number, so that each target of a run has its own sequence, the same on every platform.
class Random {
public:
    Random(std::uint64_t seed, std::uint64_t stream);
    // Uniform in the open interval (0, 1): the top 53 bits of one output, plus half a step.
    double uniform();
    // Uniform whole number below k >= 1: the raw output modulo k, after rejecting the outputs at
    // or above the largest multiple of k.
    std::uint64_t below(std::uint64_t k);

private:
    std::mt19937_64 engine_;
};

struct Settings {
    int trees = 1;
    int K = 0;  // attributes drawn at each split; 0: every candidate (the paper's default)
    int min_split = kDefaultMinSplit;
};

// The learning sample: N cases of p attributes, X(r, a) 1-based with column stride >= N, and
// the outputs y(1..N). candidates: the attributes a split may use, 1-based, each once.
struct Sample {
    int N = 0;
    numeric::ConstMatrixRef X{nullptr, 1};
    std::span<const double> y;
    std::span<const int> candidates;
};

// Working storage of one thread, reused from call to call.
struct Work {
    std::vector<int> cases;
    std::vector<int> attributes;
    std::vector<int> stack;       // (first, end) of the nodes still to split
    std::vector<double> values;   // of one attribute on the node's cases
    std::vector<double> outputs;  // of the node's cases
};

// Grows settings.trees trees on the sample, drawing from random in a fixed order (tree by tree,
// depth first, left child first), and adds the mean importance of each attribute a to
// importance[a - 1]; importance holds at least as many entries as the largest candidate.
// Checks nothing.
void add_importances(const Sample& sample,
                     const Settings& settings,
                     Random& random,
                     Work& work,
                     std::span<double> importance);

}  // namespace netrevia::trees
