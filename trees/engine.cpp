#include "trees/engine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <utility>

#include "numeric/matrix_ref.h"
#include "numeric/parallel_for.h"

namespace netrevia::trees {

namespace {

using numeric::ConstMatrixRef;
using numeric::MatrixRef;

}  // namespace

Design make_design(int n, std::span<const ensemble::Course> courses) {
    Design d;
    for (const ensemble::Course& c : courses) d.N += c.T - 1;
    const std::size_t size = static_cast<std::size_t>(d.N) * static_cast<std::size_t>(n);
    d.X.assign(size, 0.0);
    d.D.assign(size, 0.0);
    const MatrixRef X{d.X.data(), std::max(d.N, 1)};
    const MatrixRef D{d.D.data(), std::max(d.N, 1)};
    for (int g = 1; g <= n; ++g) {
        int r = 0;
        for (const ensemble::Course& c : courses) {
            const ConstMatrixRef Y{c.levels.data(), c.T};
            for (int j = 1; j < c.T; ++j) {
                ++r;
                const double h =
                    c.t[static_cast<std::size_t>(j)] - c.t[static_cast<std::size_t>(j - 1)];
                X(r, g) = Y(j, g);
                D(r, g) = (Y(j + 1, g) - Y(j, g)) / h;
            }
        }
    }
    return d;
}

std::vector<double> estimate_decay(const Design& design, int n) {
    std::vector<double> alpha(static_cast<std::size_t>(n), 0.0);
    const ConstMatrixRef X{design.X.data(), std::max(design.N, 1)};
    const ConstMatrixRef D{design.D.data(), std::max(design.N, 1)};
    for (int g = 1; g <= n; ++g) {
        double steepest = 0.0;
        for (int r = 1; r <= design.N; ++r) {
            if (X(r, g) > 0.0) steepest = std::max(steepest, -D(r, g) / X(r, g));
        }
        alpha[static_cast<std::size_t>(g - 1)] = steepest;
    }
    return alpha;
}

std::uint64_t memory_need(int n, long long N, int threads, int regulators) {
    const auto genes = static_cast<std::uint64_t>(n);
    const auto cases = static_cast<std::uint64_t>(std::max(N, 0LL));
    const auto workers = static_cast<std::uint64_t>(numeric::resolve_thread_count(threads));
    constexpr std::uint64_t kDouble = sizeof(double);
    constexpr std::uint64_t kInt = sizeof(int);
    // The design (X, D) twice: here and inside the ensemble run.
    const std::uint64_t designs = 4 * cases * genes * kDouble;
    // R, the ensemble's R, the ensemble's sums (ranks, counts, J) and subsets (about n^2 / 9
    // runs of 10 genes), and a consensus.
    const std::uint64_t matrices = genes * genes * (5 * kDouble + kInt + 2 * kInt);
    // Per worker: cases, candidates, outputs, importances and the node stack.
    const std::uint64_t work =
        workers * ((cases + genes + 2 * cases + 2) * kInt + (cases + 2 * genes) * kDouble);
    // With a list, the ensemble's cross products of the regulators with every gene, two r x n.
    const std::uint64_t list = 2 * static_cast<std::uint64_t>(regulators) * genes * kDouble;
    return designs + matrices + work + list;
}

Result infer(const Input& input) {
    const int n = input.n;
    Result result;
    result.trees = input.settings.trees;
    const std::size_t cells = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    result.R.assign(cells, 0.0);

    {
        ensemble::Input signs;
        signs.n = n;
        signs.courses = input.courses;
        signs.seed = input.seed;
        signs.threads = input.threads;
        signs.regulators = input.regulators;
        ensemble::Result e = ensemble::infer(signs);
        result.ensemble_R = std::move(e.R);
        result.subset_size = e.m;
        result.runs = e.runs;
    }

    const Design d = make_design(n, input.courses);
    result.decay = input.decay.empty()
                       ? estimate_decay(d, n)
                       : std::vector<double>(input.decay.begin(), input.decay.end());
    std::vector<int> candidates;
    for (int j = 1; j <= n; ++j) {
        if (input.regulators.empty() || input.regulators[static_cast<std::size_t>(j - 1)] != 0)
            candidates.push_back(j);
    }
    if (d.N < 1 || candidates.empty()) return result;

    const ConstMatrixRef X{d.X.data(), d.N};
    const ConstMatrixRef D{d.D.data(), d.N};
    const MatrixRef R{result.R.data(), std::max(n, 1)};
    const int threads = numeric::resolve_thread_count(input.threads);
    struct TargetWork {
        Work trees;
        std::vector<double> y;
        std::vector<double> importance;
    };
    std::atomic<bool> cancelled{false};
    // One task per target, each writing only its own row of R: the same for any thread count.
    numeric::parallel_for(n, threads, [&] {
        return [&, work = TargetWork{}](int task) mutable {
            if (input.cancel != nullptr && input.cancel->load()) {
                cancelled.store(true);
                return;
            }
            const int i = task + 1;
            const double alpha = result.decay[static_cast<std::size_t>(task)];
            work.y.resize(static_cast<std::size_t>(d.N));
            for (int r = 1; r <= d.N; ++r)
                work.y[static_cast<std::size_t>(r - 1)] = D(r, i) + alpha * X(r, i);
            work.importance.assign(static_cast<std::size_t>(n), 0.0);
            Random random(input.seed, static_cast<std::uint64_t>(i));
            const Sample sample{d.N, X, work.y, candidates};
            add_importances(sample, input.settings, random, work.trees, work.importance);
            // The target's sum of squares about its mean: the most any tree can remove.
            double mean = 0.0;
            for (const double v : work.y) mean += v;
            mean /= static_cast<double>(d.N);
            double total = 0.0;
            for (const double v : work.y) total += (v - mean) * (v - mean);
            if (!(total > 0.0)) return;
            work.importance[static_cast<std::size_t>(task)] = 0.0;
            for (int j = 1; j <= n; ++j)
                R(i, j) = work.importance[static_cast<std::size_t>(j - 1)] / total;
        };
    });

    result.cancelled = cancelled.load();
    // The signs of the ensemble engine.
    for (std::size_t cell = 0; cell < cells; ++cell) {
        if (result.ensemble_R[cell] < 0.0) result.R[cell] = -result.R[cell];
    }
    return result;
}

std::vector<double> consensus(std::span<const double> first,
                              std::span<const double> second,
                              std::span<const double> signs,
                              int n,
                              std::span<const unsigned char> regulators) {
    std::vector<double> R(first.size(), 0.0);
    const auto genes = static_cast<std::size_t>(std::max(n, 0));
    for (std::size_t j = 0; j < genes; ++j) {
        if (!regulators.empty() && regulators[j] == 0) continue;
        for (std::size_t i = 0; i < genes; ++i) {
            if (i == j) continue;
            const std::size_t cell = i + j * genes;
            const double product = std::abs(first[cell]) * std::abs(second[cell]);
            // NaN and 0 score 0, never -0.
            if (!(product > 0.0)) continue;
            const double mean = std::sqrt(product);
            R[cell] = signs[cell] < 0.0 ? -mean : mean;
        }
    }
    return R;
}

}  // namespace netrevia::trees
