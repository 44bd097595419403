// lad_solve applies several pivots per pass over the tableau; lad_solve_reference applies each
// pivot to the whole tableau before the next decision. Both must leave the same bits everywhere:
// the tableau (sums, rank, exit code, pivot count included), x, r and even the scratch b and ws.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numeric/lad_solve.h"
#include "numeric/lad_solve_reference.h"
#include "numeric/svdcmp.h"

namespace netrevia::numeric {
namespace {

struct Outputs {
    std::vector<double> T, b, x, r;
    std::vector<int> ws;
};

using Solver =
    void (*)(int, int, int, int, MatrixRef, VectorRef, float, VectorRef, VectorRef, IntVectorRef);

// Runs one solver on copies of a (m x n, stride m) and rhs, from a tableau that holds NaN
// outside the coefficients: the solver must write every other entry before reading it.
Outputs solve(Solver solver,
              const std::vector<double>& a,
              const std::vector<double>& rhs,
              int m,
              int n,
              float tol) {
    Outputs out;
    const auto rows = static_cast<std::size_t>(m + 2);
    out.T.assign(rows * static_cast<std::size_t>(n + 2), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(m); ++i) {
            out.T[i + j * rows] = a[i + j * static_cast<std::size_t>(m)];
        }
    }
    out.b = rhs;
    out.x.assign(static_cast<std::size_t>(n), -1.0);
    out.r.assign(static_cast<std::size_t>(m), -1.0);
    out.ws.assign(static_cast<std::size_t>(m), -1);
    solver(m, n, m + 2, n + 2, MatrixRef{out.T.data(), m + 2}, VectorRef{out.b.data()}, tol,
           VectorRef{out.x.data()}, VectorRef{out.r.data()}, IntVectorRef{out.ws.data()});
    return out;
}

template <class V>
bool same_bits(const std::vector<V>& u, const std::vector<V>& v) {
    return u.size() == v.size() &&
           (u.empty() || std::memcmp(u.data(), v.data(), u.size() * sizeof(V)) == 0);
}

// Solves with both routines and requires identical bits; returns the pivot count so that a case
// can check it exercised blocks of several pivots.
double expect_same_as_reference(const std::vector<double>& a,
                                const std::vector<double>& rhs,
                                int m,
                                int n,
                                const std::string& what,
                                float tol = 0.0f) {
    const Outputs blocked = solve(&lad_solve, a, rhs, m, n, tol);
    const Outputs reference = solve(&lad_solve_reference, a, rhs, m, n, tol);
    EXPECT_TRUE(same_bits(blocked.T, reference.T)) << what << ": tableau";
    EXPECT_TRUE(same_bits(blocked.x, reference.x)) << what << ": x";
    EXPECT_TRUE(same_bits(blocked.r, reference.r)) << what << ": residuals";
    EXPECT_TRUE(same_bits(blocked.b, reference.b)) << what << ": b";
    EXPECT_TRUE(same_bits(blocked.ws, reference.ws)) << what << ": ws";
    return reference.T[static_cast<std::size_t>(m + 1) +
                       static_cast<std::size_t>(n + 1) * static_cast<std::size_t>(m + 2)];
}

std::vector<double> uniform_values(std::size_t count, std::mt19937_64& engine) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(count);
    for (double& value : values) value = uniform(engine);
    return values;
}

// Entries from a small set of integers: many equal ratios and costs (ties), zero entries of
// both signs, dependent columns and rank loss.
std::vector<double> tied_values(std::size_t count, std::mt19937_64& engine) {
    const double choices[] = {-1.0, 0.0, -0.0, 1.0, 2.0, 1.0};
    std::uniform_int_distribution<int> pick(0, 5);
    std::vector<double> values(count);
    for (double& value : values) value = choices[pick(engine)];
    return values;
}

