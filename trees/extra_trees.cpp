#include "trees/extra_trees.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <utility>

namespace netrevia::trees {

Random::Random(std::uint64_t seed, std::uint64_t stream) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(stream),
                           static_cast<std::uint32_t>(stream >> 32)};
    engine_.seed(sequence);
}

double Random::uniform() { return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1.0p-53; }

std::uint64_t Random::below(std::uint64_t k) {
    const std::uint64_t limit =
        std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % k;
    std::uint64_t x = engine_();
    while (x >= limit) x = engine_();
    return x % k;
}

namespace {

// The split of one node: the attribute (0 for none) and its cut, the decrease of the sum of
// squares and the number of cases that go left.
struct Split {
    int attribute = 0;
    double cut = 0.0;
    double decrease = -1.0;
    int left = 0;
};

// Split_a_node on the cases c[0..m): draws up to K non-constant attributes and a cut for each;
// returns the best split, or attribute 0 when the node is a leaf. values and outputs receive the
// node's values of one attribute and its outputs, contiguous, so that the passes over them need
// no index and no branch.
Split split_node(const Sample& sample,
                 const Settings& settings,
                 Random& random,
                 Work& work,
                 const int* c,
                 int m) {
    Split best;
    // Stop_split: too few cases, or a constant output.
    if (m < settings.min_split || m < 2) return best;
    double* y = work.outputs.data();
    double* v = work.values.data();
    double sum = 0.0;
    bool constant = true;
    for (int k = 0; k < m; ++k) {
        y[k] = sample.y[static_cast<std::size_t>(c[k] - 1)];
        sum += y[k];
        constant = constant && y[k] == y[0];
    }
    if (constant) return best;

    std::vector<int>& attributes = work.attributes;
    const int count = static_cast<int>(attributes.size());
    const int K = settings.K > 0 ? settings.K : count;
    // A partial Fisher-Yates shuffle of the candidates, position by position: each position takes
    // a uniform pick among those left; a constant attribute is passed over, so the K tried are a
    // uniform draw among the non-constant ones. When K covers every candidate all are tried and
    // their order could only settle a tie: they are taken as given, without draws.
    const bool shuffle = K < count;
    int drawn = 0;
    for (int position = 0; position < count && drawn < K; ++position) {
        if (shuffle) {
            const auto pick = static_cast<std::size_t>(position) +
                              static_cast<std::size_t>(
                                  random.below(static_cast<std::uint64_t>(count - position)));
            std::swap(attributes[static_cast<std::size_t>(position)], attributes[pick]);
        }
        const int a = attributes[static_cast<std::size_t>(position)];
        const double* x = sample.X.column(a);
        // Smallest and largest value in four interleaved chains (the order cannot change a
        // minimum), so that no chain waits on the one before.
        std::array<double, 4> low{};
        std::array<double, 4> high{};
        low.fill(x[c[0] - 1]);
        high.fill(x[c[0] - 1]);
        int k = 0;
        for (; k + 4 <= m; k += 4) {
            for (int l = 0; l < 4; ++l) {
                const double value = x[c[k + l] - 1];
                v[k + l] = value;
                low[static_cast<std::size_t>(l)] = value < low[static_cast<std::size_t>(l)]
                                                       ? value
                                                       : low[static_cast<std::size_t>(l)];
                high[static_cast<std::size_t>(l)] = value > high[static_cast<std::size_t>(l)]
                                                        ? value
                                                        : high[static_cast<std::size_t>(l)];
            }
        }
        for (; k < m; ++k) {
            v[k] = x[c[k] - 1];
            low[0] = v[k] < low[0] ? v[k] : low[0];
            high[0] = v[k] > high[0] ? v[k] : high[0];
        }
        const double lowest = std::min(std::min(low[0], low[1]), std::min(low[2], low[3]));
        const double highest = std::max(std::max(high[0], high[1]), std::max(high[2], high[3]));
        if (!(lowest < highest)) continue;  // constant on the node (or not a number)
        ++drawn;
        // Pick_a_random_split: a_c uniform in [a_min, a_max].
        const double cut = lowest + random.uniform() * (highest - lowest);
        // The left count and sum in four interleaved partial sums, added in a fixed order at
        // the end: the same on every machine, and free of the data-dependent branch.
        std::array<double, 4> lefts{};
        std::array<double, 4> sums{};
        for (k = 0; k + 4 <= m; k += 4) {
            for (int l = 0; l < 4; ++l) {
                const double goes_left = v[k + l] < cut ? 1.0 : 0.0;
                lefts[static_cast<std::size_t>(l)] += goes_left;
                sums[static_cast<std::size_t>(l)] += goes_left * y[k + l];
            }
        }
        for (; k < m; ++k) {
            const double goes_left = v[k] < cut ? 1.0 : 0.0;
            lefts[0] += goes_left;
            sums[0] += goes_left * y[k];
        }
        const int left = static_cast<int>((lefts[0] + lefts[1]) + (lefts[2] + lefts[3]));
        // A cut rounded onto a_min sends every case right: no split.
        if (left == 0 || left == m) continue;
        // (m_l m_r / m)(mean_l - mean_r)^2 = (m_r s_l - m_l s_r)^2 / (m_l m_r m): one division.
        const double left_sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        const double m_l = left;
        const double m_r = m - left;
        const double spread = m_r * left_sum - m_l * (sum - left_sum);
        const double decrease = spread * spread / (m_l * m_r * m);
        if (decrease > best.decrease) best = {a, cut, decrease, left};
    }
    return best;
}

}  // namespace

void add_importances(const Sample& sample,
                     const Settings& settings,
                     Random& random,
                     Work& work,
                     std::span<double> importance) {
    const int N = sample.N;
    std::vector<double> sums(importance.size(), 0.0);
    for (int tree = 0; tree < settings.trees; ++tree) {
        // Every tree starts from the cases in order and the candidates as given, so that a tree
        // depends only on the draws.
        work.cases.resize(static_cast<std::size_t>(N));
        work.values.resize(static_cast<std::size_t>(N));
        work.outputs.resize(static_cast<std::size_t>(N));
        for (int r = 0; r < N; ++r) work.cases[static_cast<std::size_t>(r)] = r + 1;
        work.attributes.assign(sample.candidates.begin(), sample.candidates.end());
        work.stack.assign({0, N});
        while (!work.stack.empty()) {
            const int end = work.stack.back();
            work.stack.pop_back();
            const int first = work.stack.back();
            work.stack.pop_back();
            int* c = work.cases.data() + first;
            const Split split = split_node(sample, settings, random, work, c, end - first);
            if (split.attribute == 0) continue;
            sums[static_cast<std::size_t>(split.attribute - 1)] += split.decrease;
            // The cases below the cut first, by exchanges from both ends: fixed by the data.
            const double* x = sample.X.column(split.attribute);
            int i = 0;
            int j = end - first - 1;
            while (i <= j) {
                if (x[c[i] - 1] < split.cut) {
                    ++i;
                } else {
                    std::swap(c[i], c[j]);
                    --j;
                }
            }
            // Right child below the left one on the stack: the left child is split first.
            work.stack.insert(work.stack.end(),
                              {first + split.left, end, first, first + split.left});
        }
    }
    for (std::size_t a = 0; a < importance.size(); ++a) {
        importance[a] += sums[a] / static_cast<double>(settings.trees);
    }
}

}  // namespace netrevia::trees
