#include "selection/select_network.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "numeric/l1_equality.h"
#include "numeric/lad_solve.h"
#include "numeric/matrix_ref.h"
#include "numeric/parallel_for.h"
#include "selection/weighted_median.h"

namespace netrevia::selection {

namespace {

using numeric::ConstMatrixRef;
using numeric::MatrixRef;

constexpr double kObjectiveChange = 1.0e-6;    // absolute, not relative
constexpr double kInitialPrevious = 100000.0;  // previous objective before the first iteration

using numeric::parallel_for;  // the tasks of this loop write to disjoint places

// The selection's own stores, created once per run.
struct Stores {
    int n = 0;
    int K = 0;
    std::vector<double> solutions;    // K x n x n: J_k, the current member of family k
    std::vector<double> corrections;  // K x n x n: row i of slice k = latest fit of gene i
    std::vector<double> J;            // n x n consensus
    std::vector<double> R;            // n x n result

    std::size_t slice(int k) const {
        return static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(n) *
               static_cast<std::size_t>(n);
    }
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
                F += (lambda * std::abs(J(i, j)) +
                      w[static_cast<std::size_t>(k - 1)] * std::abs(J(i, j) - J_k(i, j))) /
                     scale;
            }
        }
    }
    return F;
}

// Work storage of one projection fit, reused from fit to fit without clearing: each fit writes
// b and the coefficient columns of T, and the solver writes every other entry it reads (the
// cost, label, basic-value and row-label entries of T, x, r, ws) before reading it, so what an
// earlier fit left there cannot reach the result.
struct FitStorage {
    std::vector<double> T, b, x, r;
    std::vector<int> ws;
    FitStorage(int n, int z)
        : T(static_cast<std::size_t>(n + 2) * static_cast<std::size_t>(z + 2)),
          b(static_cast<std::size_t>(n)),
          x(static_cast<std::size_t>(z)),
          r(static_cast<std::size_t>(n)),
          ws(static_cast<std::size_t>(n)) {}
};

// The least-absolute-deviation fit of row i of dataset k: the coefficients x (in fit.x) of the
// free directions B_k(:, 1..z) that minimise sum_t |J(i,t) - J_k(i,t) - sum_l B_k(t,l) x(l)|,
// by the L1 solver with tolerance 0.
void fit_row(Stores& s, ConstMatrixRef B_k, int k, int z, int i, FitStorage& fit) {
    const int n = s.n;
    const MatrixRef J = s.consensus();
    const MatrixRef J_k = s.solution(k);
    const MatrixRef T{fit.T.data(), n + 2};
    for (int t = 1; t <= n; ++t) fit.b[static_cast<std::size_t>(t - 1)] = J(i, t) - J_k(i, t);
    for (int l = 1; l <= z; ++l) {
        for (int t = 1; t <= n; ++t) T(t, l) = B_k(t, l);
    }
    numeric::lad_fit(n, z, T, {fit.b.data()}, 0.0f, {fit.x.data()}, {fit.r.data()},
                     {fit.ws.data()});
}

// J_k(i, j) += s_j for j = 1..n, with s_j = sum_{l=1..z} x(l) B_k(j, l) summed in l order from
// +0. The sums of all j are built side by side, column l of B_k (contiguous) at a time, so the
// inner loop runs across j and vectorises while every s_j still receives its terms in l order:
// the same bits as summing one j at a time. sums holds n entries of scratch.
void add_move(
    MatrixRef J_k, ConstMatrixRef B_k, int n, int z, int i, const double* x, double* sums) {
    std::fill(sums, sums + n, 0.0);
    for (int l = 1; l <= z; ++l) {
        const double coefficient = x[l - 1];
        const double* column = B_k.column(l);
        for (int j = 0; j < n; ++j) sums[j] += coefficient * column[j];
    }
    for (int j = 1; j <= n; ++j) J_k(i, j) = J_k(i, j) + sums[j - 1];
}