TEST(LadSolveBlocked, RandomSystemsOfEveryShapeMatchReference) {
    std::mt19937_64 engine(20261209);
    const int shapes[][2] = {{0, 1},  {1, 1},   {3, 1},   {5, 2},   {7, 5},  {9, 9},
                             {12, 4}, {20, 11}, {40, 31}, {64, 64}, {80, 23}};
    for (const auto& shape : shapes) {
        const int m = shape[0];
        const int n = shape[1];
        for (int trial = 0; trial < 3; ++trial) {
            const auto a = uniform_values(static_cast<std::size_t>(m * n), engine);
            const auto rhs = uniform_values(static_cast<std::size_t>(m), engine);
            expect_same_as_reference(a, rhs, m, n, std::to_string(m) + " x " + std::to_string(n));
        }
    }
}

// The systems the selection loop solves: the free directions of a dataset (orthonormal columns
// of the null space of a 9 x n matrix, from its SVD) against a right-hand side, at gene counts
// that take tens of pivots, several blocks and a stage 2 with reflections.
TEST(LadSolveBlocked, ProjectionFitsMatchReference) {
    std::mt19937_64 engine(7);
    for (const int n : {20, 47, 110}) {
        const int rank = 9;
        std::vector<double> data = uniform_values(static_cast<std::size_t>(rank * n), engine);
        std::vector<double> w(static_cast<std::size_t>(n));
        std::vector<double> V(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
        svdcmp(MatrixRef{data.data(), rank}, rank, n, VectorRef{w.data()}, MatrixRef{V.data(), n},
               [](std::string_view) {});
        // Columns of V with w = 0 span the null space; svdcmp leaves w unsorted.
        std::vector<double> a;
        for (int j = 0; j < n; ++j) {
            if (std::abs(w[static_cast<std::size_t>(j)]) > 1e-12) continue;
            a.insert(a.end(), V.begin() + j * n, V.begin() + (j + 1) * n);
        }
        const int z = static_cast<int>(a.size()) / n;
        ASSERT_EQ(z, n - rank);
        for (int trial = 0; trial < 2; ++trial) {
            const auto rhs = uniform_values(static_cast<std::size_t>(n), engine);
            const double pivots =
                expect_same_as_reference(a, rhs, n, z, "fit " + std::to_string(n));
            EXPECT_GT(pivots, z);  // stage 2 pivoted too
        }
    }
}

TEST(LadSolveBlocked, TiedAndDegenerateSystemsMatchReference) {
    std::mt19937_64 engine(99);
    for (int trial = 0; trial < 40; ++trial) {
        const int m = 6 + trial;
        const int n = 1 + trial % 17;
        const auto a = tied_values(static_cast<std::size_t>(m * n), engine);
        auto rhs = tied_values(static_cast<std::size_t>(m), engine);
        expect_same_as_reference(a, rhs, m, n, "tied " + std::to_string(trial));
        // A positive tolerance turns small entries and costs away: other candidate lists.
        expect_same_as_reference(a, rhs, m, n, "tied, tol " + std::to_string(trial), 0.5f);
    }
    // Repeated columns: stage 1 sets the copies aside between pivots of one block.
    std::vector<double> a = uniform_values(30 * 4, engine);
    for (int copy = 0; copy < 4; ++copy) a.insert(a.end(), a.begin(), a.begin() + 30 * 4);
    expect_same_as_reference(a, uniform_values(30, engine), 30, 20, "repeated columns");
}

TEST(LadSolveBlocked, NonFiniteEntriesMatchReference) {
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(), 1e300, -1e-300};
    std::mt19937_64 engine(3);
    for (int trial = 0; trial < 30; ++trial) {
        const int m = 25;
        const int n = 12;
        auto a = uniform_values(static_cast<std::size_t>(m * n), engine);
        auto rhs = uniform_values(static_cast<std::size_t>(m), engine);
        std::uniform_int_distribution<std::size_t> where(0, a.size() - 1);
        const double special = specials[trial % 5];
        for (int hit = 0; hit <= trial / 10; ++hit) a[where(engine)] = special;
        if (trial % 3 == 0) rhs[static_cast<std::size_t>(trial % m)] = special;
        expect_same_as_reference(a, rhs, m, n, "non-finite " + std::to_string(trial));
    }
}

}  // namespace
}  // namespace netrevia::numeric
