#include "numeric/svdcmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace netrevia::numeric {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// An m x n matrix decomposed inside caller arrays with extra rows: A has stride lda >= m, V has
// stride n + 2; every element outside the leading parts starts as NaN.
struct Decomposition {
    int m;
    int n;
    int lda;
    int ldv;
    std::vector<double> a;  // the original matrix, m x n, stride m
    std::vector<double> u;  // caller's array for A, lda x n; holds U after the call
    std::vector<double> w;
    std::vector<double> v;  // caller's array for V, ldv x n
    std::vector<std::string> notices;

    Decomposition(std::vector<double> matrix, int rows, int columns, int stride)
        : m(rows),
          n(columns),
          lda(stride),
          ldv(columns + 2),
          a(std::move(matrix)),
          u(static_cast<std::size_t>(stride) * static_cast<std::size_t>(columns), kNaN),
          w(static_cast<std::size_t>(columns), kNaN),
          v(static_cast<std::size_t>(ldv) * static_cast<std::size_t>(columns), kNaN) {
        for (int j = 1; j <= n; ++j) {
            for (int i = 1; i <= m; ++i) U(i, j) = A(i, j);
        }
    }
    void run() {
        svdcmp(MatrixRef{u.data(), lda}, m, n, VectorRef{w.data()}, MatrixRef{v.data(), ldv},
               [this](std::string_view text) { notices.emplace_back(text); });
    }
    double A(int i, int j) const { return a[static_cast<std::size_t>((i - 1) + (j - 1) * m)]; }
    double& U(int i, int j) { return u[static_cast<std::size_t>((i - 1) + (j - 1) * lda)]; }
    double W(int j) const { return w[static_cast<std::size_t>(j - 1)]; }
    double& V(int i, int j) { return v[static_cast<std::size_t>((i - 1) + (j - 1) * ldv)]; }
    double frobenius() const {
        double sum = 0.0;
        for (double value : a) sum += value * value;
        return std::sqrt(sum);
    }
};

std::vector<double> random_matrix(int m, int n, unsigned seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> a(static_cast<std::size_t>(m) * static_cast<std::size_t>(n));
    for (double& value : a) value = uniform(engine);
    return a;
}

// Singular values by one-sided Jacobi (Hestenes): rotate pairs of columns until all are mutually
// orthogonal; the column norms are then the singular values. Independent of Golub-Reinsch.
std::vector<double> jacobi_singular_values(std::vector<double> a, int m, int n) {
    auto column = [&](int j) { return a.data() + static_cast<std::ptrdiff_t>(j) * m; };
    for (int sweep = 0; sweep < 100; ++sweep) {
        bool rotated = false;
        for (int p = 0; p < n; ++p) {
            for (int q = p + 1; q < n; ++q) {
                double alpha = 0.0, beta = 0.0, gamma = 0.0;
                for (int i = 0; i < m; ++i) {
                    alpha += column(p)[i] * column(p)[i];
                    beta += column(q)[i] * column(q)[i];
                    gamma += column(p)[i] * column(q)[i];
                }
                if (gamma == 0.0 || std::abs(gamma) <= 1e-15 * std::sqrt(alpha * beta)) continue;
                rotated = true;
                const double zeta = (beta - alpha) / (2.0 * gamma);
                const double t =
                    (zeta >= 0.0 ? 1.0 : -1.0) / (std::abs(zeta) + std::sqrt(1.0 + zeta * zeta));
                const double c = 1.0 / std::sqrt(1.0 + t * t);
                const double s = c * t;
                for (int i = 0; i < m; ++i) {
                    const double x = column(p)[i];
                    const double y = column(q)[i];
                    column(p)[i] = c * x - s * y;
                    column(q)[i] = s * x + c * y;
                }
            }
        }
        if (!rotated) break;
    }
    std::vector<double> sigma(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) {
        double sum = 0.0;
        for (int i = 0; i < m; ++i) sum += column(j)[i] * column(j)[i];
        sigma[static_cast<std::size_t>(j)] = std::sqrt(sum);
    }
    std::sort(sigma.begin(), sigma.end(), std::greater<>());
    return sigma;
}

std::vector<double> sorted_descending(std::vector<double> values) {
    std::sort(values.begin(), values.end(), std::greater<>());
    return values;
}

struct Shape {
    int m;
    int n;
    int lda;
    unsigned seed;
};

void PrintTo(const Shape& s, std::ostream* os) {
    *os << s.m << " x " << s.n << ", stride " << s.lda << ", seed " << s.seed;
}

