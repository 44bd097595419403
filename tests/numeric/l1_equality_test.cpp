#include "numeric/l1_equality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "numeric/lad_solve.h"
#include "support/support.h"

namespace netrevia::numeric {
namespace {

std::size_t at(int i, int j, int ld) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(j - 1) * ld;
}

std::vector<double> uniform_values(std::mt19937_64& engine, std::size_t count) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> v(count);
    for (double& x : v) x = value(engine);
    return v;
}

// A random n x n orthogonal matrix: Gram-Schmidt on random columns.
std::vector<double> orthogonal_matrix(int n, std::mt19937_64& engine) {
    std::vector<double> V = uniform_values(engine, static_cast<std::size_t>(n) * n);
    test_support::orthonormalise(V, n);
    return V;
}

struct Solved {
    std::vector<double> r;
    std::vector<int> basis;
    L1EqualityOutcome outcome;
};

Solved solve(const std::vector<double>& A,
             int p,
             int n,
             const std::vector<double>& c,
             std::vector<int> basis = {},
             int max_iterations = 0) {
    Solved s;
    s.r.assign(static_cast<std::size_t>(n), std::numeric_limits<double>::quiet_NaN());
    s.basis = basis.empty() ? std::vector<int>(static_cast<std::size_t>(std::max(p, 1)), 0) : basis;
    L1EqualityWork work;
    s.outcome = l1_equality_solve({A.data(), std::max(p, 1)}, p, n, {c.data()}, {s.r.data()},
                                  {s.basis.data()}, work, max_iterations);
    return s;
}

// max_i |(A r - c)(i)|
double constraint_residual(const std::vector<double>& A,
                           int p,
                           int n,
                           const std::vector<double>& c,
                           const std::vector<double>& r) {
    double worst = 0.0;
    for (int i = 1; i <= p; ++i) {
        double sum = -c[static_cast<std::size_t>(i - 1)];
        for (int j = 1; j <= n; ++j) sum += A[at(i, j, p)] * r[static_cast<std::size_t>(j - 1)];
        worst = std::max(worst, std::abs(sum));
    }
    return worst;
}

// The optimum by enumeration: the minimum is attained at a basic solution, r_S = A_S^{-1} c
// for p independent columns S and r = 0 elsewhere. Only for tiny p and n.
double brute_force_minimum(const std::vector<double>& A,
                           int p,
                           int n,
                           const std::vector<double>& c) {
    double best = std::numeric_limits<double>::infinity();
    std::vector<int> S(static_cast<std::size_t>(p));
    for (int q = 0; q < p; ++q) S[static_cast<std::size_t>(q)] = q + 1;
    while (true) {
        std::vector<double> F(static_cast<std::size_t>(p) * (p + 1));  // [A_S | c], stride p
        for (int i = 1; i <= p; ++i) {
            for (int q = 1; q <= p; ++q)
                F[at(i, q, p)] = A[at(i, S[static_cast<std::size_t>(q - 1)], p)];
            F[at(i, p + 1, p)] = c[static_cast<std::size_t>(i - 1)];
        }
        bool singular = false;
        for (int k = 1; k <= p && !singular; ++k) {
            int pr = k;
            for (int i = k + 1; i <= p; ++i)
                if (std::abs(F[at(i, k, p)]) > std::abs(F[at(pr, k, p)])) pr = i;
            if (std::abs(F[at(pr, k, p)]) < 1e-9) {
                singular = true;
                break;
            }
            for (int q = 1; q <= p + 1; ++q) std::swap(F[at(k, q, p)], F[at(pr, q, p)]);
            for (int i = 1; i <= p; ++i) {
                if (i == k) continue;
                const double f = F[at(i, k, p)] / F[at(k, k, p)];
                for (int q = k; q <= p + 1; ++q) F[at(i, q, p)] -= f * F[at(k, q, p)];
            }
        }
        if (!singular) {
            double sum = 0.0;
            for (int k = 1; k <= p; ++k) sum += std::abs(F[at(k, p + 1, p)] / F[at(k, k, p)]);
            best = std::min(best, sum);
        }
        int q = p - 1;
        while (q >= 0 && S[static_cast<std::size_t>(q)] == n - p + q + 1) --q;
        if (q < 0) break;
        ++S[static_cast<std::size_t>(q)];
        for (int l = q + 1; l < p; ++l)
            S[static_cast<std::size_t>(l)] = S[static_cast<std::size_t>(l - 1)] + 1;
    }
    return best;
}

