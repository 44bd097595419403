#include "numeric/lad_solve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "numeric/lad_solve_reference.h"

namespace netrevia::numeric {
namespace {

using Solver =
    void (*)(int, int, int, int, MatrixRef, VectorRef, float, VectorRef, VectorRef, IntVectorRef);

// One L1 fit: the system a (m x n, stride m) and b, the tableau and outputs of lad_solve.
struct LadFit {
    int m;
    int n;
    std::vector<double> a;
    std::vector<double> b;
    std::vector<double> tableau;
    std::vector<double> x;
    std::vector<double> r;
    std::vector<double> b_scratch;
    std::vector<int> ws;

    LadFit(std::vector<double> coefficients, std::vector<double> rhs, int rows, int columns)
        : m(rows),
          n(columns),
          a(std::move(coefficients)),
          b(std::move(rhs)),
          tableau(static_cast<std::size_t>((rows + 2) * (columns + 2)), 0.0),
          x(static_cast<std::size_t>(columns), 0.0),
          r(static_cast<std::size_t>(rows), 0.0),
          b_scratch(b),
          ws(static_cast<std::size_t>(rows), 0) {
        for (int j = 1; j <= n; ++j) {
            for (int i = 1; i <= m; ++i) T(i, j) = A(i, j);
        }
    }
    void run(Solver solver = &lad_solve) {
        solver(m, n, m + 2, n + 2, MatrixRef{tableau.data(), m + 2}, VectorRef{b_scratch.data()},
               0.0f, VectorRef{x.data()}, VectorRef{r.data()}, IntVectorRef{ws.data()});
    }
    double A(int i, int j) const { return a[static_cast<std::size_t>((i - 1) + (j - 1) * m)]; }
    double& T(int i, int j) {
        return tableau[static_cast<std::size_t>((i - 1) + (j - 1) * (m + 2))];
    }
    double minimum_sum() { return T(m + 1, n + 1); }
    double rank() { return T(m + 1, n + 2); }
    double exit_code() { return T(m + 2, n + 1); }
    double pivots() { return T(m + 2, n + 2); }
    // sum_i |b(i) - sum_j a(i,j) x(j)|, recomputed in double from the returned x.
    double objective_of_x() const {
        double sum = 0.0;
        for (int i = 1; i <= m; ++i) {
            double residual = b[static_cast<std::size_t>(i - 1)];
            for (int j = 1; j <= n; ++j) residual -= A(i, j) * x[static_cast<std::size_t>(j - 1)];
            sum += std::abs(residual);
        }
        return sum;
    }
};

std::vector<double> random_values(std::size_t count, std::mt19937_64& engine) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(count);
    for (double& value : values) value = uniform(engine);
    return values;
}

// Solves the square system s z = c (k x k, stride k) by Gaussian elimination with partial
// pivoting; false when it is numerically singular.
bool solve_square(std::vector<double> s, std::vector<double> c, int k, std::vector<double>& z) {
    auto at = [&](int i, int j) -> double& { return s[static_cast<std::size_t>(i + j * k)]; };
    for (int col = 0; col < k; ++col) {
        int best = col;
        for (int i = col + 1; i < k; ++i) {
            if (std::abs(at(i, col)) > std::abs(at(best, col))) best = i;
        }
        if (std::abs(at(best, col)) < 1e-12) return false;
        for (int j = 0; j < k; ++j) std::swap(at(col, j), at(best, j));
        std::swap(c[static_cast<std::size_t>(col)], c[static_cast<std::size_t>(best)]);
        for (int i = col + 1; i < k; ++i) {
            const double factor = at(i, col) / at(col, col);
            for (int j = col; j < k; ++j) at(i, j) -= factor * at(col, j);
            c[static_cast<std::size_t>(i)] -= factor * c[static_cast<std::size_t>(col)];
        }
    }
    z.assign(static_cast<std::size_t>(k), 0.0);
    for (int i = k - 1; i >= 0; --i) {
        double value = c[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < k; ++j) value -= at(i, j) * z[static_cast<std::size_t>(j)];
        z[static_cast<std::size_t>(i)] = value / at(i, i);
    }
    return true;
}

// The L1 optimum of a full-column-rank system is attained where the fit interpolates n of the
// equations, so the minimum over all n-subsets of equations is the true minimum.
double brute_force_l1_minimum(const std::vector<double>& a,
                              const std::vector<double>& b,
                              int m,
                              int n) {
    double best = std::numeric_limits<double>::infinity();
    std::vector<bool> chosen(static_cast<std::size_t>(m), false);
    std::fill(chosen.begin(), chosen.begin() + n, true);
    do {
        std::vector<double> s, c;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < m; ++i) {
                if (chosen[static_cast<std::size_t>(i)])
                    s.push_back(a[static_cast<std::size_t>(i + j * m)]);
            }
        }
        for (int i = 0; i < m; ++i) {
            if (chosen[static_cast<std::size_t>(i)]) c.push_back(b[static_cast<std::size_t>(i)]);
        }
        std::vector<double> z;
        if (!solve_square(s, c, n, z)) continue;
        double sum = 0.0;
        for (int i = 0; i < m; ++i) {
            double residual = b[static_cast<std::size_t>(i)];
            for (int j = 0; j < n; ++j) {
                residual -= a[static_cast<std::size_t>(i + j * m)] * z[static_cast<std::size_t>(j)];
            }
            sum += std::abs(residual);
        }
        best = std::min(best, sum);
    } while (std::prev_permutation(chosen.begin(), chosen.end()));
    return best;
}