// Projection of row i of dataset k onto its family (exact engine): writes the fit's x into row
// i of the correction slice (zeros beyond z).
void project_row(Stores& s, ConstMatrixRef B_k, int k, int z, int i, FitStorage& fit) {
    fit_row(s, B_k, k, z, i, fit);
    const MatrixRef correction = s.correction(k);
    for (int t = 1; t <= z; ++t) correction(i, t) = fit.x[static_cast<std::size_t>(t - 1)];
    for (int t = z + 1; t <= s.n; ++t) correction(i, t) = 0.0;
}

// Fast engine: the constraint rows of the fits of one dataset, A = M^T = B_k(:, z+1..n)^T
// (p x n, p = n - z, the column of gene t contiguous), and for every gene i the signed basis
// labels its latest fit ended with (column i of bases, p x n), the start of its next fit.
struct FastDataset {
    int p = 0;
    std::vector<double> A;
    std::vector<int> bases;
    std::vector<int> start;  // the complete-pivoting start basis of A, shared by all genes

    FastDataset(ConstMatrixRef B_k, int n, int z)
        : p(n - z),
          A(static_cast<std::size_t>(n - z) * static_cast<std::size_t>(n)),
          bases(static_cast<std::size_t>(n - z) * static_cast<std::size_t>(n)),
          start(static_cast<std::size_t>(n - z)) {
        if (p == 0) return;
        const MatrixRef A_ref{A.data(), p};
        for (int t = 1; t <= n; ++t) {
            for (int q = 1; q <= p; ++q) A_ref(q, t) = B_k(t, z + q);
        }
        numeric::L1EqualityWork work;
        numeric::l1_equality_start_basis(ConstMatrixRef{A.data(), p}, p, n, {start.data()}, work);
        for (int i = 1; i <= n; ++i) reset(i);
    }
    numeric::IntVectorRef basis(int i) { return {bases.data() + std::ptrdiff_t{i - 1} * p}; }
    void reset(int i) { std::copy(start.begin(), start.end(), basis(i).data); }
};

// Work storage of the fast fits on one thread.
struct FastFitStorage {
    numeric::L1EqualityWork work;
    std::vector<double> b, c, r;
    std::unique_ptr<FitStorage> exact;  // for the fallback, made when first needed
    int exact_z = -1;
    explicit FastFitStorage(int n)
        : b(static_cast<std::size_t>(n)),
          c(static_cast<std::size_t>(n)),
          r(static_cast<std::size_t>(n)) {}
};

// Projection of row i of dataset k (fast engine): b = J(i,:) - J_k(i,:), r* minimises ||r||_1
// subject to M^T r = M^T b, and the new row is J(i,:) - r* = J_k(i,:) + (b - r*), where
// b - r* = N x is the optimal move along the free directions. With z = n there is no
// constraint and the row becomes J(i,:).
// Should the solver stop at its iteration limit (never seen in practice), this row is fitted
// by lad_solve instead, as the exact engine does, and its next fit starts afresh.
void project_row_fast(
    Stores& s, ConstMatrixRef B_k, FastDataset& fd, int k, int z, int i, FastFitStorage& fit) {
    const int n = s.n;
    const int p = fd.p;
    const MatrixRef J = s.consensus();
    const MatrixRef J_k = s.solution(k);
    const numeric::VectorRef b{fit.b.data()};
    const numeric::VectorRef c{fit.c.data()};
    const numeric::VectorRef r{fit.r.data()};
    for (int t = 1; t <= n; ++t) b(t) = J(i, t) - J_k(i, t);
    const ConstMatrixRef A{fd.A.data(), std::max(p, 1)};
    for (int q = 1; q <= p; ++q) {
        double sum = 0.0;
        for (int t = 1; t <= n; ++t) sum += A(q, t) * b(t);
        c(q) = sum;
    }
    const numeric::L1EqualityOutcome outcome =
        numeric::l1_equality_solve(A, p, n, {fit.c.data()}, r, fd.basis(i), fit.work);
    if (outcome.status == numeric::L1EqualityStatus::kIterationLimit) {
        if (fit.exact_z != z) {
            fit.exact.reset();
            fit.exact = std::make_unique<FitStorage>(n, z);
            fit.exact_z = z;
        }
        fit_row(s, B_k, k, z, i, *fit.exact);
        std::vector<double> sums(static_cast<std::size_t>(n));
        add_move(J_k, B_k, n, z, i, fit.exact->x.data(), sums.data());
        fd.reset(i);
        return;
    }
    for (int t = 1; t <= n; ++t) J_k(i, t) = J(i, t) - r(t);
}

