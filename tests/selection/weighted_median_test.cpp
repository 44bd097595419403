#include "selection/weighted_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
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

// Bit-exact comparison: tells -0.0 from +0.0, and names both values in hexadecimal.
testing::AssertionResult same_bits(double actual, double expected) {
    if (std::bit_cast<std::uint64_t>(actual) == std::bit_cast<std::uint64_t>(expected)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << std::hexfloat << actual << " where " << expected << " was expected";
}

// Worked cases, x and f pinned to the bit: f is the value of the piece that proposed x as that
// piece computes it, so where several pieces propose the same point the rounding shows which one
// won. Among equally good points the leftmost wins; among equal candidates (+0 and -0) the one
// the walk meets first.
TEST(WeightedMedian, WorkedCasesGivePinnedPointAndValue) {
    struct Case {
        const char* what;
        std::vector<double> c;
        std::vector<double> v;
        double x;
        double f;
    };
    const Case cases[] = {
        {"single candidate", {0.7}, {-3.25}, -3.25, 0.0},
        {"coinciding values", {0.5, 0.5}, {0.0, 0.0}, 0.0, 0.0},
        {"equal values: f as the inner piece rounds it",
         {0.7, 0.375},
         {-5.1, -5.1},
         -5.1,
         -0x1p-52},
        {"flat minimum [1, 3]", {0.5, 0.5}, {1.0, 3.0}, 1.0, 1.0},
        {"flat minimum [-1, 0]", {0.5, 0.3, 0.2}, {-1.0, 0.0, 2.0}, -1.0, 0x1.ccccccccccccdp-1},
        // The flat piece's own value is below the left piece's by rounding: it must still
        // propose its left end.
        {"flat minimum, ends rounded apart", {1.5, 1.5}, {0.1, 3.5}, 0.1, 0x1.4666666666666p+2},
        // The last inner piece's value at v(2) is below the right piece's by rounding.
        {"minimum at the last value", {1.15, 1.25}, {2.9, 8.3}, 8.3, 0x1.8d70a3d70a3d7p+2},
        {"zero-weight candidate ignored",
         {0.0, 0.6, 0.4},
         {0.0, 1.0, 2.0},
         1.0,
         0x1.9999999999998p-2},
        {"five candidates, lower median",
         {0.25, 0.4, 0.25, 0.25, 0.25},
         {-1.0, 0.0, 2.0, 3.0, 5.0},
         2.0,
         0x1.4666666666666p+1},
        {"heavy zero candidate", {2.0, 0.5, 0.5}, {0.0, 1.0, 3.0}, 0.0, 2.0},
        {"+0 before -0", {0.5, 0.2, 0.5}, {0.0, -0.0, 5.0}, 0.0, 2.5},
        {"-0 before +0", {0.5, 0.2, 0.5}, {-0.0, 0.0, 5.0}, -0.0, 2.5},
        {"-0 before +0 on the right", {0.5, 0.2, 0.5}, {-5.0, -0.0, 0.0}, -0.0, 2.5},
        {"+0 before -0 on the right", {0.5, 0.2, 0.5}, {-5.0, 0.0, -0.0}, 0.0, 2.5},
        // Two candidates only: the weighted mean +0 stands, as no piece is strictly better.
        {"-0 and +0 alone", {0.5, 0.2}, {-0.0, 0.0}, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Median m = median_of(c.c, c.v);
        EXPECT_TRUE(same_bits(m.x, c.x));
        EXPECT_TRUE(same_bits(m.f, c.f));
    }
}

TEST(WeightedMedian, AllWeightsZeroGiveNotANumber) {
    const Median m = median_of({0.0, 0.0}, {1.0, 2.0});
    EXPECT_TRUE(std::isnan(m.x));
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