std::string shape_name(const testing::TestParamInfo<Shape>& info) {
    const Shape& s = info.param;
    const char* kind = s.m < s.n ? "Wide" : (s.m == s.n ? "Square" : "Tall");
    return std::string(kind) + std::to_string(s.m) + "x" + std::to_string(s.n) + "Stride" +
           std::to_string(s.lda);
}

class SvdcmpShapes : public testing::TestWithParam<Shape> {};

TEST_P(SvdcmpShapes, ReconstructsMatrixWithOrthogonalFactors) {
    const Shape s = GetParam();
    Decomposition d(random_matrix(s.m, s.n, s.seed), s.m, s.n, s.lda);
    d.run();
    EXPECT_TRUE(d.notices.empty());
    const double scale = d.frobenius();

    for (int i = 1; i <= s.m; ++i) {
        for (int j = 1; j <= s.n; ++j) {
            double usvt = 0.0;
            for (int k = 1; k <= s.n; ++k) usvt += d.U(i, k) * d.W(k) * d.V(j, k);
            EXPECT_NEAR(usvt, d.A(i, j), 1e-12 * scale) << "A(" << i << "," << j << ")";
        }
    }
    for (int i = 1; i <= s.n; ++i) {
        for (int j = 1; j <= s.n; ++j) {
            double vtv = 0.0;
            for (int k = 1; k <= s.n; ++k) vtv += d.V(k, i) * d.V(k, j);
            EXPECT_NEAR(vtv, i == j ? 1.0 : 0.0, 1e-12) << "(V^T V)(" << i << "," << j << ")";
        }
    }
    // Columns of U that belong to nonzero singular values are orthonormal.
    const double w_max = *std::max_element(d.w.begin(), d.w.end());
    for (int i = 1; i <= s.n; ++i) {
        for (int j = 1; j <= s.n; ++j) {
            if (d.W(i) <= 1e-8 * w_max || d.W(j) <= 1e-8 * w_max) continue;
            double utu = 0.0;
            for (int k = 1; k <= s.m; ++k) utu += d.U(k, i) * d.U(k, j);
            EXPECT_NEAR(utu, i == j ? 1.0 : 0.0, 1e-12) << "(U^T U)(" << i << "," << j << ")";
        }
    }
}

TEST_P(SvdcmpShapes, SingularValuesMatchJacobiAndAreNonNegative) {
    const Shape s = GetParam();
    Decomposition d(random_matrix(s.m, s.n, s.seed), s.m, s.n, s.lda);
    d.run();
    const std::vector<double> expected = jacobi_singular_values(d.a, s.m, s.n);
    const std::vector<double> actual = sorted_descending(d.w);
    for (int j = 0; j < s.n; ++j) {
        EXPECT_GE(d.w[static_cast<std::size_t>(j)], 0.0);
        EXPECT_NEAR(actual[static_cast<std::size_t>(j)], expected[static_cast<std::size_t>(j)],
                    1e-12 * expected[0])
            << "sigma " << j + 1;
    }
    // m < n: at least n - m singular values vanish (up to rounding of the largest).
    const auto zeros = std::count_if(d.w.begin(), d.w.end(),
                                     [&](double value) { return value <= 1e-13 * expected[0]; });
    EXPECT_GE(zeros, std::max(0, s.n - s.m));
}

