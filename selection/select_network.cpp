#include "selection/select_network.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "numeric/lad_solve.h"
#include "numeric/matrix_ref.h"
#include "selection/weighted_median.h"

namespace netrevia::selection {

namespace {

using numeric::ConstMatrixRef;
using numeric::MatrixRef;

constexpr int kMaxIterations = 100;
constexpr double kObjectiveChange = 1.0e-6;    // absolute, not relative
constexpr double kInitialPrevious = 100000.0;  // previous objective before the first iteration

// The selection's own stores, created once per run.
struct Stores {
    int n = 0;
    int K = 0;
    std::vector<double> solutions;    // K x n x n: J_k, the current member of family k
    std::vector<double> corrections;  // K x n x n: row i of slice k = latest fit of gene i
    std::vector<double> J;            // n x n consensus
    std::vector<double> R;            // n x n result

    std::size_t slice(int k) const { return static_cast<std::size_t>(k - 1) * n * n; }
    MatrixRef solution(int k) { return {solutions.data() + slice(k), n}; }
    MatrixRef correction(int k) { return {corrections.data() + slice(k), n}; }
    MatrixRef consensus() { return {J.data(), n}; }
};

// F = sum over k, then i, then j of (lambda |J(i,j)| + w_k |J(i,j) - J_k(i,j)|) / (n n K), each
// term divided before it is added, in plain double, so the value is the same on every platform.
double objective(Stores& s, const std::array<double, kMaxDatasets>& w, double lambda) {
    const double scale = static_cast<double>(s.n * s.n * s.K);
    const MatrixRef J = s.consensus();
    double F = 0.0;
    for (int k = 1; k <= s.K; ++k) {
        const MatrixRef J_k = s.solution(k);
        for (int i = 1; i <= s.n; ++i) {
            for (int j = 1; j <= s.n; ++j) {
                F +=
                    (lambda * std::abs(J(i, j)) + w[k - 1] * std::abs(J(i, j) - J_k(i, j))) / scale;
            }
        }
    }
    return F;
}

// Work storage of one projection fit, zero-filled for every fit as the solver expects.
struct FitStorage {
    std::vector<double> T, b, x, r;
    std::vector<int> ws;
    FitStorage(int n, int z)
        : T(static_cast<std::size_t>(n + 2) * (z + 2)), b(n), x(z), r(n), ws(n) {}
    void clear() {
        std::fill(T.begin(), T.end(), 0.0);
        std::fill(b.begin(), b.end(), 0.0);
        std::fill(x.begin(), x.end(), 0.0);
        std::fill(r.begin(), r.end(), 0.0);
        std::fill(ws.begin(), ws.end(), 0);
    }
};

// Projection of row i of dataset k onto its family: the coefficients x of the free directions
// B_k(:, 1..z) that minimise sum_t |J(i,t) - J_k(i,t) - sum_l B_k(t,l) x(l)|, by the L1 solver
// with tolerance 0. Writes x into row i of the correction slice (zeros beyond z).
void project_row(Stores& s, ConstMatrixRef B_k, int k, int z, int i, FitStorage& fit) {
    const int n = s.n;
    fit.clear();
    const MatrixRef J = s.consensus();
    const MatrixRef J_k = s.solution(k);
    const MatrixRef T{fit.T.data(), n + 2};
    for (int t = 1; t <= n; ++t) fit.b[static_cast<std::size_t>(t - 1)] = J(i, t) - J_k(i, t);
    for (int l = 1; l <= z; ++l) {
        for (int t = 1; t <= n; ++t) T(t, l) = B_k(t, l);
    }
    numeric::lad_solve(n, z, n + 2, z + 2, T, {fit.b.data()}, 0.0f, {fit.x.data()}, {fit.r.data()},
                       {fit.ws.data()});
    const MatrixRef correction = s.correction(k);
    for (int t = 1; t <= z; ++t) correction(i, t) = fit.x[static_cast<std::size_t>(t - 1)];
    for (int t = z + 1; t <= n; ++t) correction(i, t) = 0.0;
}

// J_k(i,j) += s with s = sum_{l=1..n} correction(k,i,l) B_k(j,l), l ascending from s = 0.
// The coefficients beyond z_k are exactly zero and s starts at +0, so those terms cannot change
// s: the sum stops at z_k, bit for bit the same. A dataset with z_k = 0 is left as it is.
void update_solution(Stores& s, ConstMatrixRef B_k, int k, int z) {
    const MatrixRef J_k = s.solution(k);
    const MatrixRef correction = s.correction(k);
    for (int i = 1; i <= s.n; ++i) {
        for (int j = 1; j <= s.n; ++j) {
            double sum = 0.0;
            for (int l = 1; l <= z; ++l) sum += correction(i, l) * B_k(j, l);
            J_k(i, j) = J_k(i, j) + sum;
        }
    }
}

// Consensus entry by entry: the weighted median of the K dataset values (weights w_k) and the
// zero candidate (weight K lambda), over the candidates sorted ascending by repeated selection
// of the maximum (the first of equal maxima moves to the end).
void median_step(Stores& s, const std::array<double, kMaxDatasets>& w, double lambda) {
    const int N = s.K + 1;
    std::array<double, kMaxDatasets + 1> v{};
    std::array<double, kMaxDatasets + 1> c{};
    const MatrixRef J = s.consensus();
    for (int i = 1; i <= s.n; ++i) {
        for (int j = 1; j <= s.n; ++j) {
            for (int k = 1; k <= s.K; ++k) {
                v[static_cast<std::size_t>(k - 1)] = s.solution(k)(i, j);
                c[static_cast<std::size_t>(k - 1)] = w[static_cast<std::size_t>(k - 1)];
            }
            v[static_cast<std::size_t>(N - 1)] = 0.0;
            c[static_cast<std::size_t>(N - 1)] = static_cast<double>(s.K) * lambda;
            for (int p = N; p >= 1; --p) {
                // A candidate that is not above minus infinity (never a finite value) leaves
                // position p in place.
                int q = p;
                double largest = -std::numeric_limits<double>::infinity();
                for (int idx = 1; idx <= p; ++idx) {
                    if (v[static_cast<std::size_t>(idx - 1)] > largest) {
                        largest = v[static_cast<std::size_t>(idx - 1)];
                        q = idx;
                    }
                }
                std::swap(v[static_cast<std::size_t>(p - 1)], v[static_cast<std::size_t>(q - 1)]);
                std::swap(c[static_cast<std::size_t>(p - 1)], c[static_cast<std::size_t>(q - 1)]);
            }
            double x_star = 0.0;
            double f_star = 0.0;
            weighted_median(N, x_star, f_star, {c.data()}, {v.data()});
            J(i, j) = x_star;
        }
    }
}

}  // namespace

SelectionResult select_network(const SelectionInput& input, const Observer& observer) {
    const int n = input.n;
    const int K = input.K;
    const std::size_t nn = static_cast<std::size_t>(n) * n;

    // Dataset weights: each dataset's share of all time points.
    std::array<double, kMaxDatasets> w{};
    for (std::size_t s = 0; s < kMaxDatasets; ++s) {
        w[s] = input.time_point_counts[s] / input.total_time_points;
    }

    Stores s;
    s.n = n;
    s.K = K;
    s.solutions.assign(input.particular_store->begin(),
                       input.particular_store->begin() + static_cast<std::ptrdiff_t>(K * nn));
    s.corrections.assign(K * nn, 0.0);
    s.J.assign(nn, 0.0);
    s.R.assign(nn, 0.0);

    auto basis = [&](int k) { return ConstMatrixRef{input.basis_store->data() + s.slice(k), n}; };
    auto zeros = [&](int k) { return input.zero_counts[static_cast<std::size_t>(k - 1)]; };

    double F = objective(s, w, input.lambda);
    double previous = kInitialPrevious;
    int iteration = 0;

    while (true) {
        // A NaN difference is not greater than the bound either, and also ends the loop.
        if (iteration >= kMaxIterations || !(std::abs(previous - F) > kObjectiveChange)) break;
        ++iteration;
        previous = F;
        s.R = s.J;

        // Projection step: every row of every dataset with free directions.
        for (int k = 1; k <= K; ++k) {
            const int z = zeros(k);
            if (z == 0) continue;
            FitStorage fit(n, z);
            for (int i = 1; i <= n; ++i) project_row(s, basis(k), k, z, i, fit);
        }
        for (int k = 1; k <= K; ++k) update_solution(s, basis(k), k, zeros(k));

        if (K == 1) {
            // One dataset: the projection towards the zero consensus is the answer. F is
            // evaluated for the report only.
            s.R.assign(s.solutions.begin(), s.solutions.begin() + static_cast<std::ptrdiff_t>(nn));
            F = objective(s, w, input.lambda);
            if (observer) observer(iteration, F);
            break;
        }

        median_step(s, w, input.lambda);
        F = objective(s, w, input.lambda);
        if (observer) observer(iteration, F);
    }

    return SelectionResult{std::move(s.R), std::move(s.solutions), iteration, F};
}

}  // namespace netrevia::selection
