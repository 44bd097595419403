#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "selection/select_network.h"
#include "support/support.h"

namespace {

using netrevia::selection::Engine;
using netrevia::selection::select_network;
using netrevia::selection::SelectionInput;
using netrevia::selection::SelectionResult;

using netrevia::test_support::at;
using netrevia::test_support::orthonormalise;

// K datasets of n genes as the per-dataset solution leaves them: random particular solutions
// and orthogonal bases B_k = [N | M], M spanning the row space of a random (T_k - 1) x n state
// matrix, N its orthogonal complement (z_k = n - T_k + 1 columns). duplicate > 0 makes gene
// `duplicate` a copy of gene 1 in every state matrix, so rows 1 and `duplicate` of M are equal.
struct Problem {
    int n;
    int K;
    std::vector<double> J0;
    std::vector<double> B;
    SelectionInput input;

    Problem(int genes, const std::vector<int>& time_points, unsigned seed, int duplicate = 0)
        : n(genes), K(static_cast<int>(time_points.size())) {
        std::mt19937_64 engine(seed);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        const std::size_t nn = static_cast<std::size_t>(n) * n;
        J0.resize(K * nn);
        B.resize(K * nn);
        for (double& x : J0) x = value(engine);
        input.n = n;
        input.K = K;
        input.particular_store = &J0;
        input.basis_store = &B;
        for (int k = 1; k <= K; ++k) {
            const int p = std::min(n, time_points[static_cast<std::size_t>(k - 1)] - 1);
            // W = [rows of the state matrix | random], orthonormalised: [M | N].
            std::vector<double> W(nn);
            for (double& x : W) x = value(engine);
            if (duplicate > 0) {
                for (int q = 1; q <= p; ++q) W[at(duplicate, q, n)] = W[at(1, q, n)];
            }
            orthonormalise(W, n);
            double* slice = B.data() + (k - 1) * nn;
            for (int t = 1; t <= n; ++t) {
                for (int l = 1; l <= n - p; ++l) slice[at(t, l, n)] = W[at(t, p + l, n)];
                for (int q = 1; q <= p; ++q) slice[at(t, n - p + q, n)] = W[at(t, q, n)];
            }
            input.zero_counts[static_cast<std::size_t>(k - 1)] = n - p;
            input.time_point_counts[static_cast<std::size_t>(k - 1)] =
                time_points[static_cast<std::size_t>(k - 1)];
            input.total_time_points += time_points[static_cast<std::size_t>(k - 1)];
        }
    }

    SelectionResult run(Engine engine, double lambda, int threads = 1) {
        input.engine = engine;
        input.lambda = lambda;
        input.threads = threads;
        return select_network(input);
    }

