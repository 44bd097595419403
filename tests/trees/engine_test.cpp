#include "trees/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace netrevia::trees {
namespace {

// Courses kept with their storage: times and T x n levels per course.
struct Courses {
    std::vector<std::vector<double>> t;
    std::vector<std::vector<double>> levels;
    std::vector<ensemble::Course> views;

    std::span<const ensemble::Course> spans() {
        views.clear();
        for (std::size_t c = 0; c < t.size(); ++c)
            views.push_back({static_cast<int>(t[c].size()), t[c], levels[c]});
        return views;
    }
};

// Five genes over four courses of 21 points, Euler steps of 0.1 from random starts: genes 1, 3,
// 4 and 5 wander at random; gene 2 is made by a saturating, switch-like activation by gene 1
// and decays, x2' = 4 x1^4 / (1 + x1^4) - x2, which no linear fit follows.
Courses switch_courses(std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    auto uniform = [&engine] { return static_cast<double>(engine() >> 11) * 0x1.0p-53; };
    const int n = 5;
    const int T = 21;
    Courses c;
    for (int k = 0; k < 4; ++k) {
        std::vector<double> t(T);
        std::vector<double> Y(static_cast<std::size_t>(T * n));
        std::vector<double> x(n);
        for (double& v : x) v = 0.2 + 1.6 * uniform();
        for (int j = 0; j < T; ++j) {
            t[static_cast<std::size_t>(j)] = 0.1 * j;
            for (int g = 0; g < n; ++g) Y[static_cast<std::size_t>(j + g * T)] = x[g];
            const double p = std::pow(x[0], 4.0);
            const double rate2 = 4.0 * p / (1.0 + p) - x[1];
            for (int g = 0; g < n; ++g) {
                if (g != 1) x[g] = std::max(0.05, x[g] + 0.1 * (uniform() - 0.5) * 4.0);
            }
            x[1] += 0.1 * rate2;
        }
        c.t.push_back(t);
        c.levels.push_back(Y);
    }
    return c;
}

double cell(const std::vector<double>& R, int n, int i, int j) {
    return R[static_cast<std::size_t>((i - 1) + (j - 1) * n)];
}

// Forward differences within each course, never across two, paired with the levels at the
// interval's start; the decay estimate is the steepest relative fall, 0 for a gene that never
// falls. Course 1: t = 0, 1, 3 and gene 1 at 1, 2, 4; course 2: t = 0, 2 and gene 1 at 8, 4.
TEST(TreeEngine, DesignPairsRatesWithTheLevelsAtTheStartWithinEachCourse) {
    Courses c;
    c.t = {{0, 1, 3}, {0, 2}};
    c.levels = {{1, 2, 4, 1, 1.5, 2}, {8, 4, 2, 3}};  // gene 2: 1, 1.5, 2 and 2, 3
    const Design d = make_design(2, c.spans());
    ASSERT_EQ(d.N, 3);
    EXPECT_EQ(d.X, (std::vector<double>{1, 2, 8, 1, 1.5, 2}));
    EXPECT_EQ(d.D, (std::vector<double>{1, 1, -2, 0.5, 0.25, 0.5}));
    // Gene 1 falls by 2 per time unit from 8: alpha = 0.25. Gene 2 only rises.
    EXPECT_EQ(estimate_decay(d, 2), (std::vector<double>{0.25, 0.0}));
}

// The switch-like regulation 1 -> 2 is the strongest score of row 2 by far; the scores are
// shares of each target's variation (at most 1 per row, 0 on the diagonal) and carry the
// ensemble engine's signs.
TEST(TreeEngine, FindsASaturatingActivationAndSharesEachTargetsVariation) {
    Courses c = switch_courses(3);
    Input input;
    input.n = 5;
    input.courses = c.spans();
    input.threads = 1;
    input.settings.trees = 200;
    const Result result = infer(input);
    ASSERT_EQ(result.R.size(), 25u);
    double second = 0.0;
    for (int j = 3; j <= 5; ++j) second = std::max(second, std::abs(cell(result.R, 5, 2, j)));
    EXPECT_GT(std::abs(cell(result.R, 5, 2, 1)), 0.5);
    EXPECT_LT(second, 0.1);
    for (int i = 1; i <= 5; ++i) {
        double row = 0.0;
        for (int j = 1; j <= 5; ++j) {
            const double r = cell(result.R, 5, i, j);
            row += std::abs(r);
            if (i == j) {
                EXPECT_EQ(r, 0.0);
            } else if (r != 0.0) {
                EXPECT_EQ(r < 0.0, cell(result.ensemble_R, 5, i, j) < 0.0) << i << ", " << j;
            }
        }
        EXPECT_LE(row, 1.0 + 1e-12) << i;
        EXPECT_GT(row, 0.0) << i;
    }
    // The trees explain most of gene 2's variation, and every regulator, the last included,
    // gets a share somewhere.
    double explained = 0.0;
    for (int j = 1; j <= 5; ++j) explained += std::abs(cell(result.R, 5, 2, j));
    EXPECT_GT(explained, 0.8);
    for (int j = 1; j <= 5; ++j) {
        double column = 0.0;
        for (int i = 1; i <= 5; ++i) column += std::abs(cell(result.R, 5, i, j));
        EXPECT_GT(column, 0.0) << j;
    }
    EXPECT_EQ(result.trees, 200);
    EXPECT_EQ(result.decay.size(), 5u);
}

// The same bytes for every thread count and a repeated seed; another seed moves the scores.
// A given decay is used as it is; a regulator list leaves the other columns at 0.
TEST(TreeEngine, SeedThreadsDecayAndRegulators) {
    Courses c = switch_courses(4);
    Input input;
    input.n = 5;
    input.courses = c.spans();
    input.settings.trees = 50;
    input.seed = 9;
    input.threads = 1;
    const Result one = infer(input);
    for (int threads : {2, 3, 8}) {
        input.threads = threads;
        EXPECT_EQ(infer(input).R, one.R) << threads;
    }
    input.seed = 10;
    EXPECT_NE(infer(input).R, one.R);

    const std::vector<double> decay(5, 0.5);
    input.decay = decay;
    const Result given = infer(input);
    EXPECT_EQ(given.decay, decay);
    EXPECT_NE(given.R, one.R);

    // A stop seen before the targets leaves them unfitted and says so.
    const std::atomic<bool> stop{true};
    input.cancel = &stop;
    const Result stopped = infer(input);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.R, std::vector<double>(25, 0.0));
    input.cancel = nullptr;
    EXPECT_FALSE(given.cancelled);