// The projection fit both ways: min ||b - N x||_1 by lad_solve on the n x z tableau of N,
// and min ||r||_1 subject to M^T r = M^T b, for V = [N | M] orthogonal.
TEST(L1Equality, AgreesWithLadSolveOnProjectionFits) {
    std::mt19937_64 engine(20240611u);
    for (const auto& [n, z] :
         {std::pair{12, 3}, std::pair{20, 11}, std::pair{40, 31}, std::pair{60, 51},
          std::pair{30, 1}, std::pair{25, 24}, std::pair{80, 71}}) {
        for (int trial = 0; trial < 4; ++trial) {
            const int p = n - z;
            const std::vector<double> V = orthogonal_matrix(n, engine);
            const std::vector<double> b = uniform_values(engine, static_cast<std::size_t>(n));

            std::vector<double> tableau(static_cast<std::size_t>(n + 2) * (z + 2), 0.0);
            for (int l = 1; l <= z; ++l)
                for (int t = 1; t <= n; ++t) tableau[at(t, l, n + 2)] = V[at(t, l, n)];
            std::vector<double> b_scratch = b, x(static_cast<std::size_t>(z)), lad_r(b.size());
            std::vector<int> ws(b.size());
            lad_solve(n, z, n + 2, z + 2, {tableau.data(), n + 2}, {b_scratch.data()}, 0.0f,
                      {x.data()}, {lad_r.data()}, {ws.data()});
            const double lad_sum = tableau[at(n + 1, z + 1, n + 2)];
            double lad_recomputed = 0.0;  // sum |b - N x| of lad_solve's x, in double
            for (int t = 1; t <= n; ++t) {
                double fit = b[static_cast<std::size_t>(t - 1)];
                for (int l = 1; l <= z; ++l)
                    fit -= V[at(t, l, n)] * x[static_cast<std::size_t>(l - 1)];
                lad_recomputed += std::abs(fit);
            }

            std::vector<double> A(static_cast<std::size_t>(p) * n),
                c(static_cast<std::size_t>(p), 0.0);
            for (int q = 1; q <= p; ++q) {
                for (int t = 1; t <= n; ++t) {
                    A[at(q, t, p)] = V[at(t, z + q, n)];
                    c[static_cast<std::size_t>(q - 1)] +=
                        A[at(q, t, p)] * b[static_cast<std::size_t>(t - 1)];
                }
            }
            const Solved fast = solve(A, p, n, c);
            SCOPED_TRACE(testing::Message() << "n " << n << " z " << z << " trial " << trial);
            EXPECT_EQ(fast.outcome.status, L1EqualityStatus::kOptimal);
            EXPECT_NEAR(fast.outcome.sum, lad_sum, 1e-6 * lad_sum);
            // No feasible point beats the optimum, lad_solve's single-precision x included.
            EXPECT_LE(fast.outcome.sum, lad_recomputed + 1e-12 * lad_recomputed);
            EXPECT_LE(constraint_residual(A, p, n, c, fast.r), 1e-13);
            // The optimum is a vertex: at most p residuals are nonzero.
            EXPECT_LE(
                std::count_if(fast.r.begin(), fast.r.end(), [](double v) { return v != 0.0; }), p);
        }
    }
}