    // max over k, i, q of |M_k^T (J_k(i,:) - J0_k(i,:))^T|(q): zero while every row of J_k stays
    // in the family of dataset k.
    double family_departure(const std::vector<double>& solutions) const {
        const std::size_t nn = static_cast<std::size_t>(n) * n;
        double worst = 0.0;
        for (int k = 1; k <= K; ++k) {
            const int z = input.zero_counts[static_cast<std::size_t>(k - 1)];
            const double* Bk = B.data() + (k - 1) * nn;
            for (int i = 1; i <= n; ++i) {
                for (int l = z + 1; l <= n; ++l) {
                    double sum = 0.0;
                    for (int t = 1; t <= n; ++t) {
                        const std::size_t e = (k - 1) * nn + at(i, t, n);
                        sum += Bk[at(t, l, n)] * (solutions[e] - J0[e]);
                    }
                    worst = std::max(worst, std::abs(sum));
                }
            }
        }
        return worst;
    }
};

double max_abs(const std::vector<double>& v) {
    double m = 0.0;
    for (double x : v) m = std::max(m, std::abs(x));
    return m;
}

double max_difference(const std::vector<double>& a, const std::vector<double>& b) {
    double m = 0.0;
    for (std::size_t e = 0; e < a.size(); ++e) m = std::max(m, std::abs(a[e] - b[e]));
    return m;
}

// Generic random data: every fit has a unique minimiser, so both engines follow the same path
// and differ only by lad_solve's single-precision coefficients. Not generic: lambda = 0 with
// dataset weights that can be split into two equal halves (two or four datasets of equal
// length). The median step's minimiser is then a whole interval for many entries, F has flat
// directions, and rounding-size differences may lead the two engines to different, equally
// valid, end points; those cases are left out here.
TEST(FastEngine, WholeRunsAgreeWithTheExactEngine) {
    struct Case {
        int n;
        std::vector<int> time_points;
        double lambda;
        unsigned seed;
    };
    for (const Case& c :
         {Case{12, {4, 5}, 0.0, 1u}, Case{20, {6, 6, 8}, 0.05, 2u},
          Case{30, {10, 9, 10, 8}, 0.0, 3u}, Case{30, {10, 10, 10, 10}, 0.1, 4u},
          Case{25, {7}, 0.0, 5u}, Case{16, {2, 3}, 0.02, 6u}, Case{40, {10, 6, 10, 8}, 0.01, 7u},
          // One free direction: each fit is a weighted median along it.
          Case{8, {8, 8}, 0.01, 41u}}) {
        Problem problem(c.n, c.time_points, c.seed);
        const SelectionResult exact = problem.run(Engine::kExact, c.lambda);
        const SelectionResult fast = problem.run(Engine::kFast, c.lambda);
        SCOPED_TRACE(testing::Message() << "n " << c.n << " seed " << c.seed);
        EXPECT_EQ(fast.iterations, exact.iterations);
        EXPECT_LE(max_difference(fast.R, exact.R), 1e-5 * max_abs(exact.R));
        EXPECT_NEAR(fast.objective, exact.objective, 1e-6 * exact.objective);
        EXPECT_LE(problem.family_departure(fast.solutions), 1e-12);
    }
}

TEST(FastEngine, ResultsDoNotDependOnTheThreadCount) {
    Problem problem(24, {6, 8, 5}, 21u);
    const SelectionResult one = problem.run(Engine::kFast, 0.03, 1);
    const SelectionResult two = problem.run(Engine::kFast, 0.03, 2);
    const SelectionResult three = problem.run(Engine::kFast, 0.03, 3);
    EXPECT_EQ(one.iterations, two.iterations);
    EXPECT_EQ(one.R, two.R);
    EXPECT_EQ(one.solutions, two.solutions);
    EXPECT_EQ(one.R, three.R);
}

// z = 0 keeps the particular solution; z = n (no nonzero singular value) leaves no constraint,
// so with one dataset every row moves to the zero consensus.
TEST(FastEngine, DatasetsWithoutOrWithOnlyFreeDirections) {
    const int n = 6;
    Problem problem(n, {12, 5}, 31u);  // T - 1 >= n: z_1 = 0
    ASSERT_EQ(problem.input.zero_counts[0], 0);
    const SelectionResult fast = problem.run(Engine::kFast, 0.0);
    const std::size_t nn = static_cast<std::size_t>(n) * n;
    EXPECT_TRUE(std::equal(problem.J0.begin(), problem.J0.begin() + nn, fast.solutions.begin()));
    const SelectionResult exact = problem.run(Engine::kExact, 0.0);
    EXPECT_EQ(fast.iterations, exact.iterations);
    EXPECT_LE(max_difference(fast.R, exact.R), 1e-5 * max_abs(exact.R));

    Problem all_free(n, {1}, 32u);  // p = 0: N = B is square
    ASSERT_EQ(all_free.input.zero_counts[0], n);
    const SelectionResult free_fast = all_free.run(Engine::kFast, 0.0);
    EXPECT_EQ(free_fast.iterations, 1);
    for (double x : free_fast.R) EXPECT_EQ(x, 0.0);
    EXPECT_LE(max_abs(all_free.run(Engine::kExact, 0.0).R), 1e-6);
}

// A gene copied from another makes the fits' minimisers non-unique (the two genes can trade
// their residuals); the minimum sums stay unique. With one dataset each row of R then has the
// same sum of absolute entries under both engines, and every row stays in its family.
TEST(FastEngine, DuplicateGenesGiveEqualMinimumSums) {
    const int n = 15;
    Problem problem(n, {6}, 51u, 9);
    const SelectionResult exact = problem.run(Engine::kExact, 0.0);
    const SelectionResult fast = problem.run(Engine::kFast, 0.0);
    for (int i = 1; i <= n; ++i) {
        double exact_sum = 0.0;
        double fast_sum = 0.0;
        for (int j = 1; j <= n; ++j) {
            exact_sum += std::abs(exact.R[at(i, j, n)]);
            fast_sum += std::abs(fast.R[at(i, j, n)]);
        }
        EXPECT_NEAR(fast_sum, exact_sum, 1e-6 * exact_sum) << "row " << i;
    }
    EXPECT_LE(problem.family_departure(fast.solutions), 1e-12);
}

// Each step of the loop minimises the objective exactly over one block of variables, so F
// never rises, also when duplicate genes make the fits non-unique.
TEST(FastEngine, ObjectiveNeverRises) {
    Problem problem(20, {5, 7, 6}, 61u, 4);
    problem.input.engine = Engine::kFast;
    problem.input.lambda = 0.02;
    std::vector<double> objectives;
    const SelectionResult fast = select_network(
        problem.input, [&](int, double objective) { objectives.push_back(objective); });
    ASSERT_GE(objectives.size(), 2u);
    for (std::size_t e = 1; e < objectives.size(); ++e) {
        EXPECT_LE(objectives[e], objectives[e - 1] * (1.0 + 1e-12)) << "iteration " << e + 1;
    }
    EXPECT_LE(problem.family_departure(fast.solutions), 1e-12);
}

}  // namespace