    const std::vector<unsigned char> regulators{1, 0, 0, 1, 0};
    input.regulators = regulators;
    const Result listed = infer(input);
    for (int i = 1; i <= 5; ++i) {
        for (int j : {2, 3, 5}) EXPECT_EQ(cell(listed.R, 5, i, j), 0.0) << i << ", " << j;
    }
    EXPECT_GT(std::abs(cell(listed.R, 5, 2, 1)), 0.5);
}

// Three genes by hand, on binary fractions so that every square root is exact. The
// off-diagonal cells in storage order (2,1) (3,1) (1,2) (3,2) (1,3) (2,3): |first| x |second|
// = 0.25, 1, 0.25, 0, 0.0625, NaN; their square roots 0.5, 1, 0.5, 0, 0.25, 0 (NaN scores 0),
// with the signs of the third matrix (+ where it is 0, and never -0). Diagonal entries take no
// part.
TEST(TreeConsensus, GeometricMeanOfTheScoresWithTheSigns) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> first{7, 0.25, -0.5, 1, 7, 0.0, 0.125, nan, 7};
    const std::vector<double> second{-1, -1, 2, 0.25, 9, 4, 0.5, 3, 3};
    const std::vector<double> signs{1, -1, 0, 1, 1, -2, -1, -1, 1};
    const std::vector<double> R = consensus(first, second, signs, 3);
    const std::vector<double> expected{0, -0.5, 1, 0.5, 0, 0, -0.25, 0, 0};
    EXPECT_EQ(R, expected);
    for (std::size_t e = 0; e < R.size(); ++e) EXPECT_FALSE(std::signbit(R[e]) && R[e] == 0) << e;
    EXPECT_EQ(consensus(second, first, signs, 3), expected);

    // With genes 1 and 3 as the candidates, gene 2's column stays 0.
    const std::vector<unsigned char> regulators{1, 0, 1};
    EXPECT_EQ(consensus(first, second, signs, 3, regulators),
              (std::vector<double>{0, -0.5, 1, 0, 0, 0, -0.25, 0, 0}));
}

}  // namespace
}  // namespace netrevia::trees