// Deterministic to the bit, the refinement of the basic values included (without it r(1) is
// one ulp off): a fixed 3 x 6 system, as hexadecimal floats.
TEST(L1Equality, FixedSystemGivesGoldenSolutionBitForBit) {
    // clang-format off
    const std::vector<double> A = {
        -0x1.d295b7637b10cp-1, -0x1.6f88a17c0a722p-1, -0x1.0bb55bac20fdp-2, 0x1.5c8d3cdc5cdd4p-2,
        -0x1.ed6bbb18a7cdep-1, 0x1.73d428ffa88e8p-3,  0x1.470dc2ea445d6p-1, 0x1.264128d6e15f4p-2,
        -0x1.ee79a465af496p-1, 0x1.933431f7051e8p-1, -0x1.4a3ce70df686ap-1, 0x1.59d0945d758bap-1,
        0x1.f725aa67ea1a4p-2,  -0x1.d450db31d4e74p-2, 0x1.a4b4ad17b8f98p-3, -0x1.41c37d22de61p-1,
        0x1.38ae4f77c0ab8p-3,  -0x1.82240b16530e8p-3};
    const std::vector<double> c = {-0x1.639ad3e9f6f94p-1, 0x1.022d9bb078a38p+1,
                                   0x1.3313a1953a4bbp+1};
    // clang-format on
    const Solved s = solve(A, 3, 6, c);
    EXPECT_EQ(s.outcome.status, L1EqualityStatus::kOptimal);
    EXPECT_EQ(s.outcome.iterations, 1);
    EXPECT_EQ(s.outcome.sum, 0x1.64e62f6d501ap+2);
    EXPECT_EQ(s.r, (std::vector<double>{-0x1.8797646f9cdd2p+0, -0x1.aa010368eb9b5p+0,
                                        -0x1.31002aee5bf7bp+1, 0.0, 0.0, 0.0}));
    EXPECT_EQ(s.basis, (std::vector<int>{-3, -2, -1}));

    // A nonsingular start basis is taken as given, its last column n included: three steps from
    // {4, 5, 6} to the same optimum, its columns in another order.
    const Solved warm = solve(A, 3, 6, c, {4, 5, 6});
    EXPECT_EQ(warm.outcome.iterations, 3);
    EXPECT_EQ(warm.outcome.sum, s.outcome.sum);
    EXPECT_EQ(warm.basis, (std::vector<int>{-2, -3, -1}));
}

