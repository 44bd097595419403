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
// With a list, a run's slot holds one entry per regulator of the run and gene: the block's
// slots hold at most this many (12 MiB), or one run.
constexpr std::size_t kListBlockEntries = std::size_t{1} << 20;

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

// Sorts (|J|, entry) pairs and stores at each entry twice its rank among them, from 0, the
// entries of a tie sharing the sum of its first and last rank (twice the mean rank, an integer).
void store_tie_ranks(std::vector<std::pair<double, int>>& order, int* rank2) {
    std::sort(order.begin(), order.end());
    const int P = static_cast<int>(order.size());
    for (int first = 0; first < P;) {
        int last = first;
        while (last + 1 < P && order[static_cast<std::size_t>(last + 1)].first ==
                                   order[static_cast<std::size_t>(first)].first) {
            ++last;
        }
        for (int e = first; e <= last; ++e)
            rank2[order[static_cast<std::size_t>(e)].second] = first + last;
        first = last + 1;
    }
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
    store_tie_ranks(w.order, rank2.data);
}

// ---- With a list of candidate regulators ----------------------------------------------------
//
// Every fit of a run regresses on the same m regulators, so the Gram matrix of the run's
// regressors is shared by all targets, and every entry of every Gram matrix and right-hand side
// is one of a few cross products over the pooled intervals. They are computed once, in a fixed
// order of the intervals, and looked up by the runs.

using ListGram =
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, kMaxUnknowns + 1, kMaxUnknowns + 1>;
using ListColumn = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kMaxUnknowns + 1, 1>;

// Sums over the N intervals, for the p genes that enter the fits (design columns) and the r
// regulators among them (design columns regulator_columns[0..r-1]): XX(a, c) = x_a . x_c and
// XD(a, c) = x_a . d_c for regulator a and gene c (r x p column-major each), and per gene c the
// sums of x_c and d_c, x_c . x_c and x_c . d_c.
struct CrossProducts {
    int r = 0;
    std::vector<double> XX, XD;
    std::vector<double> x_sum, d_sum, xx, xd;

    double regulator_level(int a, int c) const {
        return XX[static_cast<std::size_t>(a - 1) + static_cast<std::size_t>(c - 1) * r];
    }
    double regulator_rate(int a, int c) const {
        return XD[static_cast<std::size_t>(a - 1) + static_cast<std::size_t>(c - 1) * r];
    }
};

CrossProducts cross_products(const Design& d,
                             const std::vector<int>& regulator_columns,
                             int p,
                             int threads) {
    CrossProducts c;
    c.r = static_cast<int>(regulator_columns.size());
    const std::size_t size = static_cast<std::size_t>(c.r) * static_cast<std::size_t>(p);
    c.XX.assign(size, 0.0);
    c.XD.assign(size, 0.0);
    for (std::vector<double>* sums : {&c.x_sum, &c.d_sum, &c.xx, &c.xd})
        sums->assign(static_cast<std::size_t>(p), 0.0);
    const ConstMatrixRef X{d.X.data(), std::max(d.N, 1)};
    const ConstMatrixRef D{d.D.data(), std::max(d.N, 1)};
    // One task per gene, each writing only its own column of sums.
    numeric::parallel_for(p, threads, [&] {
        return [&](int task) {
            const auto col = static_cast<std::size_t>(task);
            const double* x = X.column(task + 1);
            const double* rates = D.column(task + 1);
            double x_sum = 0.0, d_sum = 0.0, xx = 0.0, xd = 0.0;
            for (int r = 0; r < d.N; ++r) {
                x_sum += x[r];
                d_sum += rates[r];
                xx += x[r] * x[r];
                xd += x[r] * rates[r];
            }
            c.x_sum[col] = x_sum;
            c.d_sum[col] = d_sum;
            c.xx[col] = xx;
            c.xd[col] = xd;
            for (int a = 1; a <= c.r; ++a) {
                const double* xa = X.column(regulator_columns[static_cast<std::size_t>(a - 1)]);
                double level = 0.0, rate = 0.0;
                for (int r = 0; r < d.N; ++r) {
                    level += xa[r] * x[r];
                    rate += xa[r] * rates[r];
                }
                const std::size_t at = static_cast<std::size_t>(a - 1) + col * c.r;
                c.XX[at] = level;
                c.XD[at] = rate;
            }
        };
    });
    return c;
}

struct ListWork {
    ListGram G;   // [X_S 1]^T [X_S 1], the run's regressors and the intercept
    ListGram Go;  // [X_S x_c 1]^T [X_S x_c 1]: a target's own level added
    ListColumn q, b;
    Eigen::LDLT<ListGram> cholesky, own_cholesky;
    Eigen::CompleteOrthogonalDecomposition<ListGram> orthogonal, own_orthogonal;
    std::vector<std::pair<double, int>> order;
};