// The tableau carries single-precision pivots and multipliers and rounds every value it moves
// to float, so x and the sums are good to a few float ulps times the growth of a handful of
// eliminations on these well-scaled O(1) systems: 2e-5 of the data's own size (1 + sum |b|).
double single_precision_tolerance(const std::vector<double>& b) {
    double sum = 1.0;
    for (double value : b) sum += std::abs(value);
    return 2e-5 * sum;
}

TEST(LadSolve, MinimumSumMatchesBruteForceOnRandomSystems) {
    std::mt19937_64 engine(20240611);
    for (int m = 3; m <= 8; ++m) {
        for (int n = 1; n <= std::min(4, m - 1); ++n) {
            for (int repeat = 0; repeat < 5; ++repeat) {
                const auto size = static_cast<std::size_t>(m);
                LadFit fit(random_values(size * static_cast<std::size_t>(n), engine),
                           random_values(size, engine), m, n);
                fit.run();
                const double expected = brute_force_l1_minimum(fit.a, fit.b, m, n);
                const double tolerance = single_precision_tolerance(fit.b);
                SCOPED_TRACE(testing::Message() << "m=" << m << " n=" << n << " #" << repeat);
                EXPECT_NEAR(fit.minimum_sum(), expected, tolerance);
                EXPECT_NEAR(fit.objective_of_x(), expected, tolerance);
                EXPECT_EQ(fit.rank(), n);
                EXPECT_TRUE(fit.exit_code() == 0.0 || fit.exit_code() == 1.0);
                EXPECT_GE(fit.pivots(), n);  // stage 1 pivots every unknown in
                double residual_sum = 0.0;
                for (double value : fit.r) residual_sum += std::abs(value);
                EXPECT_NEAR(residual_sum, fit.minimum_sum(), tolerance);
            }
        }
    }
}

TEST(LadSolve, ResidualsAreRightHandSideMinusFit) {
    // Fit of a constant to 1, 2, 10: the median 2, with residuals b - x.
    LadFit fit({1.0, 1.0, 1.0}, {1.0, 2.0, 10.0}, 3, 1);
    fit.run();
    EXPECT_EQ(fit.x[0], 2.0);
    EXPECT_EQ(fit.r, (std::vector<double>{-1.0, 0.0, 8.0}));
    EXPECT_EQ(fit.minimum_sum(), 9.0);
    EXPECT_EQ(fit.exit_code(), 1.0);  // the median of three distinct values is unique
    EXPECT_EQ(fit.rank(), 1.0);
}

TEST(LadSolve, ResidualSignHoldsOnRandomSystem) {
    std::mt19937_64 engine(7);
    LadFit fit(random_values(24, engine), random_values(8, engine), 8, 3);
    fit.run();
    const double tolerance = single_precision_tolerance(fit.b);
    int zero_residuals = 0;
    for (int i = 1; i <= 8; ++i) {
        double fitted = 0.0;
        for (int j = 1; j <= 3; ++j) fitted += fit.A(i, j) * fit.x[static_cast<std::size_t>(j - 1)];
        const double r = fit.r[static_cast<std::size_t>(i - 1)];
        EXPECT_NEAR(r, fit.b[static_cast<std::size_t>(i - 1)] - fitted, tolerance) << i;
        if (r == 0.0) ++zero_residuals;
    }
    EXPECT_GE(zero_residuals, 3);  // the fit passes through n equations exactly
}

TEST(LadSolve, SquareFullRankSystemIsSolvedExactly) {
    std::mt19937_64 engine(99);
    for (int n = 1; n <= 5; ++n) {
        const auto size = static_cast<std::size_t>(n);
        LadFit fit(random_values(size * size, engine), random_values(size, engine), n, n);
        fit.run();
        std::vector<double> expected;
        ASSERT_TRUE(solve_square(fit.a, fit.b, n, expected));
        EXPECT_EQ(fit.minimum_sum(), 0.0);
        EXPECT_EQ(fit.rank(), n);
        EXPECT_EQ(fit.pivots(), n);
        for (double value : fit.r) EXPECT_EQ(value, 0.0);
        double norm = 1.0;
        for (double value : expected) norm += std::abs(value);
        for (std::size_t j = 0; j < size; ++j) EXPECT_NEAR(fit.x[j], expected[j], 2e-5 * norm);
    }
}

