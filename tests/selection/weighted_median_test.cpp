#include "selection/weighted_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using netrevia::selection::weighted_median;

struct Median {
    double x;
    double f;
};

Median median_of(const std::vector<double>& c, const std::vector<double>& v) {
    Median m{0.0, 0.0};
    weighted_median(static_cast<int>(v.size()), m.x, m.f, {c.data()}, {v.data()});
    return m;
}

TEST(WeightedMedian, CoincidingValuesGiveThatValueWithZeroCost) {
    const Median m = median_of({0.5, 0.5}, {0.0, 0.0});
    EXPECT_EQ(m.x, 0.0);
    EXPECT_EQ(m.f, 0.0);
}

TEST(WeightedMedian, FlatMinimumReturnsItsLeftEnd) {
    // f is 1 on all of [1, 3].
    Median m = median_of({0.5, 0.5}, {1.0, 3.0});
    EXPECT_EQ(m.x, 1.0);
    EXPECT_EQ(m.f, 1.0);
    // f is 0.9 on [-1, 0].
    m = median_of({0.5, 0.3, 0.2}, {-1.0, 0.0, 2.0});
    EXPECT_EQ(m.x, -1.0);
    EXPECT_DOUBLE_EQ(m.f, 0.9);
}

TEST(WeightedMedian, ZeroWeightCandidateIsIgnored) {
    const Median m = median_of({0.0, 0.6, 0.4}, {0.0, 1.0, 2.0});
    EXPECT_EQ(m.x, 1.0);
    EXPECT_DOUBLE_EQ(m.f, 0.4);
}

TEST(WeightedMedian, FiveCandidatesTakeTheLowerMedian) {
    const Median m = median_of({0.25, 0.4, 0.25, 0.25, 0.25}, {-1.0, 0.0, 2.0, 3.0, 5.0});
    EXPECT_EQ(m.x, 2.0);
    EXPECT_DOUBLE_EQ(m.f, 2.55);
}

TEST(WeightedMedian, HeavyZeroCandidateGivesExactlyZero) {
    const Median m = median_of({2.0, 0.5, 0.5}, {0.0, 1.0, 3.0});
    EXPECT_EQ(m.x, 0.0);
    EXPECT_FALSE(std::signbit(m.x));
    EXPECT_EQ(m.f, 2.0);
}

TEST(WeightedMedian, AllWeightsZeroGiveNotANumber) {
    const Median m = median_of({0.0, 0.0}, {1.0, 2.0});
    EXPECT_TRUE(std::isnan(m.x));
    EXPECT_EQ(m.f, 0.0);
}

TEST(WeightedMedian, SingleCandidateIsItsOwnMedian) {
    const Median m = median_of({0.7}, {-3.25});
    EXPECT_EQ(m.x, -3.25);
    EXPECT_EQ(m.f, 0.0);
}

// Against a brute-force scan: with non-negative weights the result is the smallest minimiser
// of f, and f there is one of the sorted values' costs.
TEST(WeightedMedian, AgreesWithBruteForceOnNonNegativeWeights) {
    unsigned state = 12345u;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 16) % 1000u) / 100.0;
    };
    for (int trial = 0; trial < 200; ++trial) {
        const int N = 1 + trial % 5;
        std::vector<double> v(static_cast<std::size_t>(N));
        std::vector<double> c(static_cast<std::size_t>(N));
        for (int j = 0; j < N; ++j) {
            v[static_cast<std::size_t>(j)] = next() - 5.0;
            c[static_cast<std::size_t>(j)] = next() / 10.0 + (j == 0 ? 0.01 : 0.0);
        }
        std::sort(v.begin(), v.end());
        auto f = [&](double x) {
            double s = 0.0;
            for (std::size_t j = 0; j < v.size(); ++j) s += c[j] * std::abs(x - v[j]);
            return s;
        };
        double best = f(v[0]);
        double best_x = v[0];
        for (double x : v) {
            if (f(x) < best - 1e-12) {
                best = f(x);
                best_x = x;
            }
        }
        const Median m = median_of(c, v);
        EXPECT_NEAR(f(m.x), best, 1e-9) << "trial " << trial;
        EXPECT_LE(m.x, best_x + 1e-12) << "trial " << trial;
    }
}

}  // namespace