// After a step, a basic value the step carried across zero by more than rounding (the column
// moved towards zero too slowly to take part in the ratio test) changes side; one within
// rounding of zero keeps its side. The side shows in the sign of the returned label.
TEST(L1Equality, ValueCarriedAcrossZeroChangesSideOnlyBeyondRounding) {
    struct Case {
        const char* name;
        std::vector<double> A;  // 2 x 3: the unit columns, then the entering one
        std::vector<double> c;
        std::vector<int> basis;
        std::vector<double> r;
    };
    const std::vector<Case> cases = {
        {"clearly across",
         {1, 0, 0, 1, 3, 0x1p-36},
         {1, 0x1p-40},
         {3, -2},
         {0.0, -0x1.1555555555555p-38, 0x1.5555555555555p-2}},
        {"rounding size",
         {1, 0, 0, 1, 0x1p-40, 3},
         {0x1p-42, 1},
         {1, 3},
         {-0x1.5555555555554p-44, 0.0, 0x1.5555555555555p-2}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const Solved s = solve(k.A, 2, 3, k.c, {1, 2});
        EXPECT_EQ(s.outcome.status, L1EqualityStatus::kOptimal);
        EXPECT_EQ(s.outcome.iterations, 1);
        EXPECT_EQ(s.basis, k.basis);
        EXPECT_EQ(s.r, k.r);
    }
}

TEST(L1Equality, GeneralSystemsReachTheEnumeratedMinimum) {
    std::mt19937_64 engine(7u);
    for (int trial = 0; trial < 60; ++trial) {
        const int p = 1 + trial % 4;
        const int n = p + 2 + trial % 5;
        std::vector<double> A = uniform_values(engine, static_cast<std::size_t>(p) * n);
        const std::vector<double> c = uniform_values(engine, static_cast<std::size_t>(p));
        const Solved fast = solve(A, p, n, c);
        const double best = brute_force_minimum(A, p, n, c);
        EXPECT_NEAR(fast.outcome.sum, best, 1e-12 * (1.0 + best)) << "trial " << trial;
        EXPECT_LE(constraint_residual(A, p, n, c, fast.r), 1e-12) << "trial " << trial;
    }
}

// Small integer data are full of ties and zero steps: the tie-breaking and the switch to
// Bland's rule must still end at the optimum.
TEST(L1Equality, DegenerateIntegerSystemsReachTheEnumeratedMinimum) {
    std::mt19937_64 engine(99u);
    std::uniform_int_distribution<int> small(-1, 1);
    for (int trial = 0; trial < 80; ++trial) {
        const int p = 2 + trial % 3;
        const int n = p + 3 + trial % 4;
        std::vector<double> A(static_cast<std::size_t>(p) * n);
        for (double& v : A) v = small(engine);
        for (int i = 1; i <= p; ++i) A[at(i, i, p)] = 2.0;  // full row rank
        std::vector<double> c(static_cast<std::size_t>(p));
        for (double& v : c) v = small(engine);
        const Solved fast = solve(A, p, n, c);
        const double best = brute_force_minimum(A, p, n, c);
        EXPECT_EQ(fast.outcome.status, L1EqualityStatus::kOptimal) << "trial " << trial;
        EXPECT_NEAR(fast.outcome.sum, best, 1e-12 * (1.0 + best)) << "trial " << trial;
        EXPECT_LE(constraint_residual(A, p, n, c, fast.r), 1e-12) << "trial " << trial;
    }
}

// With c = 0 every basis is degenerate and no step lowers the sum. On this system the largest
// violation with its tie-breaks cycles for ever (it would end at the iteration limit); after 50
// steps without decrease Bland's rule takes over and reaches a basis that prices out.
TEST(L1Equality, CyclingDegenerateSystemEndsUnderBlandsRule) {
    // clang-format off
    const std::vector<double> A = {
        0, -1,  2,  0,  0,   2,  0, -2,  1,  2,   2, -1,  1, -1,  1,   2,  1,  2, -2, -1,
        2, -2, -1,  0,  1,  -1,  1,  2,  1, -2,   2, -2,  0, -1,  1,   1, -1,  0, -1, -2,
        2,  2,  1, -2,  0,   1, -2,  2,  2,  2};
    // clang-format on
    const Solved s = solve(A, 5, 10, std::vector<double>(5, 0.0));
    EXPECT_EQ(s.outcome.status, L1EqualityStatus::kOptimal);
    EXPECT_EQ(s.outcome.iterations, 54);
    EXPECT_EQ(s.outcome.sum, 0.0);
    EXPECT_EQ(s.r, std::vector<double>(10, 0.0));
}

TEST(L1Equality, OptimalBasisRestartsWithoutSteps) {
    std::mt19937_64 engine(3u);
    const int p = 6;
    const int n = 50;
    const std::vector<double> A = uniform_values(engine, static_cast<std::size_t>(p) * n);
    std::vector<double> c = uniform_values(engine, static_cast<std::size_t>(p));
    const Solved cold = solve(A, p, n, c);
    ASSERT_GT(cold.outcome.iterations, 0);
    const Solved warm = solve(A, p, n, c, cold.basis);
    EXPECT_EQ(warm.outcome.iterations, 0);
    EXPECT_EQ(warm.r, cold.r);
    // A nearby right-hand side from the old basis: the same optimum as from scratch.
    c[0] += 0.05;
    const Solved nearby = solve(A, p, n, c, cold.basis);
    EXPECT_NEAR(nearby.outcome.sum, solve(A, p, n, c).outcome.sum, 1e-13);
    // An unusable start basis (repeated label) falls back to the cold start.
    std::vector<int> repeated(static_cast<std::size_t>(p), 1);
    EXPECT_NEAR(solve(A, p, n, c, repeated).outcome.sum, nearby.outcome.sum, 1e-13);
}

TEST(L1Equality, TrivialRightHandSidesAndEmptySystems) {
    std::mt19937_64 engine(5u);
    const std::vector<double> A = uniform_values(engine, 3 * 10);
    const Solved zero = solve(A, 3, 10, {0.0, 0.0, 0.0});
    EXPECT_EQ(zero.outcome.sum, 0.0);
    for (double v : zero.r) EXPECT_EQ(v, 0.0);

    const Solved empty = solve({}, 0, 4, {});  // no constraints: r = 0
    EXPECT_EQ(empty.outcome.status, L1EqualityStatus::kOptimal);
    EXPECT_EQ(empty.r, std::vector<double>(4, 0.0));
}

// Duplicate columns (genes with equal rows of M), a zero column and a tiny one: the minimum
// is still reached and the basis never takes two equal columns.
TEST(L1Equality, DuplicateZeroAndTinyColumns) {
    std::mt19937_64 engine(11u);
    for (int trial = 0; trial < 20; ++trial) {
        const int p = 3;
        const int n = 9;
        std::vector<double> A = uniform_values(engine, static_cast<std::size_t>(p) * n);
        for (int i = 1; i <= p; ++i) {
            A[at(i, 4, p)] = A[at(i, 2, p)];
            A[at(i, 7, p)] = A[at(i, 2, p)];
            A[at(i, 5, p)] = 0.0;
            A[at(i, 8, p)] *= 1e-14;
        }
        const std::vector<double> c = uniform_values(engine, static_cast<std::size_t>(p));
        const Solved fast = solve(A, p, n, c);
        EXPECT_NEAR(fast.outcome.sum, brute_force_minimum(A, p, n, c), 1e-12) << trial;
        EXPECT_LE(constraint_residual(A, p, n, c, fast.r), 1e-12) << trial;
        EXPECT_EQ(fast.r[4], 0.0);
    }
}

TEST(L1Equality, DependentRowsAreDroppedWhenConsistent) {
    std::mt19937_64 engine(13u);
    const int p = 3;
    const int n = 8;
    std::vector<double> A = uniform_values(engine, static_cast<std::size_t>(p) * n);
    for (int j = 1; j <= n; ++j) A[at(3, j, p)] = A[at(1, j, p)] - 2.0 * A[at(2, j, p)];
    std::vector<double> c = uniform_values(engine, 2);
    c.push_back(c[0] - 2.0 * c[1]);
    const Solved fast = solve(A, p, n, c);
    EXPECT_EQ(fast.outcome.status, L1EqualityStatus::kRankDeficient);
    EXPECT_LE(constraint_residual(A, p, n, c, fast.r), 1e-12);
    std::vector<double> independent(static_cast<std::size_t>(2) * n);
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= 2; ++i) independent[at(i, j, 2)] = A[at(i, j, p)];
    EXPECT_NEAR(fast.outcome.sum, brute_force_minimum(independent, 2, n, {c[0], c[1]}), 1e-12);

    // The start basis by complete pivoting: row 3 = row 1 + row 2. The 3 of column 2, row 2
    // wins over the later equal entries, then the 2 of column 3; the labels beyond the rank are
    // cleared, whatever the array held.
    const std::vector<double> B = {1, 0, 1, 0, 3, 3, 2, 1, 3, 0, 0, 0};
    std::vector<int> basis(3, 7);
    L1EqualityWork work;
    EXPECT_EQ(l1_equality_start_basis({B.data(), 3}, 3, 4, {basis.data()}, work), 2);
    EXPECT_EQ(basis, (std::vector<int>{2, 3, 0}));
}

TEST(L1Equality, IterationLimitLeavesAFeasiblePoint) {
    std::mt19937_64 engine(17u);
    const int p = 8;
    const int n = 200;
    const std::vector<double> A = uniform_values(engine, static_cast<std::size_t>(p) * n);
    const std::vector<double> c = uniform_values(engine, static_cast<std::size_t>(p));
    const Solved full = solve(A, p, n, c);
    ASSERT_GT(full.outcome.iterations, 2);
    const Solved cut = solve(A, p, n, c, {}, 2);
    EXPECT_EQ(cut.outcome.status, L1EqualityStatus::kIterationLimit);
    EXPECT_EQ(cut.outcome.iterations, 2);
    EXPECT_LE(constraint_residual(A, p, n, c, cut.r), 1e-12);
    EXPECT_GT(cut.outcome.sum, full.outcome.sum);
}

}  // namespace
}  // namespace netrevia::numeric
