#include "selection/select_network.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using netrevia::selection::select_network;
using netrevia::selection::SelectionInput;
using netrevia::selection::SelectionResult;

// Deterministic pseudo-random values in [-1, 1).
class Values {
public:
    explicit Values(unsigned seed) : state_(seed) {}
    double next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) / 4503599627370496.0 - 1.0;
    }

private:
    unsigned long long state_;
};

// Stores for K datasets of n genes with random particular solutions and random bases.
struct Problem {
    int n;
    int K;
    std::vector<double> J0;
    std::vector<double> B;
    SelectionInput input;

    Problem(int genes, std::vector<int> zero_counts, std::vector<int> time_points, unsigned seed)
        : n(genes), K(static_cast<int>(zero_counts.size())) {
        Values values(seed);
        const std::size_t size = static_cast<std::size_t>(K) * n * n;
        J0.resize(size);
        B.resize(size);
        for (double& x : J0) x = values.next();
        for (double& x : B) x = values.next();
        input.n = n;
        input.K = K;
        input.particular_store = &J0;
        input.basis_store = &B;
        for (std::size_t k = 0; k < zero_counts.size(); ++k) {
            input.zero_counts[k] = zero_counts[k];
            input.time_point_counts[k] = time_points[k];
            input.total_time_points += time_points[k];
        }
    }
    double j0(int k, int i, int j) const {
        return J0[static_cast<std::size_t>(k - 1) * n * n + static_cast<std::size_t>(j - 1) * n +
                  static_cast<std::size_t>(i - 1)];
    }
    double b(int k, int t, int l) const {
        return B[static_cast<std::size_t>(k - 1) * n * n + static_cast<std::size_t>(l - 1) * n +
                 static_cast<std::size_t>(t - 1)];
    }
};

double entry(const std::vector<double>& M, int n, int i, int j) {
    return M[static_cast<std::size_t>(j - 1) * n + static_cast<std::size_t>(i - 1)];
}

TEST(SelectNetwork, OneDatasetIgnoresLambda) {
    Problem p(6, {2}, {5}, 1u);
    p.input.lambda = 0.0;
    const SelectionResult base = select_network(p.input);
    EXPECT_EQ(base.iterations, 1);
    for (double lambda : {0.05, 1.0, 25.0, -0.3}) {
        p.input.lambda = lambda;
        EXPECT_EQ(select_network(p.input).R, base.R) << "lambda " << lambda;
    }
}

// With one dataset each row of R is the member of its family with the smallest sum of absolute
// entries: moving along any free direction cannot lower it (convexity makes local global).
TEST(SelectNetwork, OneDatasetRowsHaveMinimalAbsoluteSum) {
    const int n = 7;
    const int z = 3;
    Problem p(n, {z}, {5}, 7u);
    const SelectionResult result = select_network(p.input);
    for (int i = 1; i <= n; ++i) {
        auto row_sum = [&](int l, double step) {
            double s = 0.0;
            for (int t = 1; t <= n; ++t)
                s += std::abs(entry(result.R, n, i, t) + step * p.b(1, t, l));
            return s;
        };
        double start = 0.0;
        for (int t = 1; t <= n; ++t) start += std::abs(p.j0(1, i, t));
        const double optimum = row_sum(1, 0.0);
        EXPECT_LE(optimum, start + 1e-6) << "row " << i;
        for (int l = 1; l <= z; ++l) {
            EXPECT_LE(optimum, row_sum(l, 1e-3) + 1e-6) << "row " << i << " direction " << l;
            EXPECT_LE(optimum, row_sum(l, -1e-3) + 1e-6) << "row " << i << " direction " << l;
        }
    }
}

TEST(SelectNetwork, NoFreeDirectionsKeepsParticularSolution) {
    Problem p(5, {0}, {8}, 3u);
    const SelectionResult result = select_network(p.input);
    EXPECT_EQ(result.R, p.J0);
}