TEST_P(SvdcmpShapes, LeavesArraysOutsideLeadingPartsUntouched) {
    const Shape s = GetParam();
    Decomposition d(random_matrix(s.m, s.n, s.seed), s.m, s.n, s.lda);
    d.run();
    for (int j = 1; j <= s.n; ++j) {
        for (int i = s.m + 1; i <= s.lda; ++i) EXPECT_TRUE(std::isnan(d.U(i, j))) << i << "," << j;
        for (int i = s.n + 1; i <= d.ldv; ++i) EXPECT_TRUE(std::isnan(d.V(i, j))) << i << "," << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Svdcmp,
                         SvdcmpShapes,
                         testing::Values(Shape{3, 7, 3, 1},
                                         Shape{3, 7, 5, 2},
                                         Shape{1, 4, 3, 3},
                                         Shape{9, 60, 11, 4},
                                         Shape{6, 6, 6, 5},
                                         Shape{6, 6, 8, 6},
                                         Shape{9, 4, 9, 7},
                                         Shape{12, 5, 15, 8}),
                         shape_name);

TEST(Svdcmp, WorkedExampleSingularValues) {
    Decomposition d({1.0, 2.0, 2.0, 2.0, 1.0, 0.5}, 2, 3, 2);
    d.run();
    const std::vector<double> w = sorted_descending(d.w);
    EXPECT_NEAR(w[0], 3.7042728572527404, 1e-14 * 3.7042728572527404);
    EXPECT_NEAR(w[1], 0.7268855474011156, 1e-14 * 3.7042728572527404);
    EXPECT_NEAR(w[2], 0.0, 1e-14 * 3.7042728572527404);
}

// The decomposition is deterministic to the bit (fixed operation order, no fused multiply-add):
// w, V and U of a fixed 4 x 3 matrix, as hexadecimal floats.
TEST(Svdcmp, FixedMatrixGivesGoldenFactorsBitForBit) {
    Decomposition d({-0.75, 0.0, 0.75, -1.375, -1.0, -0.25, 0.5, 1.25, -1.25, -0.5, 0.25, 1.0}, 4,
                    3, 4);
    d.run();
    EXPECT_TRUE(d.notices.empty());
    const std::vector<double> w = {0x1.3313ee66f308p+1, 0x1.b4665d0762adep+0, 0x1.4a9f30df99706p-2};
    const std::vector<double> V = {
        0x1.b557e4dd9d577p-3,  -0x1.6502640508949p-1, -0x1.5e5589ff85a59p-1,
        -0x1.f24a2f69fdc4cp-1, -0x1.7420f1ad270a3p-4, -0x1.b06f8dffcd5efp-3,
        0x1.5c6ee9dee4643p-4,  0x1.6c0a0d372046bp-1,  -0x1.6561fdb2b2f93p-1};
    const std::vector<double> U = {
        0x1.292b9873fc081p-1, 0x1.b8dfd1fe64fd3p-3, -0x1.32eebdd326257p-3, -0x1.8ab651802e5a3p-1,
        0x1.45ca2facc26b9p-1, 0x1.343fba2292e41p-4, -0x1.f17482483b652p-2, 0x1.30648da754203p-1,
        0x1.35dd937464817p-2, 0x1.0f911cdd0b79fp-1, 0x1.84336fffe4b34p-1,  0x1.d40a2d3dbab02p-3};
    EXPECT_EQ(d.w, w);
    for (int j = 1; j <= 3; ++j) {
        for (int i = 1; i <= 3; ++i) {
            EXPECT_EQ(d.V(i, j), V[static_cast<std::size_t>((i - 1) + (j - 1) * 3)]) << i << j;
        }
    }
    EXPECT_EQ(d.u, U);  // stride 4 = m: the array holds exactly U
}

TEST(Svdcmp, ZeroMatrixGivesIdentityFactorsExactly) {
    for (const auto& [m, n] : {std::pair{3, 5}, std::pair{5, 3}, std::pair{4, 4}}) {
        Decomposition d(std::vector<double>(static_cast<std::size_t>(m * n), 0.0), m, n, m + 1);
        d.run();
        EXPECT_TRUE(d.notices.empty());
        for (int j = 1; j <= n; ++j) {
            EXPECT_EQ(d.w[static_cast<std::size_t>(j - 1)], 0.0);
            for (int i = 1; i <= n; ++i) EXPECT_EQ(d.V(i, j), i == j ? 1.0 : 0.0);
            for (int i = 1; i <= m; ++i) EXPECT_EQ(d.U(i, j), i == j ? 1.0 : 0.0);
            EXPECT_TRUE(std::isnan(d.U(m + 1, j)));
        }
    }
}

// One column: the Householder step leaves w(1) = -sign(a11) ||a||; a negative w is flipped
// together with V. Powers of two make every step exact.
TEST(Svdcmp, SingleColumnSignsExactly) {
    struct Case {
        std::vector<double> a;
        double v;
        std::vector<double> u;
    };
    const std::vector<Case> cases = {
        {{2.0, 2.0, 2.0, 2.0}, -1.0, {-0.5, -0.5, -0.5, -0.5}},
        {{0.0, 2.0, 2.0, 2.0, 2.0}, -1.0, {0.0, -0.5, -0.5, -0.5, -0.5}},
        {{-2.0, 2.0, 2.0, 2.0}, 1.0, {-0.5, 0.5, 0.5, 0.5}},
    };
    for (const Case& c : cases) {
        const int m = static_cast<int>(c.a.size());
        Decomposition d(c.a, m, 1, m);
        d.run();
        EXPECT_EQ(d.w[0], 4.0);
        EXPECT_EQ(d.V(1, 1), c.v);
        for (int i = 1; i <= m; ++i) EXPECT_EQ(d.U(i, 1), c.u[static_cast<std::size_t>(i - 1)]);
    }
}

TEST(Svdcmp, NonConvergenceIsNotifiedAndDecompositionReturns) {
    std::vector<double> a = random_matrix(3, 5, 11);
    a[4] = kNaN;  // comparisons with NaN fail, so no split test ever succeeds
    Decomposition d(a, 3, 5, 3);
    d.run();
    ASSERT_FALSE(d.notices.empty());
    EXPECT_LE(d.notices.size(), 5u);  // at most one notice per singular value
    for (const std::string& text : d.notices) EXPECT_EQ(text, "no convergence in svdcmp");

    Decomposition silent(a, 3, 5, 3);  // an empty Notify discards the notice
    svdcmp(MatrixRef{silent.u.data(), 3}, 3, 5, VectorRef{silent.w.data()},
           MatrixRef{silent.v.data(), silent.ldv}, Notify{});
    for (int j = 1; j <= 5; ++j) EXPECT_TRUE(std::isnan(silent.V(6, j)));

    // Scaled down until the products in the shift fall into the subnormal range: the shift loses
    // its digits and the zero singular value of this 2 x 3 matrix converges only linearly, on the
    // 30th sweep, the last one allowed. That is convergence: no notice, and w to the bit.
    std::vector<double> tiny = {-1.0, 0.0, -4.0, 2.0, 8.0, -3.0};
    for (double& value : tiny) value = std::ldexp(value, -536);
    Decomposition slow(tiny, 2, 3, 2);
    slow.run();
    EXPECT_TRUE(slow.notices.empty());
    EXPECT_EQ(slow.w, (std::vector<double>{0x1.35bd8306e363ap-533, 0x1.1092baf810f54p-588,
                                           0x1.1cda71afc81a9p-537}));
}

TEST(Svdcmp, TooManyColumnsLeaveArraysUntouched) {
    constexpr int n = kSvdMaxColumns + 1;
    std::vector<double> a(n, 7.0);
    std::vector<double> w(n, 3.0);
    std::vector<double> v(4, 5.0);  // never reached: the call returns before using V
    EXPECT_DEBUG_DEATH(
        svdcmp(MatrixRef{a.data(), 1}, 1, n, VectorRef{w.data()}, MatrixRef{v.data(), n}, Notify{}),
        "");
    EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](double x) { return x == 7.0; }));
    EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](double x) { return x == 3.0; }));
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](double x) { return x == 5.0; }));
}