// Whether the Cholesky factorisation of a Gram matrix may be used, as in fit_run.
bool regular(const Eigen::LDLT<ListGram>& cholesky) {
    return cholesky.info() == Eigen::Success && cholesky.isPositive() &&
           cholesky.rcond() > kMinReciprocalCondition;
}

// One run on the regulators S(1..m) (1-based positions among the regulators, ascending),
// targets every gene c = 1..p: J(a, c) is the slope of target c on regulator S(a) (m x p
// column-major, 0 where S(a) is c itself), and rank2(a, c) twice its rank among the run's
// m(p - 1) pairs of distinct genes, -1 where S(a) is c. A target among S is fitted on S and the
// intercept; any other on S, its own level and the intercept, so that its decay is not
// attributed to the regulators.
void fit_list_run(const CrossProducts& c,
                  const std::vector<int>& regulator_columns,
                  const std::vector<int>& regulator_of,
                  const int* S,
                  int m,
                  int p,
                  long long N,
                  ListWork& w,
                  MatrixRef J,
                  numeric::ColMajorRef<int> rank2) {
    const auto column = [&](int a) {
        return regulator_columns[static_cast<std::size_t>(S[a - 1] - 1)];
    };
    w.G.resize(m + 1, m + 1);
    for (int a = 1; a <= m; ++a) {
        for (int b = 1; b <= m; ++b) w.G(a - 1, b - 1) = c.regulator_level(S[a - 1], column(b));
        w.G(a - 1, m) = c.x_sum[static_cast<std::size_t>(column(a) - 1)];
        w.G(m, a - 1) = w.G(a - 1, m);
    }
    w.G(m, m) = static_cast<double>(N);
    w.cholesky.compute(w.G);
    const bool shared_regular = regular(w.cholesky);
    if (!shared_regular) w.orthogonal.compute(w.G);

    for (int col = 1; col <= p; ++col) {
        const auto gene = static_cast<std::size_t>(col - 1);
        // The target's position among S, or 0.
        const int k = regulator_of[gene];
        int self = 0;
        for (int a = 1; a <= m && k > 0; ++a)
            if (S[a - 1] == k) self = a;
        if (self > 0) {
            w.q.resize(m + 1);
            for (int a = 1; a <= m; ++a) w.q(a - 1) = c.regulator_rate(S[a - 1], col);
            w.q(m) = c.d_sum[gene];
            w.b = shared_regular ? ListColumn(w.cholesky.solve(w.q))
                                 : ListColumn(w.orthogonal.solve(w.q));
        } else {
            // The run's Gram matrix bordered by the target's level, before the intercept.
            const int u = m + 2;
            w.Go.resize(u, u);
            w.Go.topLeftCorner(m, m) = w.G.topLeftCorner(m, m);
            for (int a = 1; a <= m; ++a) {
                w.Go(a - 1, m) = c.regulator_level(S[a - 1], col);
                w.Go(m, a - 1) = w.Go(a - 1, m);
                w.Go(a - 1, m + 1) = w.G(a - 1, m);
                w.Go(m + 1, a - 1) = w.G(a - 1, m);
            }
            w.Go(m, m) = c.xx[gene];
            w.Go(m, m + 1) = c.x_sum[gene];
            w.Go(m + 1, m) = c.x_sum[gene];
            w.Go(m + 1, m + 1) = static_cast<double>(N);
            w.q.resize(u);
            for (int a = 1; a <= m; ++a) w.q(a - 1) = c.regulator_rate(S[a - 1], col);
            w.q(m) = c.xd[gene];
            w.q(m + 1) = c.d_sum[gene];
            w.own_cholesky.compute(w.Go);
            if (regular(w.own_cholesky)) {
                w.b = w.own_cholesky.solve(w.q);
            } else {
                w.own_orthogonal.compute(w.Go);
                w.b = w.own_orthogonal.solve(w.q);
            }
        }
        for (int a = 1; a <= m; ++a) J(a, col) = a == self ? 0.0 : w.b(a - 1);
    }

    // Ranks over the run's pairs, as in fit_run.
    w.order.clear();
    for (int col = 1; col <= p; ++col) {
        const int k = regulator_of[static_cast<std::size_t>(col - 1)];
        for (int a = 1; a <= m; ++a) {
            const int entry = (a - 1) + (col - 1) * m;
            if (k > 0 && S[a - 1] == k) {
                rank2.data[entry] = -1;
                continue;
            }
            const double magnitude = std::abs(J(a, col));
            w.order.emplace_back(std::isnan(magnitude) ? -1.0 : magnitude, entry);
        }
    }
    store_tie_ranks(w.order, rank2.data);
}