// Row i of dataset k: J_k(i,j) += s with s = sum_{l=1..n} correction(k,i,l) B_k(j,l), l
// ascending from s = 0. The coefficients beyond z_k are exactly zero and s starts at +0, so
// those terms cannot change s: the sum stops at z_k, bit for bit the same. A dataset with
// z_k = 0 is left as it is.
// scratch: the caller's 2 n entries, the sums then the row's coefficients.
void update_row(Stores& s, ConstMatrixRef B_k, int k, int z, int i, std::vector<double>& scratch) {
    if (z == 0) return;
    const std::size_t n = static_cast<std::size_t>(s.n);
    scratch.resize(2 * n);
    double* x = scratch.data() + n;
    const MatrixRef correction = s.correction(k);
    for (int l = 1; l <= z; ++l) x[l - 1] = correction(i, l);
    add_move(s.solution(k), B_k, s.n, z, i, x, scratch.data());
}

// Column j of the consensus, entry by entry: the weighted median of the K dataset values
// (weights w_k) and the zero candidate (weight K lambda), over the candidates sorted ascending by
// repeated selection of the maximum (the first of equal maxima moves to the end).
void median_column(Stores& s, const std::array<double, kMaxDatasets>& w, double lambda, int j) {
    const int N = s.K + 1;
    std::array<double, kMaxDatasets + 1> v{};
    std::array<double, kMaxDatasets + 1> c{};
    const auto at = [](int index) { return static_cast<std::size_t>(index - 1); };
    const MatrixRef J = s.consensus();
    for (int i = 1; i <= s.n; ++i) {
        for (int k = 1; k <= s.K; ++k) {
            v[at(k)] = s.solution(k)(i, j);
            c[at(k)] = w[at(k)];
        }
        v[at(N)] = 0.0;
        c[at(N)] = static_cast<double>(s.K) * lambda;
        for (int p = N; p >= 1; --p) {
            // The search starts from minus infinity; should no candidate exceed it (NaN), position
            // p stays where it is.
            int q = p;
            double largest = -std::numeric_limits<double>::infinity();
            for (int idx = 1; idx <= p; ++idx) {
                if (v[at(idx)] > largest) {
                    largest = v[at(idx)];
                    q = idx;
                }
            }
            std::swap(v[at(p)], v[at(q)]);
            std::swap(c[at(p)], c[at(q)]);
        }
        double x_star = 0.0;
        double f_star = 0.0;
        weighted_median(N, x_star, f_star, {c.data()}, {v.data()});
        J(i, j) = x_star;
    }
}

}  // namespace

