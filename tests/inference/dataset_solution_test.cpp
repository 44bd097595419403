#include "inference/dataset_solution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "numeric/svdcmp.h"
#include "selection/select_network.h"

namespace {

using netrevia::inference::solve_dataset;
using netrevia::numeric::MatrixRef;
using netrevia::numeric::VectorRef;

// A dataset as the reader leaves it: Y is T x n (row = time point), already on the linear scale.
struct Dataset {
    int n;
    int T;
    std::vector<double> t;
    std::vector<double> Y;

    double y(int j, int i) const {
        return Y[static_cast<std::size_t>(i - 1) * T + static_cast<std::size_t>(j - 1)];
    }
};

struct Solution {
    int z = 0;
    std::vector<double> J0;
    std::vector<double> B;
    double j0(int a, int b) const { return J0[static_cast<std::size_t>((b - 1) * n + (a - 1))]; }
    double b(int r, int c) const { return B[static_cast<std::size_t>((c - 1) * n + (r - 1))]; }
    int n = 0;
};

Solution solve(Dataset d) {
    Solution s;
    s.n = d.n;
    s.J0.assign(static_cast<std::size_t>(d.n) * d.n, 0.0);
    s.B.assign(static_cast<std::size_t>(d.n) * d.n, 0.0);
    s.z = solve_dataset(d.n, d.T, d.t, d.Y, MatrixRef{s.J0.data(), d.n}, MatrixRef{s.B.data(), d.n},
                        {});
    return s;
}

// The three-gene example: Y rows by time point (1, 2, 1), (2, 2, 0.5), (4, 1, 1), t = 0, 1, 2.
Dataset worked_example() {
    return Dataset{3, 3, {0.0, 1.0, 2.0}, {1.0, 2.0, 4.0, 2.0, 2.0, 1.0, 1.0, 0.5, 1.0}};
}

// |A b| for column c of B, A = rows 1..T-1 of the dataset's Y.
double image_norm(const Dataset& d, const Solution& s, int c) {
    double sum = 0.0;
    for (int j = 1; j <= d.T - 1; ++j) {
        double row = 0.0;
        for (int i = 1; i <= d.n; ++i) row += d.y(j, i) * s.b(i, c);
        sum += row * row;
    }
    return std::sqrt(sum);
}

TEST(DatasetSolution, WorkedExampleGivesNullSpaceAndParticularSolution) {
    const Dataset d = worked_example();
    const Solution s = solve(d);
    EXPECT_EQ(s.z, 1);

    // Column 1 is the null space, +-(-2, 3, -4)/sqrt(29).
    const double root = std::sqrt(29.0);
    const double sign = s.b(1, 1) < 0 ? 1.0 : -1.0;
    EXPECT_NEAR(s.b(1, 1), sign * -2.0 / root, 1e-15);
    EXPECT_NEAR(s.b(2, 1), sign * 3.0 / root, 1e-15);
    EXPECT_NEAR(s.b(3, 1), sign * -4.0 / root, 1e-15);
    // The largest singular value ends in the last column.
    EXPECT_NEAR(image_norm(d, s, 2), 0.7268855474011156, 1e-14);
    EXPECT_NEAR(image_norm(d, s, 3), 3.7042728572527404, 1e-14);

    const double expected[3][3] = {{25, 6, -8}, {-22, 4, 14}, {20.5, -9, -17}};
    for (int a = 1; a <= 3; ++a) {
        for (int b = 1; b <= 3; ++b) {
            EXPECT_NEAR(s.j0(a, b), expected[a - 1][b - 1] / 29.0, 1e-14) << a << "," << b;
        }
    }
}

// J0 A^T = D: the particular solution reproduces the forward-difference rates.
TEST(DatasetSolution, ParticularSolutionReproducesRates) {
    const Dataset d = worked_example();
    const Solution s = solve(d);
    for (int a = 1; a <= d.n; ++a) {
        for (int j = 1; j <= d.T - 1; ++j) {
            double rate = 0.0;
            for (int b = 1; b <= d.n; ++b) rate += s.j0(a, b) * d.y(j, b);
            const double h =
                d.t[static_cast<std::size_t>(j)] - d.t[static_cast<std::size_t>(j - 1)];
            EXPECT_NEAR(rate, (d.y(j + 1, a) - d.y(j, a)) / h, 1e-13);
        }
    }
}

TEST(DatasetSolution, ConstantGeneHasZeroRow) {
    Dataset d{3, 4, {0.0, 1.0, 2.5, 4.0}, {}};
    d.Y = {1.0, 2.0, 3.0, 5.0, 1.5, 1.5, 1.5, 1.5, 0.5, 0.25, 2.0, 1.0};  // gene 2 constant
    const Solution s = solve(d);
    for (int b = 1; b <= 3; ++b) EXPECT_EQ(s.j0(2, b), 0.0);
}

TEST(DatasetSolution, ShiftingTimeChangesNothingAndScalingTimeScalesInversely) {
    const Solution base = solve(worked_example());
    Dataset shifted = worked_example();
    for (double& x : shifted.t) x += 0.5;
    EXPECT_EQ(solve(shifted).J0, base.J0);

    Dataset stretched = worked_example();
    for (double& x : stretched.t) x *= 2.0;
    const Solution slow = solve(stretched);
    for (std::size_t e = 0; e < base.J0.size(); ++e) EXPECT_EQ(slow.J0[e], base.J0[e] / 2.0);
}

// With at least as many intervals as genes every positive singular value is moved and the
// columns of B are ordered by ascending singular value. The second course has rank 2 (time
// points 1 and 2 alike): its one zero must still end in column 1, which takes a second move
// after the decomposition left a positive value in front of it.
TEST(DatasetSolution, LongCourseSortsAllSingularValues) {
    Dataset full{3, 6, {0.0, 1.0, 2.0, 3.0, 4.0, 5.0}, {}};
    full.Y = {1.0, 1.5, 2.5, 2.0, 1.2, 0.7, 0.3, 0.9, 1.1,
              1.6, 2.4, 3.0, 2.0, 1.0, 0.8, 1.9, 2.2, 2.1};
    const Dataset deficient{
        3, 4, {0.0, 1.0, 2.0, 3.0}, {3.0, 3.0, 1.0, 2.0, 0.0, 0.0, 4.0, 0.0, 3.0, 3.0, 0.0, 3.0}};
    for (const auto& [d, z] : {std::pair{full, 0}, std::pair{deficient, 1}}) {
        SCOPED_TRACE(z);
        const Solution s = solve(d);
        EXPECT_EQ(s.z, z);
        EXPECT_LT(image_norm(d, s, 1), image_norm(d, s, 2));
        EXPECT_LT(image_norm(d, s, 2), image_norm(d, s, 3));
    }
}

// Rows (3, 0, 4) and (0, 5, 0) are orthogonal with equal norms: the decomposition returns the
// singular values 0, 5, 5 exactly, and the first of the two fives is the one moved to the end.
// The step of 3 time units makes the quotient by h differ from a product with the rounded 1/h
// in the last bit of J0.
TEST(DatasetSolution, FirstOfEqualLargestSingularValuesMovesLast) {
    const Dataset d{3, 3, {0.0, 3.0, 6.0}, {3.0, 0.0, 1.0, 0.0, 5.0, 1.0, 4.0, 0.0, 1.0}};
    std::vector<double> A = d.Y;
    std::vector<double> w(3);
    std::vector<double> V(9);
    netrevia::numeric::svdcmp(MatrixRef{A.data(), 3}, 2, 3, VectorRef{w.data()},
                              MatrixRef{V.data(), 3}, {});
    ASSERT_EQ(w, (std::vector<double>{0.0, 5.0, 5.0}));

    const Solution s = solve(d);
    EXPECT_EQ(s.z, 1);
    // B = (V1, V3, V2).
    std::vector<double> swapped(V.begin(), V.begin() + 3);
    swapped.insert(swapped.end(), V.begin() + 6, V.end());
    swapped.insert(swapped.end(), V.begin() + 3, V.begin() + 6);
    EXPECT_EQ(s.B, swapped);
    const std::vector<double> J0{-0.12000000000000005, 0.20000000000000009,  -0.16000000000000006,
                                 0.066666666666666666, -0.26666666666666666, 0.066666666666666666,
                                 -0.16000000000000006, 0.26666666666666677,  -0.2133333333333334};
    EXPECT_EQ(s.J0, J0);
}

// The whole chain on the worked example: one dataset, one projection towards zero.
TEST(DatasetSolution, WorkedExampleSelectsSparseNetwork) {
    const Dataset d = worked_example();
    const Solution s = solve(d);
    netrevia::selection::SelectionInput input;
    input.n = 3;
    input.K = 1;
    input.particular_store = &s.J0;
    input.basis_store = &s.B;
    input.zero_counts[0] = s.z;
    input.time_point_counts[0] = 3;
    input.total_time_points = 3.0;
    const auto result = netrevia::selection::select_network(input);
    const double expected[3][3] = {{1, 0, 0}, {-2.0 / 3.0, 0, 2.0 / 3.0}, {0.5, 0, -1}};
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) {
            EXPECT_NEAR(result.R[static_cast<std::size_t>((j - 1) * 3 + (i - 1))],
                        expected[i - 1][j - 1], 1e-6);
        }
    }
    // R still reproduces the rates, to the single precision of the fit.
    for (int a = 1; a <= 3; ++a) {
        for (int j = 1; j <= 2; ++j) {
            double rate = 0.0;
            for (int b = 1; b <= 3; ++b)
                rate += result.R[static_cast<std::size_t>((b - 1) * 3 + (a - 1))] * d.y(j, b);
            EXPECT_NEAR(rate, d.y(j + 1, a) - d.y(j, a), 1e-6);
        }
    }
    for (double lambda : {0.1, 2.0}) {
        input.lambda = lambda;
        EXPECT_EQ(netrevia::selection::select_network(input).R, result.R);
    }
}

}  // namespace