// The estimator with a list: genes are the changing genes (1-based, ascending), result has R
// and flat_genes set.
Result infer_with_list(const Input& input, Result result, const std::vector<int>& genes) {
    const int n = input.n;
    const int p = static_cast<int>(genes.size());
    const Design d = build_design(input, genes);
    // Design columns of the regulators, and each gene's position among them (0: none).
    std::vector<int> regulator_columns;
    std::vector<int> regulator_of(static_cast<std::size_t>(p), 0);
    for (int col = 1; col <= p; ++col) {
        if (input.regulators[static_cast<std::size_t>(genes[static_cast<std::size_t>(col - 1)] -
                                                      1)] == 0)
            continue;
        regulator_columns.push_back(col);
        regulator_of[static_cast<std::size_t>(col - 1)] =
            static_cast<int>(regulator_columns.size());
    }
    const int r = static_cast<int>(regulator_columns.size());
    result.regulators = r;
    result.m = list_subset_size(r, d.N);
    result.runs = p < 2 ? 0 : list_run_count(r, result.m);
    const int m = result.m;
    if (result.runs == 0) return result;

    const int threads = numeric::resolve_thread_count(input.threads);
    const CrossProducts c = cross_products(d, regulator_columns, p, threads);
    const std::vector<int> subsets = draw_subsets(r, m, result.runs, input.seed);

    const std::size_t cells = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    std::vector<long long> rank2_sum(cells, 0);
    std::vector<int> count(cells, 0);
    std::vector<double> J_sum(cells, 0.0);
    // A run's slot holds m x p entries: fewer runs per block for many genes.
    const std::size_t slot = static_cast<std::size_t>(m) * static_cast<std::size_t>(p);
    const int block_runs =
        static_cast<int>(std::clamp<std::size_t>(kListBlockEntries / slot, 1, kBlockRuns));
    std::vector<double> J_slots(slot * static_cast<std::size_t>(block_runs), 0.0);
    std::vector<int> rank_slots(slot * static_cast<std::size_t>(block_runs), 0);
    for (long long first = 0; first < result.runs; first += block_runs) {
        const int block = static_cast<int>(std::min<long long>(block_runs, result.runs - first));
        numeric::parallel_for(block, threads, [&] {
            return [&, work = ListWork{}](int task) mutable {
                const std::size_t at = slot * static_cast<std::size_t>(task);
                const int* S = subsets.data() +
                               static_cast<std::size_t>(first + task) * static_cast<std::size_t>(m);
                fit_list_run(c, regulator_columns, regulator_of, S, m, p, d.N, work,
                             MatrixRef{J_slots.data() + at, m},
                             numeric::ColMajorRef<int>{rank_slots.data() + at, m});
            };
        });
        // Run order, then the targets and the regulators: the same sums for any thread count.
        for (int task = 0; task < block; ++task) {
            const std::size_t at = slot * static_cast<std::size_t>(task);
            const int* S = subsets.data() +
                           static_cast<std::size_t>(first + task) * static_cast<std::size_t>(m);
            const ConstMatrixRef J{J_slots.data() + at, m};
            const numeric::ColMajorRef<const int> rank2{rank_slots.data() + at, m};
            for (int col = 1; col <= p; ++col) {
                const int target = genes[static_cast<std::size_t>(col - 1)];
                for (int a = 1; a <= m; ++a) {
                    if (rank2(a, col) < 0) continue;
                    const int regulator = genes[static_cast<std::size_t>(
                        regulator_columns[static_cast<std::size_t>(S[a - 1] - 1)] - 1)];
                    const std::size_t cell =
                        static_cast<std::size_t>(target - 1) +
                        static_cast<std::size_t>(regulator - 1) * static_cast<std::size_t>(n);
                    rank2_sum[cell] += rank2(a, col);
                    ++count[cell];
                    J_sum[cell] += J(a, col);
                }
            }
        }
    }

    // Every run ranks the same number of pairs, m (p - 1).
    const double top_rank2 = 2.0 * static_cast<double>(static_cast<long long>(m) * (p - 1) - 1);
    for (std::size_t cell = 0; cell < cells; ++cell) {
        if (count[cell] == 0) continue;
        const double score = top_rank2 > 0.0 ? static_cast<double>(rank2_sum[cell]) /
                                                   (top_rank2 * static_cast<double>(count[cell]))
                                             : 0.5;
        result.R[cell] = J_sum[cell] < 0.0 ? -score : score;
    }
    return result;
}

}  // namespace

int subset_size(int n, long long intervals) {
    if (n < 2) return n;
    const long long m = std::min<long long>({kMaxSubsetSize, (2LL * n + 2) / 3, intervals - 2});
    return m < 2 ? 0 : static_cast<int>(m);
}

int list_subset_size(int regulators, long long intervals) {
    const long long m =
        std::min<long long>({kMaxSubsetSize, (2LL * regulators + 2) / 3, intervals - 3});
    return m < 1 ? 0 : static_cast<int>(m);
}

long long list_run_count(int regulators, int m) {
    if (m < 1 || m > regulators) return 0;
    if (m == regulators) return 1;  // every run would hold the same regulators
    const long long held = static_cast<long long>(regulators) * kListRunsPerPair;
    return (held + m - 1) / m;
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
    if (!input.regulators.empty()) return infer_with_list(input, std::move(result), genes);
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