TEST(Svdcmp, ConcurrentCallsMatchSequentialResults) {
    constexpr int kThreads = 4;
    std::vector<Decomposition> sequential, concurrent;
    for (int t = 0; t < kThreads; ++t) {
        const int m = 5 + t;
        const int n = 40 - 3 * t;
        sequential.emplace_back(random_matrix(m, n, 100u + static_cast<unsigned>(t)), m, n, m);
        concurrent.push_back(sequential.back());
        sequential.back().run();
    }
    std::vector<std::thread> threads;
    for (Decomposition& d : concurrent) {
        threads.emplace_back([&d] {
            for (int repeat = 0; repeat < 20; ++repeat) {
                Decomposition copy = d;
                copy.run();
                if (repeat == 19) d = copy;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        const auto index = static_cast<std::size_t>(t);
        // Bit for bit, NaN padding included.
        EXPECT_EQ(std::memcmp(concurrent[index].u.data(), sequential[index].u.data(),
                              sequential[index].u.size() * sizeof(double)),
                  0);
        EXPECT_EQ(std::memcmp(concurrent[index].v.data(), sequential[index].v.data(),
                              sequential[index].v.size() * sizeof(double)),
                  0);
        EXPECT_EQ(concurrent[index].w, sequential[index].w);
    }
}

TEST(Hypotenuse, DoesNotOverflowOrUnderflow) {
    EXPECT_NEAR(hypotenuse(1e300, 1e300), std::sqrt(2.0) * 1e300, 1e-15 * 1e300);
    EXPECT_NEAR(hypotenuse(-1e300, 2e300), std::sqrt(5.0) * 1e300, 1e-15 * 1e300);
    EXPECT_NEAR(hypotenuse(3e-300, 4e-300), 5e-300, 1e-15 * 5e-300);
}

TEST(Hypotenuse, ExactOnZeroAndPythagoreanPairs) {
    EXPECT_EQ(hypotenuse(0.0, 0.0), 0.0);
    EXPECT_EQ(hypotenuse(-0.0, 0.0), 0.0);
    EXPECT_EQ(hypotenuse(0.0, -2.5), 2.5);
    EXPECT_EQ(hypotenuse(3.0, 4.0), 5.0);
    EXPECT_EQ(hypotenuse(4.0, 3.0), 5.0);
    EXPECT_EQ(hypotenuse(-3.0, -4.0), 5.0);
}

}  // namespace
}  // namespace netrevia::numeric