TEST(LadSolve, ZeroRightHandSideGivesZeroSolution) {
    std::mt19937_64 engine(5);
    LadFit fit(random_values(18, engine), std::vector<double>(6, 0.0), 6, 3);
    fit.run();
    EXPECT_EQ(fit.minimum_sum(), 0.0);
    EXPECT_EQ(fit.rank(), 3.0);
    for (double value : fit.x) EXPECT_EQ(value, 0.0);
    for (double value : fit.r) EXPECT_EQ(value, 0.0);

    LadFit no_equations({}, {}, 0, 2);  // still a valid call: x is set to zero
    no_equations.x = {5.0, 5.0};
    no_equations.run();
    EXPECT_EQ(no_equations.x, (std::vector<double>{0.0, 0.0}));
}

// No unknown, or a tableau extent that does not match m and n, is refused before anything is
// touched (and asserted on in debug builds).
TEST(LadSolve, InconsistentExtentLeavesArraysUntouched) {
    for (const auto& [n, rows, cols] :
         {std::tuple{2, 5, 4}, std::tuple{2, 4, 5}, std::tuple{0, 4, 2}}) {
        std::vector<double> tableau(20, 7.0), b(2, 7.0), x(2, 7.0), r(2, 7.0);
        std::vector<int> ws(2, 7);
        EXPECT_DEBUG_DEATH(
            lad_solve(2, n, rows, cols, MatrixRef{tableau.data(), 4}, VectorRef{b.data()}, 0.0f,
                      VectorRef{x.data()}, VectorRef{r.data()}, IntVectorRef{ws.data()}),
            "");
        EXPECT_EQ(tableau, std::vector<double>(20, 7.0));
        EXPECT_EQ(x, std::vector<double>(2, 7.0));
    }
}

TEST(LadSolve, DuplicateColumnIsSetAsideWithZeroCoefficient) {
    std::mt19937_64 engine(3);
    std::vector<double> a = random_values(12, engine);  // 6 x 2
    std::vector<double> b = random_values(6, engine);
    std::vector<double> with_duplicate(a.begin(), a.begin() + 6);
    with_duplicate.insert(with_duplicate.end(), a.begin(), a.end());  // columns 1, 1, 2
    LadFit fit(with_duplicate, b, 6, 3);
    fit.run();
    EXPECT_EQ(fit.rank(), 2.0);
    EXPECT_EQ(fit.exit_code(), 0.0);  // a set-aside column rules out the uniqueness claim
    EXPECT_TRUE(fit.x[0] == 0.0 || fit.x[1] == 0.0);
    const double expected = brute_force_l1_minimum(a, b, 6, 2);
    EXPECT_NEAR(fit.minimum_sum(), expected, single_precision_tolerance(b));
    EXPECT_NEAR(fit.objective_of_x(), expected, single_precision_tolerance(b));
}

TEST(LadSolve, FivePointLineFitReachesMinimumSumTwo) {
    // y = c + s t through (1,1), (2,2), (3,1), (4,2), (5,3): the lines through points 1 and 5
    // and through points 3 and 5 both leave a sum of 2, so x is not unique.
    LadFit fit({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 2.0, 3.0, 4.0, 5.0}, {1.0, 2.0, 1.0, 2.0, 3.0}, 5, 2);
    fit.run();
    EXPECT_NEAR(fit.minimum_sum(), 2.0, 1e-6);
    EXPECT_NEAR(fit.objective_of_x(), 2.0, 1e-6);
    EXPECT_EQ(fit.exit_code(), 0.0);
    EXPECT_EQ(fit.rank(), 2.0);
}

// The fit is deterministic to the bit, single-precision roundings included: exact sums, ranks,
// exit codes, pivot counts, x and r for fixed systems, as hexadecimal floats. Both the blocked
// routine and the one-pivot reference it is checked against must give them.
struct LadGolden {
    const char* name;
    int m;
    int n;
    std::vector<double> a;
    std::vector<double> b;
    double sum;
    int rank;
    int exit_code;
    int pivots;
    std::vector<double> x;
    std::vector<double> r;
};

