#include "ensemble/ensemble.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/QR>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <random>
#include <utility>

#include "numeric/matrix_ref.h"
#include "numeric/parallel_for.h"

namespace netrevia::ensemble {

namespace {

using numeric::ConstMatrixRef;
using numeric::MatrixRef;

constexpr int kMaxUnknowns = kMaxSubsetSize + 1;  // m levels and the intercept
using Gram = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, kMaxUnknowns, kMaxUnknowns>;
using Column = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kMaxUnknowns, 1>;

// Below this reciprocal condition number (1-norm estimate) the Gram matrix is treated as
// singular: a Cholesky solve would amplify rounding into huge |J| that outrank every true
// edge. Such runs (a gene without spread, two genes moving together) get the minimum-norm
// least-squares solution instead.
constexpr double kMinReciprocalCondition = 1.0e-12;

// Runs fitted in parallel before their results are summed in run order; bounds the slots.
constexpr int kBlockRuns = 256;

// A gene changes usably when the levels at the starts of the intervals (its column in every
// fit) spread by more than this share of their mean: sd > kMinRelativeSpread |mean|. At or
// below it, the Gram matrix of the scaled column and the intercept alone has a condition number
// of about (|mean| / sd)^4 >= 1e12 = 1 / kMinReciprocalCondition, and by eigenvalue interlacing
// the Gram matrix of every run holding the gene is at least as ill-conditioned: its fits are
// decided by rounding, not by the data (a constant gene took the intercept's weight and ranked
// first as a regulator of every gene). On structureless data the scores of such a gene left
// their chance level from a spread of 5.5e-4 of the mean down; above it they did not move.
constexpr double kMinRelativeSpread = 1.0e-3;

// The pooled intervals of all courses, after scaling, for the genes that enter the fits: level
// X(r, c) at the start of interval r and rate D(r, c) over it for the gene genes[c - 1], N x
// genes.size() column-major each.
struct Design {
    int N = 0;
    std::vector<double> X;
    std::vector<double> D;
};

// The genes (1-based, ascending) whose levels at the starts of the intervals change usably
// (kMinRelativeSpread); NaN spreads count as no change.
std::vector<int> changing_genes(const Input& input) {
    long long N = 0;
    for (const Course& c : input.courses) N += c.T - 1;
    std::vector<int> genes;
    for (int g = 1; g <= input.n; ++g) {
        double sum = 0.0;
        for (const Course& c : input.courses) {
            const ConstMatrixRef Y{c.levels.data(), c.T};
            for (int j = 1; j < c.T; ++j) sum += Y(j, g);
        }
        const double mean = sum / static_cast<double>(N);
        double squares = 0.0;
        for (const Course& c : input.courses) {
            const ConstMatrixRef Y{c.levels.data(), c.T};
            for (int j = 1; j < c.T; ++j) squares += (Y(j, g) - mean) * (Y(j, g) - mean);
        }
        const double sd = std::sqrt(squares / static_cast<double>(N));
        if (sd > kMinRelativeSpread * std::abs(mean)) genes.push_back(g);
    }
    return genes;
}

Design build_design(const Input& input, const std::vector<int>& genes) {
    const int n = static_cast<int>(genes.size());
    Design d;
    long long points = 0;
    for (const Course& c : input.courses) {
        points += c.T;
        d.N += c.T - 1;
    }
    // Population standard deviation of each gene over every time point of every course; a
    // common factor on all genes cancels in the ranks, so the divisor P (not P - 1) is moot.
    std::vector<double> scale(static_cast<std::size_t>(n), 1.0);
    for (int col = 1; col <= n; ++col) {
        const int g = genes[static_cast<std::size_t>(col - 1)];
        double sum = 0.0;
        for (const Course& c : input.courses) {
            const ConstMatrixRef Y{c.levels.data(), c.T};
            for (int j = 1; j <= c.T; ++j) sum += Y(j, g);
        }
        const double mean = sum / static_cast<double>(points);
        double squares = 0.0;
        for (const Course& c : input.courses) {
            const ConstMatrixRef Y{c.levels.data(), c.T};
            for (int j = 1; j <= c.T; ++j) squares += (Y(j, g) - mean) * (Y(j, g) - mean);
        }
        const double s = std::sqrt(squares / static_cast<double>(points));
        if (s > 0.0) scale[static_cast<std::size_t>(col - 1)] = s;
    }

    const std::size_t size = static_cast<std::size_t>(d.N) * static_cast<std::size_t>(n);
    d.X.assign(size, 0.0);
    d.D.assign(size, 0.0);
    const MatrixRef X{d.X.data(), std::max(d.N, 1)};
    const MatrixRef D{d.D.data(), std::max(d.N, 1)};
    for (int col = 1; col <= n; ++col) {
        const int g = genes[static_cast<std::size_t>(col - 1)];
        const double s = scale[static_cast<std::size_t>(col - 1)];
        int r = 0;
        for (const Course& c : input.courses) {
            const ConstMatrixRef Y{c.levels.data(), c.T};
            for (int j = 1; j < c.T; ++j) {
                ++r;
                const double h =
                    c.t[static_cast<std::size_t>(j)] - c.t[static_cast<std::size_t>(j - 1)];
                X(r, col) = Y(j, g) / s;
                D(r, col) = (Y(j + 1, g) / s - Y(j, g) / s) / h;
            }
        }
    }
    return d;
}

// Work storage of the fits on one thread.
struct FitWork {
    Gram G;
    Gram C;  // right-hand sides: column i = X_S^T (rates of target i), intercept row last
    Column b;
    Eigen::LDLT<Gram> cholesky;
    Eigen::CompleteOrthogonalDecomposition<Gram> orthogonal;
    std::vector<std::pair<double, int>> order;  // (|J|, entry) of the off-diagonal entries
};

// One run on the genes S(1..m): J(a, b) (subset positions, m x m column-major, diagonal 0)
// and twice the rank of each off-diagonal |J(a, b)| among the m(m-1), from 0 for the smallest;
// a tied group shares the mean of its ranks, so twice it is a whole number.
void fit_run(const Design& d,
             const int* S,
             int m,
             FitWork& w,
             MatrixRef J,
             numeric::ColMajorRef<int> rank2) {
    const ConstMatrixRef X{d.X.data(), d.N};
    const ConstMatrixRef D{d.D.data(), d.N};
    const int u = m + 1;  // unknowns: m levels, then the intercept

    // Gram matrix [X_S 1]^T [X_S 1] and right-hand sides, summed over r in a fixed order.
    w.G.resize(u, u);
    w.C.resize(u, m);
    for (int a = 1; a <= m; ++a) {
        const double* xa = X.column(S[a - 1]);
        for (int b = a; b <= m; ++b) {
            const double* xb = X.column(S[b - 1]);
            double sum = 0.0;
            for (int r = 0; r < d.N; ++r) sum += xa[r] * xb[r];
            w.G(a - 1, b - 1) = sum;
            w.G(b - 1, a - 1) = sum;
        }
        double sum = 0.0;
        for (int r = 0; r < d.N; ++r) sum += xa[r];
        w.G(a - 1, m) = sum;
        w.G(m, a - 1) = sum;
        for (int i = 1; i <= m; ++i) {
            const double* rates = D.column(S[i - 1]);
            double dot = 0.0;
            for (int r = 0; r < d.N; ++r) dot += xa[r] * rates[r];
            w.C(a - 1, i - 1) = dot;
        }
    }
    w.G(m, m) = static_cast<double>(d.N);
    for (int i = 1; i <= m; ++i) {
        const double* rates = D.column(S[i - 1]);
        double sum = 0.0;
        for (int r = 0; r < d.N; ++r) sum += rates[r];
        w.C(m, i - 1) = sum;
    }

    // One factorisation for all m targets; each target is solved as its own vector so that
    // no blocked (cache-size dependent) kernel decides the order of the sums.
    w.cholesky.compute(w.G);
    const bool regular = w.cholesky.info() == Eigen::Success && w.cholesky.isPositive() &&
                         w.cholesky.rcond() > kMinReciprocalCondition;
    if (!regular) w.orthogonal.compute(w.G);
    for (int i = 1; i <= m; ++i) {
        w.b = regular ? Column(w.cholesky.solve(w.C.col(i - 1)))
                      : Column(w.orthogonal.solve(w.C.col(i - 1)));
        for (int a = 1; a <= m; ++a) J(i, a) = a == i ? 0.0 : w.b(a - 1);
    }

    // Ranks of |J| over the off-diagonal entries; NaN ranks lowest. Sorting by (|J|, entry)
    // fixes the order inside a tie, and the tie's mean rank makes that order irrelevant.
    w.order.clear();
    for (int a = 1; a <= m; ++a) {
        for (int i = 1; i <= m; ++i) {
            if (i == a) continue;
            const double magnitude = std::abs(J(i, a));
            w.order.emplace_back(std::isnan(magnitude) ? -1.0 : magnitude, (i - 1) + (a - 1) * m);
        }
    }
    std::sort(w.order.begin(), w.order.end());
    const int P = static_cast<int>(w.order.size());
    for (int p = 0; p < P;) {
        int q = p;
        while (q + 1 < P && w.order[static_cast<std::size_t>(q + 1)].first ==
                                w.order[static_cast<std::size_t>(p)].first) {
            ++q;
        }
        for (int e = p; e <= q; ++e)
            rank2.data[w.order[static_cast<std::size_t>(e)].second] = p + q;
        p = q + 1;
    }
}

}  // namespace

int subset_size(int n, long long intervals) {
    if (n < 2) return n;
    const long long m = std::min<long long>({kMaxSubsetSize, (2LL * n + 2) / 3, intervals - 2});
    return m < 2 ? 0 : static_cast<int>(m);
}

long long run_count(int n, int m) {
    if (m < 2 || m > n) return 0;
    const long long pairs = static_cast<long long>(n) * (n - 1) * kRunsPerPair;
    const long long per_run = static_cast<long long>(m) * (m - 1);
    return (pairs + per_run - 1) / per_run;
}

std::vector<int> draw_subsets(int n, int m, long long runs, std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    // A uniform whole number below k from the raw output: reject the top partial block.
    auto below = [&engine](std::uint64_t k) {
        const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() -
                                    std::numeric_limits<std::uint64_t>::max() % k;
        std::uint64_t x = engine();
        while (x >= limit) x = engine();
        return x % k;
    };
    std::vector<int> genes(static_cast<std::size_t>(n));
    std::iota(genes.begin(), genes.end(), 1);
    std::vector<int> subsets;
    subsets.reserve(static_cast<std::size_t>(runs) * static_cast<std::size_t>(m));
    for (long long run = 0; run < runs; ++run) {
        // Partial Fisher-Yates on the permutation left by the previous run: position a takes a
        // uniform pick among positions a..n-1; the first m positions are the subset.
        for (int a = 0; a < m; ++a) {
            const auto pick = static_cast<std::size_t>(a) +
                              static_cast<std::size_t>(below(static_cast<std::uint64_t>(n - a)));
            std::swap(genes[static_cast<std::size_t>(a)], genes[pick]);
        }
        subsets.insert(subsets.end(), genes.begin(), genes.begin() + m);
        std::sort(subsets.end() - m, subsets.end());
    }
    return subsets;
}

Result infer(const Input& input) {
    const int n = input.n;
    Result result;
    result.R.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
    // Genes without usable change leave no trace: the fits, subsets and ranks are those of a
    // file without them, and their rows and columns of R stay 0.
    const std::vector<int> genes = changing_genes(input);
    for (int g = 1, next = 0; g <= n; ++g) {
        if (next < static_cast<int>(genes.size()) && genes[static_cast<std::size_t>(next)] == g) {
            ++next;
        } else {
            result.flat_genes.push_back(g);
        }
    }
    const int fitted = static_cast<int>(genes.size());
    const Design d = build_design(input, genes);
    result.m = subset_size(fitted, d.N);
    result.runs = run_count(fitted, result.m);
    const int m = result.m;
    if (result.runs == 0) return result;

    const std::vector<int> subsets = draw_subsets(fitted, m, result.runs, input.seed);
    const int threads = numeric::resolve_thread_count(input.threads);

    // Sums over the runs that hold the pair (i, j): twice the ranks (whole numbers, so their
    // sum is exact), the count of such runs, and J(i, j).
    const std::size_t cells = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    std::vector<long long> rank2_sum(cells, 0);
    std::vector<int> count(cells, 0);
    std::vector<double> J_sum(cells, 0.0);

    const std::size_t slot = static_cast<std::size_t>(m) * static_cast<std::size_t>(m);
    std::vector<double> J_slots(slot * kBlockRuns, 0.0);
    std::vector<int> rank_slots(slot * kBlockRuns, 0);
    for (long long first = 0; first < result.runs; first += kBlockRuns) {
        const int block = static_cast<int>(std::min<long long>(kBlockRuns, result.runs - first));
        numeric::parallel_for(block, threads, [&] {
            return [&, work = FitWork{}](int task) mutable {
                const std::size_t at = slot * static_cast<std::size_t>(task);
                const int* S = subsets.data() +
                               static_cast<std::size_t>(first + task) * static_cast<std::size_t>(m);
                fit_run(d, S, m, work, MatrixRef{J_slots.data() + at, m},
                        numeric::ColMajorRef<int>{rank_slots.data() + at, m});
            };
        });
        // Run order, then the subset's columns and rows: the same sums for any thread count.
        for (int task = 0; task < block; ++task) {
            const std::size_t at = slot * static_cast<std::size_t>(task);
            const int* S = subsets.data() +
                           static_cast<std::size_t>(first + task) * static_cast<std::size_t>(m);
            const ConstMatrixRef J{J_slots.data() + at, m};
            const numeric::ColMajorRef<const int> rank2{rank_slots.data() + at, m};
            for (int a = 1; a <= m; ++a) {
                for (int i = 1; i <= m; ++i) {
                    if (i == a) continue;
                    const int target = genes[static_cast<std::size_t>(S[i - 1] - 1)];
                    const int regulator = genes[static_cast<std::size_t>(S[a - 1] - 1)];
                    const std::size_t cell =
                        static_cast<std::size_t>(target - 1) +
                        static_cast<std::size_t>(regulator - 1) * static_cast<std::size_t>(n);
                    rank2_sum[cell] += rank2(i, a);
                    ++count[cell];
                    J_sum[cell] += J(i, a);
                }
            }
        }
    }

    const double top_rank2 = 2.0 * static_cast<double>(m * (m - 1) - 1);
    for (std::size_t cell = 0; cell < cells; ++cell) {
        if (count[cell] == 0) continue;
        const double score =
            static_cast<double>(rank2_sum[cell]) / (top_rank2 * static_cast<double>(count[cell]));
        result.R[cell] = J_sum[cell] < 0.0 ? -score : score;
    }
    return result;
}

}  // namespace netrevia::ensemble