// Equal weights and lambda = 0: every entry is the smaller of the two dataset values, and with
// nothing to project the loop stops at the start of the third iteration.
TEST(SelectNetwork, TwoFixedDatasetsOfEqualWeightTakeTheSmallerValue) {
    const int n = 4;
    Problem p(n, {0, 0}, {6, 6}, 5u);
    const SelectionResult result = select_network(p.input);
    EXPECT_EQ(result.iterations, 2);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            EXPECT_EQ(entry(result.R, n, i, j), std::min(p.j0(1, i, j), p.j0(2, i, j)));
        }
    }
}

TEST(SelectNetwork, DatasetWeightsFollowTimePointCounts) {
    const int n = 3;
    Problem p(n, {0, 0}, {3, 9}, 11u);  // weights 0.25 and 0.75
    const SelectionResult result = select_network(p.input);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) EXPECT_EQ(entry(result.R, n, i, j), p.j0(2, i, j));
    }
}

TEST(SelectNetwork, StrongSparsityPullZeroesEveryEntry) {
    Problem p(5, {2, 3}, {4, 6}, 9u);
    p.input.lambda = 0.0;
    const SelectionResult loose = select_network(p.input);
    EXPECT_GE(loose.iterations, 2);
    bool any_nonzero = false;
    for (double x : loose.R) any_nonzero = any_nonzero || x != 0.0;
    EXPECT_TRUE(any_nonzero);

    p.input.lambda = 0.6;  // K lambda = 1.2 > 1: the zero candidate always wins
    const SelectionResult sparse = select_network(p.input);
    for (double x : sparse.R) {
        EXPECT_EQ(x, 0.0);
        EXPECT_FALSE(std::signbit(x));
    }
}

TEST(SelectNetwork, NoDatasetsGiveZeroResultAfterOneIteration) {
    Problem p(4, {}, {}, 2u);
    const SelectionResult result = select_network(p.input);
    EXPECT_EQ(result.iterations, 1);
    EXPECT_EQ(result.R, std::vector<double>(16, 0.0));
}

TEST(SelectNetwork, DatasetWithoutFreeDirectionsKeepsItsSolutionAmongOthers) {
    const int n = 5;
    Problem p(n, {0, 3}, {6, 4}, 13u);
    const SelectionResult result = select_network(p.input);
    ASSERT_GE(result.iterations, 2);
    const std::size_t nn = static_cast<std::size_t>(n) * n;
    const std::vector<double> first(result.solutions.begin(),
                                    result.solutions.begin() + static_cast<std::ptrdiff_t>(nn));
    const std::vector<double> second(result.solutions.begin() + static_cast<std::ptrdiff_t>(nn),
                                     result.solutions.end());
    EXPECT_EQ(first,
              std::vector<double>(p.J0.begin(), p.J0.begin() + static_cast<std::ptrdiff_t>(nn)));
    EXPECT_NE(second,
              std::vector<double>(p.J0.begin() + static_cast<std::ptrdiff_t>(nn), p.J0.end()));
}

// An input over the caller's stores (slices of n x n), every dataset with the same number of
// time points.
SelectionInput input_over(int n,
                          const std::vector<double>& J0,
                          const std::vector<double>& B,
                          const std::vector<int>& zero_counts,
                          int time_points) {
    SelectionInput input;
    input.n = n;
    input.K = static_cast<int>(zero_counts.size());
    input.particular_store = &J0;
    input.basis_store = &B;
    for (std::size_t k = 0; k < zero_counts.size(); ++k) {
        input.zero_counts[k] = zero_counts[k];
        input.time_point_counts[k] = time_points;
        input.total_time_points += time_points;
    }
    input.threads = 1;
    return input;
}

// FNV-1a over the bytes of the values: a golden for a whole result, to the bit.
std::uint64_t bit_hash(const std::vector<double>& values) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const double x : values) {
        const auto bits = std::bit_cast<std::uint64_t>(x);
        for (int shift = 0; shift < 64; shift += 8) {
            hash = (hash ^ ((bits >> shift) & 0xffu)) * 1099511628211ull;
        }
    }
    return hash;
}