TEST(LadSolve, FixedSystemsGiveGoldenResultsBitForBit) {
    // Entries ((7i + 13j + 5s) 37 mod 23 - 11) / 8 of a 7 x 3 system for s = 2 and 3, b from j = 9.
    const auto system = [](int s, int m, int n) {
        std::vector<double> values;
        for (int j = 1; j <= n; ++j) {
            for (int i = 1; i <= m; ++i) {
                values.push_back(static_cast<double>((i * 7 + j * 13 + s * 5) * 37 % 23 - 11) /
                                 8.0);
            }
        }
        return values;
    };
    const std::vector<double> residuals = {
        -0x1.eaaaaap-3, 0x1.32aaaap+0, -0x1.eaaaa8p-3, 0.0, 0.0, 0x1.7p+0, 0.0};
    constexpr double e = 0x1p-30;
    // clang-format off
    const std::vector<LadGolden> cases = {
        {"s2", 7, 3, system(2, 7, 3), system(2, 7, 9), 0x1.8eaaaa8p+1, 3, 1, 3,
         {-0x1.aaaaacp-2, -0x1.555556p+0, 0x1.aaaaaap-1}, residuals},
        {"s3", 7, 3, system(3, 7, 3), system(3, 7, 9), 0x1.8eaaaa9651bfep+1, 3, 1, 3,
         {-0x1.955556p-1, 0x1.800002p-2, -0x1.000002p-1}, residuals},
        // Column sums 3 and 3 + 2^-30 tie in single precision, so the first column enters first;
        // in double the second would, and the fit would end at another of the optimal points.
        {"float tie", 4, 2, {1, 1, 1, 0, 1, 1, 1 + e, -e}, {1, 2, 3, 1}, 3.0, 2, 0, 2,
         {-0x1p+30, 0x1p+30}, {-1.0, 0.0, 0.0, 2.0}},
        // Stage 2 compares costs rounded to single precision: 2 + 2^-27 and 2 tie.
        {"stage 2 cost", 3, 2, {0x1p-28, 2, 2, 2, 0x1p-28, 2 + 0x1p-27}, {4, 0, 3}, 0x1.ffffffdp-1,
         2, 0, 2, {0.0, 1.5}, {1.0, 0.0, 0.0}},
        // A pivot row moved up in stage 1 is rounded to single precision on the way.
        {"rounded row", 3, 2, {1, 2, 0, -1, 3, 0}, {0, -4, 2}, 2.0, 2, 1, 2,
         {-0x1.99999ap-1, -0x1.99999ap-1}, {0.0, 0.0, 2.0}},
        // The cost row is updated with the entering cost rounded to single precision.
        {"rounded cost", 3, 2, {-3, 1, 3, -2, -1, 2}, {1, -3, -2}, 1.0, 2, 0, 2,
         {-0x1.99999ap+0, 0x1.666666p+0}, {-1.0, 0.0, 0.0}},
        // A final cost of exactly 0, and one of exactly 2, each mean another optimum: exit 0.
        {"cost 0", 3, 1, {-2, 0, 2}, {1, 1, 2}, 4.0, 1, 0, 1, {1.0}, {3.0, 1.0, 0.0}},
        {"cost 2", 3, 1, {1, -1, 2}, {-2, 0, -4}, 2.0, 1, 0, 1, {-2.0}, {0.0, -2.0, 0.0}},
    };
    // clang-format on
    for (const auto& [solver, routine] :
         {std::pair{&lad_solve, "blocked"}, std::pair{&lad_solve_reference, "reference"}}) {
        for (const LadGolden& c : cases) {
            SCOPED_TRACE(testing::Message() << routine << ": " << c.name);
            std::vector<double> b9(c.b.end() - c.m, c.b.end());
            LadFit fit(c.a, b9, c.m, c.n);
            fit.run(solver);
            EXPECT_EQ(fit.minimum_sum(), c.sum);
            EXPECT_EQ(fit.rank(), c.rank);
            EXPECT_EQ(fit.exit_code(), c.exit_code);
            EXPECT_EQ(fit.pivots(), c.pivots);
            EXPECT_EQ(fit.x, c.x);
            EXPECT_EQ(fit.r, c.r);
        }
    }
}

TEST(LadSolve, ConcurrentCallsMatchSequentialResults) {
    constexpr int kThreads = 4;
    std::mt19937_64 engine(42);
    std::vector<std::vector<LadFit>> work(kThreads);
    for (auto& fits : work) {
        for (int problem = 0; problem < 50; ++problem) {
            fits.emplace_back(random_values(40 * 31, engine), random_values(40, engine), 40, 31);
        }
    }
    std::vector<std::vector<LadFit>> sequential = work;
    for (auto& fits : sequential) {
        for (LadFit& fit : fits) fit.run();
    }
    std::vector<std::thread> threads;
    for (auto& fits : work) {
        threads.emplace_back([&fits] {
            for (LadFit& fit : fits) fit.run();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t t = 0; t < work.size(); ++t) {
        for (std::size_t p = 0; p < work[t].size(); ++p) {
            EXPECT_EQ(work[t][p].x, sequential[t][p].x);
            EXPECT_EQ(work[t][p].tableau, sequential[t][p].tableau);
        }
    }
}

}  // namespace
}  // namespace netrevia::numeric