SelectionResult select_network(const SelectionInput& input, const Observer& observer) {
    const int n = input.n;
    const int K = input.K;
    const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);

    // Dataset weights: each dataset's share of all time points.
    std::array<double, kMaxDatasets> w{};
    for (std::size_t s = 0; s < kMaxDatasets; ++s) {
        w[s] = input.time_point_counts[s] / input.total_time_points;
    }

    Stores s;
    s.n = n;
    s.K = K;
    s.solutions.assign(input.particular_store->begin(),
                       input.particular_store->begin() +
                           static_cast<std::ptrdiff_t>(static_cast<std::size_t>(K) * nn));
    const bool fast = input.engine == Engine::kFast;
    if (!fast)
        s.corrections.assign(static_cast<std::size_t>(K) * nn,
                             0.0);  // the fast engine keeps no coefficients
    s.J.assign(nn, 0.0);
    s.R.assign(nn, 0.0);

    auto basis = [&](int k) { return ConstMatrixRef{input.basis_store->data() + s.slice(k), n}; };
    auto zeros = [&](int k) { return input.zero_counts[static_cast<std::size_t>(k - 1)]; };

    const int threads = input.threads > 0
                            ? input.threads
                            : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));

    // Fast engine: the constraint rows and start bases of every dataset with free directions.
    std::vector<std::unique_ptr<FastDataset>> fast_datasets(static_cast<std::size_t>(K));
    if (fast) {
        for (int k = 1; k <= K; ++k) {
            if (zeros(k) > 0) {
                fast_datasets[static_cast<std::size_t>(k - 1)] =
                    std::make_unique<FastDataset>(basis(k), n, zeros(k));
            }
        }
    }

    // A cancelled run skips its remaining fits (one fit is the longest wait) and leaves the
    // loop at the next step boundary; its partial result is marked, never returned as done.
    const auto cancelled = [&input] {
        return input.cancel != nullptr && input.cancel->load(std::memory_order_relaxed);
    };

    double F = objective(s, w, input.lambda);
    double previous = kInitialPrevious;
    int iteration = 0;

    while (true) {
        // A NaN difference is not greater than the bound either, and also ends the loop.
        if (iteration >= kMaxIterations || !(std::abs(previous - F) > kObjectiveChange)) break;
        if (cancelled()) return SelectionResult{std::move(s.R), {}, iteration, F, true};
        ++iteration;
        previous = F;
        s.R = s.J;

        // Projection step: every row of every dataset with free directions, as independent
        // fits (tasks ordered by dataset, then gene); then, for the exact engine, the update of
        // every dataset row (the fast engine writes the new rows in its fits).
        std::vector<int> fitted;  // datasets with free directions
        for (int k = 1; k <= K; ++k) {
            if (zeros(k) > 0) fitted.push_back(k);
        }
        if (fast) {
            parallel_for(static_cast<int>(fitted.size()) * n, threads, [&] {
                return [&, fit = FastFitStorage(n)](int task) mutable {
                    if (cancelled()) return;
                    const int k = fitted[static_cast<std::size_t>(task / n)];
                    project_row_fast(s, basis(k), *fast_datasets[static_cast<std::size_t>(k - 1)],
                                     k, zeros(k), task % n + 1, fit);
                };
            });
        } else {
            parallel_for(static_cast<int>(fitted.size()) * n, threads, [&] {
                // One fit storage per thread, replaced when its tasks move on to the next
                // dataset.
                return [&, fit = std::unique_ptr<FitStorage>(), fit_k = 0](int task) mutable {
                    if (cancelled()) return;
                    const int k = fitted[static_cast<std::size_t>(task / n)];
                    const int i = task % n + 1;
                    if (fit_k != k) {
                        fit.reset();
                        fit = std::make_unique<FitStorage>(n, zeros(k));
                        fit_k = k;
                    }
                    project_row(s, basis(k), k, zeros(k), i, *fit);
                };
            });
            parallel_for(K * n, threads, [&] {
                return [&, scratch = std::vector<double>()](int task) mutable {
                    const int k = task / n + 1;
                    update_row(s, basis(k), k, zeros(k), task % n + 1, scratch);
                };
            });
        }

        if (cancelled()) return SelectionResult{std::move(s.R), {}, iteration, F, true};

        if (K == 1) {
            // One dataset: the projection towards the zero consensus is the answer. F is
            // evaluated for the report only.
            s.R.assign(s.solutions.begin(), s.solutions.begin() + static_cast<std::ptrdiff_t>(nn));
            F = objective(s, w, input.lambda);
            if (observer) observer(iteration, F);
            break;
        }

        parallel_for(n, threads, [&] {
            return [&](int task) { median_column(s, w, input.lambda, task + 1); };
        });
        F = objective(s, w, input.lambda);
        if (observer) observer(iteration, F);
    }

    return SelectionResult{std::move(s.R), std::move(s.solutions), iteration, F, false};
}

}  // namespace netrevia::selection