// The loop is deterministic to the bit. F sums its terms in one fixed order (datasets, then
// rows, then columns, each term divided before it is added): summed in another order, or divided
// once at the end, the first F of this problem ends in other bits. The final dataset solutions
// pin the row updates, each entry's move summed over the free directions in their order. The
// fits reuse their work storage unchanged, so the same bits on three threads, where every
// storage sees other rows before each fit, show that no fit reads what an earlier one left.
TEST(SelectNetwork, FixedProblemGivesGoldenResultBitForBit) {
    Problem p(6, {2, 4, 3}, {5, 7, 4}, 17u);
    p.input.lambda = 0.05;
    p.input.threads = 1;
    std::vector<double> seen;
    const SelectionResult result =
        select_network(p.input, [&](int, double F) { seen.push_back(F); });
    EXPECT_EQ(result.iterations, 3);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0x1.40fff38cfba7ap-4);
    EXPECT_EQ(result.objective, 0x1.3fd012be47a2fp-4);
    EXPECT_EQ(bit_hash(result.solutions), 0x6cddafdafae63176u);
    EXPECT_EQ(bit_hash(result.R), 0xf2ab0313b8f3c78bu);

    p.input.threads = 3;
    const SelectionResult threaded = select_network(p.input);
    EXPECT_EQ(bit_hash(threaded.solutions), bit_hash(result.solutions));
    EXPECT_EQ(bit_hash(threaded.R), bit_hash(result.R));
}

// Two datasets whose families are lines through one point c, at slopes 0.97 and 1/0.97: each
// projection matches one coordinate of the consensus, and the consensus (the smaller value of
// the two lines, since the third, fixed dataset lies far below) walks towards c by a factor
// 0.97 per iteration. F still falls by about 1e-4 per iteration at the 100th, which ends the
// loop there.
TEST(SelectNetwork, SlowlyConvergingRunStopsAtTheIterationLimit) {
    const double a = 0.97;
    // Column-major 2 x 2 slices: row 1 lines through (-1, -1), row 2 through (-0.5, -0.5).
    std::vector<double> J0 = {-1.0, -0.5, -1.0,  -0.5,  -1.0,  -0.5,
                              -1.0, -0.5, -10.0, -10.0, -10.0, -10.0};
    std::vector<double> B = {1.0, a, 0.0, 1.0, a, 1.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0};
    std::vector<double> seen;
    const SelectionResult result = select_network(input_over(2, J0, B, {1, 1, 0}, 5),
                                                  [&](int, double F) { seen.push_back(F); });
    EXPECT_EQ(result.iterations, 100);
    ASSERT_EQ(seen.size(), 100u);
    EXPECT_GT(seen[98] - seen[99], 1e-5);
    EXPECT_EQ(result.objective, seen[99]);
}

// The median step sorts the dataset values and the zero candidate (last) by moving the first
// largest of the unsorted part to its end, and the weighted median takes the first of equal
// values at its minimum. Which zero, a dataset's -0 or the candidate's +0, reaches R therefore
// follows from where the swaps leave equal values; pinned entry by entry. Entry (2, 2) moves
// the consensus, so iteration 2 copies the medians into R.
TEST(SelectNetwork, SignOfAZeroConsensusFollowsTheSortOrder) {
    // Column-major 2 x 2 slices, dataset 1 then dataset 2; neither has free directions.
    std::vector<double> J0 = {-0.0, 5.0, -5.0, 1.0, 5.0, -0.0, -0.0, 2.0};
    std::vector<double> B(8, 0.0);
    SelectionInput input = input_over(2, J0, B, {0, 0}, 4);
    input.lambda = 0.1;
    const SelectionResult result = select_network(input);
    EXPECT_EQ(result.iterations, 2);
    const std::vector<double> expected = {0.0, -0.0, 0.0, 1.0};
    ASSERT_EQ(result.R.size(), expected.size());
    for (std::size_t e = 0; e < expected.size(); ++e) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(result.R[e]),
                  std::bit_cast<std::uint64_t>(expected[e]))
            << "entry " << e;
    }
}

TEST(SelectNetwork, ObserverSeesEachIterationAndChangesNothing) {
    Problem p(6, {2, 4, 3}, {5, 7, 4}, 17u);
    p.input.lambda = 0.05;
    const SelectionResult plain = select_network(p.input);
    std::vector<double> seen;
    int last_iteration = 0;
    const SelectionResult observed = select_network(p.input, [&](int iteration, double F) {
        EXPECT_EQ(iteration, last_iteration + 1);
        last_iteration = iteration;
        seen.push_back(F);
    });
    EXPECT_EQ(observed.R, plain.R);
    EXPECT_EQ(observed.iterations, plain.iterations);
    ASSERT_EQ(static_cast<int>(seen.size()), plain.iterations);
    EXPECT_EQ(seen.back(), plain.objective);
    // The loop stops on a small change of F, or at its limit.
    if (plain.iterations < 100) {
        ASSERT_GE(seen.size(), 2u);
        EXPECT_LE(std::abs(seen[seen.size() - 1] - seen[seen.size() - 2]), 1e-6);
    }
}

}  // namespace

namespace {

// When the system refuses to start worker threads (here: no address space left for their
// stacks), the selection still finishes on the calling thread with the same result.
TEST(SelectNetwork, RefusedWorkerThreadsLeaveTheResultUnchanged) {
    Problem p(8, {3, 4}, {5, 6}, 21u);
    p.input.threads = 1;
    const SelectionResult expected = select_network(p.input);
    p.input.threads = 4;

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) _exit(3);
        std::fclose(statm);
        // Room for the run's small stores, none for an 8 MB thread stack.
        const rlim_t limit =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (4u << 20);
        const rlimit address_space{limit, limit};
        if (setrlimit(RLIMIT_AS, &address_space) != 0) _exit(3);
        try {
            const SelectionResult result = select_network(p.input);
            _exit(result.R == expected.R && result.iterations == expected.iterations ? 0 : 1);
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: other result, 2: exception, 3: setup failed";
}

}  // namespace

namespace {

// The cancel flag is read before every iteration and between fits: set by the observer after
// iteration 2, the loop stops before iteration 3 and marks its result; set before the start,
// nothing runs. A flag that stays clear changes nothing.
TEST(SelectNetwork, CancelFlagStopsTheLoopAndMarksTheResult) {
    Problem p(6, {2, 4, 3}, {5, 7, 4}, 17u);
    p.input.lambda = 0.05;
    const SelectionResult plain = select_network(p.input);
    ASSERT_EQ(plain.iterations, 3);
    EXPECT_FALSE(plain.cancelled);

    std::atomic<bool> cancel{false};
    p.input.cancel = &cancel;
    const SelectionResult unset = select_network(p.input);
    EXPECT_FALSE(unset.cancelled);
    EXPECT_EQ(unset.R, plain.R);
    EXPECT_EQ(unset.iterations, plain.iterations);

    const SelectionResult stopped = select_network(p.input, [&](int iteration, double) {
        if (iteration == 2) cancel = true;
    });
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.iterations, 2);

    p.input.threads = 3;
    const SelectionResult at_once = select_network(p.input);
    EXPECT_TRUE(at_once.cancelled);
    EXPECT_EQ(at_once.iterations, 0);

    // Set from another thread a millisecond into iteration 2, the flag is mostly seen between
    // the fits (some 20 ms here); should the thread be late, iteration 2's observer waits for it
    // and the start of iteration 3 sees it. Either way the run, 3 iterations uncancelled, ends
    // marked after 2.
    Problem big(80, {60, 60}, {5, 6}, 3u);
    big.input.lambda = 0.02;
    big.input.threads = 1;
    std::atomic<bool> midway_cancel{false};
    big.input.cancel = &midway_cancel;
    std::thread setter;
    const SelectionResult midway = select_network(big.input, [&](int iteration, double) {
        if (iteration == 1) {
            setter = std::thread([&midway_cancel] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                midway_cancel = true;
            });
        }
        if (iteration == 2) setter.join();
    });
    if (setter.joinable()) setter.join();
    EXPECT_TRUE(midway.cancelled);
    EXPECT_EQ(midway.iterations, 2);
}

}  // namespace
