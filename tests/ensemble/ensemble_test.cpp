#include "ensemble/ensemble.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace netrevia::ensemble {
namespace {

// Courses stored for an Input: times and T x n levels per course.
struct Courses {
    std::vector<std::vector<double>> t;
    std::vector<std::vector<double>> levels;
    std::vector<Course> views;

    Input input(int n, std::uint64_t seed = 0, int threads = 1) {
        views.clear();
        for (std::size_t c = 0; c < t.size(); ++c) {
            views.push_back({static_cast<int>(t[c].size()), t[c], levels[c]});
        }
        return {n, views, seed, threads, {}};
    }
};

// Courses of y(j+1) = y(j) + h_j (J y(j) + u) from the given starts, with steps h_j alternating
// between h and 1.5 h: forward differences of these levels are exactly J y + u, so a fit on all
// genes recovers J up to rounding.
Courses euler_courses(int n,
                      const std::vector<double>& J,
                      const std::vector<double>& u,
                      const std::vector<std::vector<double>>& starts,
                      int T,
                      double h) {
    Courses c;
    for (const std::vector<double>& start : starts) {
        std::vector<double> t(static_cast<std::size_t>(T));
        std::vector<double> Y(static_cast<std::size_t>(T * n));
        std::vector<double> y = start;
        double time = 0.0;
        for (int j = 0; j < T; ++j) {
            t[static_cast<std::size_t>(j)] = time;
            const double step = j % 2 == 0 ? h : 1.5 * h;
            time += step;
            for (int g = 0; g < n; ++g) Y[static_cast<std::size_t>(j + g * T)] = y[g];
            std::vector<double> next = y;
            for (int i = 0; i < n; ++i) {
                double rate = u[static_cast<std::size_t>(i)];
                for (int g = 0; g < n; ++g) rate += J[static_cast<std::size_t>(i + g * n)] * y[g];
                next[i] += step * rate;
            }
            y = next;
        }
        c.t.push_back(t);
        c.levels.push_back(Y);
    }
    return c;
}

Courses random_courses(int n, int K, int T, std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    Courses c;
    for (int k = 0; k < K; ++k) {
        std::vector<double> t(static_cast<std::size_t>(T));
        for (int j = 0; j < T; ++j) t[static_cast<std::size_t>(j)] = 0.5 * j;
        std::vector<double> Y(static_cast<std::size_t>(T * n));
        for (double& y : Y) y = 1.0 + static_cast<double>(engine() >> 11) * 0x1.0p-53;
        c.t.push_back(t);
        c.levels.push_back(Y);
    }
    return c;
}

TEST(SubsetSize, TwoThirdsOfTheGenesAtMostTenLoweredToFitTheIntervals) {
    EXPECT_EQ(subset_size(100, 200), 10);
    EXPECT_EQ(subset_size(15, 200), 10);
    EXPECT_EQ(subset_size(14, 200), 10);  // ceil(28/3) = 10
    EXPECT_EQ(subset_size(13, 200), 9);   // ceil(26/3) = 9
    EXPECT_EQ(subset_size(4, 200), 3);
    EXPECT_EQ(subset_size(2, 200), 2);
    EXPECT_EQ(subset_size(100, 7), 5);  // 7 intervals > 5 + 1 unknowns
    EXPECT_EQ(subset_size(100, 4), 2);
    EXPECT_EQ(subset_size(100, 3), 0);  // refused
    EXPECT_EQ(subset_size(2, 3), 0);
    EXPECT_EQ(subset_size(1, 0), 1);  // nothing to fit
    EXPECT_EQ(subset_size(0, 0), 0);

    EXPECT_EQ(run_count(100, 10), 1100);
    EXPECT_EQ(run_count(10, 7), 22);  // ceil(900 / 42)
    EXPECT_EQ(run_count(2, 2), 10);
    EXPECT_EQ(run_count(1, 1), 0);
}

TEST(DrawSubsets, DistinctAscendingGenesFixedBySeedAndUniform) {
    const int n = 12;
    const int m = 4;
    const long long runs = 3000;
    const std::vector<int> subsets = draw_subsets(n, m, runs, 0);
    ASSERT_EQ(subsets.size(), static_cast<std::size_t>(runs * m));
    std::vector<int> hits(n + 1, 0);
    for (long long r = 0; r < runs; ++r) {
        const auto first = subsets.begin() + r * m;
        EXPECT_TRUE(std::is_sorted(first, first + m));
        EXPECT_EQ(std::set<int>(first, first + m).size(), static_cast<std::size_t>(m));
        for (auto g = first; g != first + m; ++g) {
            ASSERT_TRUE(*g >= 1 && *g <= n);
            ++hits[static_cast<std::size_t>(*g)];
        }
    }
    // Every gene is drawn about runs m / n = 1000 times (standard deviation about 27).
    for (int g = 1; g <= n; ++g) EXPECT_NEAR(hits[static_cast<std::size_t>(g)], 1000, 130) << g;

    // The raw generator output is fixed by the C++ standard, so the first subsets are too.
    EXPECT_EQ(std::vector<int>(subsets.begin(), subsets.begin() + 2 * m),
              (std::vector<int>{1, 6, 7, 10, 1, 3, 5, 10}));
    EXPECT_EQ(draw_subsets(n, m, runs, 0), subsets);
    EXPECT_NE(draw_subsets(n, m, runs, 1), subsets);
}

// Two genes, every run holds both, one influence and none back: the influence scores 1 with
// its sign, the empty direction 0. R(i, j) is the influence of gene j on gene i.
TEST(Infer, TwoGenesRankTheInfluenceFirstWithItsSign) {
    const std::vector<double> J = {-1.0, -0.8, 0.0, -1.2};  // J(2,1) = -0.8
    Courses c = euler_courses(2, J, {0.5, 1.0}, {{1.0, 2.0}, {3.0, 0.5}}, 4, 0.1);
    const Result r = infer(c.input(2));
    EXPECT_EQ(r.m, 2);
    EXPECT_EQ(r.runs, 10);
    EXPECT_EQ(r.R, (std::vector<double>{0.0, -1.0, 0.0, 0.0}));

    const std::vector<double> flipped = {-1.0, 0.0, 0.3, -1.2};  // J(1,2) = 0.3
    Courses d = euler_courses(2, flipped, {0.5, 1.0}, {{1.0, 2.0}, {3.0, 0.5}}, 4, 0.1);
    EXPECT_EQ(infer(d.input(2)).R, (std::vector<double>{0.0, 0.0, 1.0, 0.0}));
}

// Three genes, subsets of two: each run fits one ordered pair each way, so each score is a
// mean rank among two. Gene 1 drives gene 2; gene 3 is on its own. Fits on {1, 2} are exact:
// J(2,1) = 1.5 tops J(1,2) = 0 in every run. On {2, 3} the fit of gene 2 misses gene 1 and
// puts weight on gene 3, while gene 3's own fit is exact with J(3,2) = 0. On {1, 3} both
// influences are zero up to rounding, so one of the two takes rank 1 in each run.
TEST(Infer, ScoresAreMeanScaledRanksWithTheSignOfTheSummedFit) {
    const int n = 3;
    // clang-format off
    const std::vector<double> J = {-1.0,  1.5,  0.0,
                                    0.0, -0.7,  0.0,
                                    0.0,  0.0, -0.4};
    // clang-format on
    Courses c = euler_courses(n, J, {0.3, 0.2, 0.1},
                              {{1.0, 2.0, 3.0}, {3.0, 1.0, 2.0}, {2.0, 3.0, 1.0}}, 8, 0.05);
    const Result r = infer(c.input(n));
    ASSERT_EQ(r.m, 2);
    ASSERT_EQ(r.runs, 30);
    auto R = [&r](int i, int j) { return r.R[static_cast<std::size_t>((i - 1) + (j - 1) * 3)]; };
    EXPECT_EQ(R(2, 1), 1.0);
    EXPECT_EQ(R(1, 2), 0.0);
    EXPECT_EQ(std::abs(R(2, 3)), 1.0);
    EXPECT_EQ(R(3, 2), 0.0);
    EXPECT_EQ(std::abs(R(1, 3)) + std::abs(R(3, 1)), 1.0);
    for (int g = 1; g <= n; ++g) EXPECT_EQ(R(g, g), 0.0);
}

// The courses without gene g (0-based): what a file that never held it would give.
Courses without_gene(const Courses& c, int n, int g) {
    Courses out;
    out.t = c.t;
    for (std::size_t k = 0; k < c.levels.size(); ++k) {
        const std::size_t T = c.t[k].size();
        std::vector<double> Y(c.levels[k].begin(), c.levels[k].begin() + g * T);
        Y.insert(Y.end(), c.levels[k].begin() + (g + 1) * T, c.levels[k].begin() + n * T);
        out.levels.push_back(Y);
    }
    return out;
}

// Genes whose levels do not change (constant, spread at rounding level, or at most 1/1000 of
// the mean) are left out: they score 0 as regulators and targets, and every other score is
// bit for bit what the courses without them give. Before, a constant gene took the
// intercept's weight and scored about 0.94 as a regulator of every gene.
TEST(Infer, GenesWithoutChangeScoreZeroAndLeaveTheOthersAsWithoutThem) {
    const int n = 7;
    const int T = 9;  // the 8 starts of intervals alternate: their sd / mean is the spread
    const double level = std::exp2(1.5);
    struct Case {
        const char* what;
        double spread;
    };
    for (const Case& flat : {Case{"constant", 0.0}, Case{"one ulp", 0x1.0p-52},
                             Case{"1e-10", 1e-10}, Case{"0.999e-3", 0.999e-3}}) {
        SCOPED_TRACE(flat.what);
        Courses c = random_courses(n, 3, T, 5);
        for (std::vector<double>& Y : c.levels) {
            for (int j = 0; j < T; ++j) {
                Y[static_cast<std::size_t>(j + 2 * T)] =
                    level * (1.0 + (j % 2 == 0 ? -flat.spread : flat.spread));
            }
        }
        const Result r = infer(c.input(n, 4));
        EXPECT_EQ(r.flat_genes, std::vector<int>{3});
        Courses rest = without_gene(c, n, 2);
        const Result without = infer(rest.input(n - 1, 4));
        EXPECT_EQ(r.m, without.m);
        EXPECT_EQ(r.runs, without.runs);
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const double expected =
                    i == 2 || j == 2
                        ? 0.0
                        : without
                              .R[static_cast<std::size_t>((i - (i > 2)) + (j - (j > 2)) * (n - 1))];
                EXPECT_EQ(r.R[static_cast<std::size_t>(i + j * n)], expected) << i << j;
            }
        }
    }
    // Just above the bound the gene is fitted like any other.
    Courses c = random_courses(n, 3, T, 5);
    for (std::vector<double>& Y : c.levels) {
        for (int j = 0; j < T; ++j)
            Y[static_cast<std::size_t>(j + 2 * T)] =
                level * (1.0 + (j % 2 == 0 ? -1.001e-3 : 1.001e-3));
    }
    const Result kept = infer(c.input(n, 4));
    EXPECT_TRUE(kept.flat_genes.empty());
    EXPECT_NE(kept.R[static_cast<std::size_t>(0 + 2 * n)], 0.0);
}

// The rule looks at the levels the fits regress on, those at the starts of the intervals: a
// gene that moves only at the last point of each course is as constant there as a gene that
// never moves. Two genes moving together stay in, with finite scores.
TEST(Infer, ChangeOnlyAtTheLastPointsIsNoChangeAndDuplicatesStay) {
    const int n = 6;
    const int T = 6;
    Courses c = random_courses(n, 3, T, 11);
    for (std::vector<double>& Y : c.levels) {
        for (int j = 0; j < T; ++j) {
            Y[static_cast<std::size_t>(j + 4 * T)] = j == T - 1 ? 3.0 : 1.0;          // gene 5
            Y[static_cast<std::size_t>(j + 5 * T)] = Y[static_cast<std::size_t>(j)];  // 6 = 1
        }
    }
    const Result r = infer(c.input(n));
    EXPECT_EQ(r.flat_genes, std::vector<int>{5});
    for (double v : r.R) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_LE(std::abs(v), 1.0);
    }
    EXPECT_NE(r.R[static_cast<std::size_t>(0 + 5 * n)], 0.0);
}

// Data without any change carry no information: every score is 0 (it was 1/2, sign +, for
// every pair), and there is nothing to fit. Levels of 0 (log2 values below the range of a
// double) are no change either.
TEST(Infer, DataWithoutAnyChangeScoreZero) {
    const int n = 4;
    Courses c;
    for (int k = 0; k < 2; ++k) {
        c.t.push_back({0.0, 1.0, 2.0, 3.0, 4.0});
        std::vector<double> Y(20);
        for (int g = 0; g < n; ++g) {
            for (int j = 0; j < 5; ++j) Y[static_cast<std::size_t>(j + 5 * g)] = g == 0 ? 0.0 : g;
        }
        c.levels.push_back(Y);
    }
    const Result r = infer(c.input(n));
    EXPECT_EQ(r.R, std::vector<double>(16, 0.0));
    EXPECT_EQ(r.flat_genes, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(r.runs, 0);
}

TEST(Infer, SameResultForEveryThreadCountAndOtherSeedsDiffer) {
    const int n = 40;  // 174 runs of 10 genes
    Courses c = random_courses(n, 5, 7, 3);
    const Result one = infer(c.input(n, 7, 1));
    EXPECT_EQ(one.runs, 174);
    EXPECT_EQ(infer(c.input(n, 7, 2)).R, one.R);
    EXPECT_EQ(infer(c.input(n, 7, 5)).R, one.R);
    EXPECT_NE(infer(c.input(n, 8, 1)).R, one.R);
}

TEST(Infer, FewerThanTwoGenesGiveAnEmptyOrZeroNetwork) {
    Courses c = random_courses(1, 1, 3, 1);
    const Result r = infer(c.input(1));
    EXPECT_EQ(r.R, std::vector<double>{0.0});
    EXPECT_EQ(r.runs, 0);
    Courses none;
    EXPECT_TRUE(infer(none.input(0)).R.empty());
}

// ---- With a list of candidate regulators ----

// The courses as an Input with the genes of `listed` (1-based) as candidate regulators.
struct ListedInput {
    std::vector<unsigned char> mask;
    Input input;
};
ListedInput with_list(
    Courses& c, int n, const std::vector<int>& listed, std::uint64_t seed = 0, int threads = 1) {
    ListedInput l{std::vector<unsigned char>(static_cast<std::size_t>(n), 0),
                  c.input(n, seed, threads)};
    for (const int g : listed) l.mask[static_cast<std::size_t>(g - 1)] = 1;
    l.input.regulators = l.mask;
    return l;
}

TEST(ListSizes, TwoThirdsOfTheRegulatorsAndThirtyRunsPerPair) {
    EXPECT_EQ(list_subset_size(40, 200), 10);
    EXPECT_EQ(list_subset_size(13, 200), 9);  // ceil(26/3)
    EXPECT_EQ(list_subset_size(3, 200), 2);
    EXPECT_EQ(list_subset_size(2, 200), 2);
    EXPECT_EQ(list_subset_size(1, 200), 1);
    EXPECT_EQ(list_subset_size(0, 200), 0);
    EXPECT_EQ(list_subset_size(40, 7), 4);  // 7 intervals > 4 + 2 unknowns
    EXPECT_EQ(list_subset_size(40, 4), 1);
    EXPECT_EQ(list_subset_size(40, 3), 0);

    EXPECT_EQ(list_run_count(40, 10), 120);
    EXPECT_EQ(list_run_count(7, 5), 42);
    EXPECT_EQ(list_run_count(3, 2), 45);
    EXPECT_EQ(list_run_count(2, 2), 1);  // every run would be the same
    EXPECT_EQ(list_run_count(1, 1), 1);
    EXPECT_EQ(list_run_count(5, 0), 0);
    EXPECT_EQ(list_run_count(2, 3), 0);
}

// Gene 1 drives gene 2; gene 3 only decays, more slowly than gene 1, so its level falls with
// gene 1's. With gene 1 as the only candidate there is one run of one regulator and two pairs.
// Fitted with its own level, gene 3's slope on gene 1 is 0 (the fit is exact): it ranks
// lowest, and gene 1 -> gene 2 scores 1 with its sign. Without its own level gene 3's decay
// would be laid on gene 1.
TEST(ListInfer, EveryTargetKeepsItsDecayOffTheRegulators) {
    const int n = 3;
    // clang-format off
    const std::vector<double> J = {-1.0, -0.8,  0.0,
                                    0.0, -0.5,  0.0,
                                    0.0,  0.0, -0.6};
    // clang-format on
    Courses c = euler_courses(n, J, {0.0, 0.0, 0.0}, {{2.0, 1.0, 3.0}, {4.0, 2.0, 1.0}}, 8, 0.1);
    ListedInput l = with_list(c, n, {1});
    const Result r = infer(l.input);
    EXPECT_EQ(r.regulators, 1);
    EXPECT_EQ(r.m, 1);
    EXPECT_EQ(r.runs, 1);
    EXPECT_EQ(r.R, (std::vector<double>{0.0, -1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}));
}

// Only the columns of listed genes are scored and every gene is a target. In a linear system
// each target's true regulator outranks the other candidates of that target, with its sign.
// Gene 6 is listed but regulates nothing.
TEST(ListInfer, ScoresOnlyEdgesFromTheListAndRanksEachTargetsRegulatorFirst) {
    const int n = 6;
    std::vector<double> J(static_cast<std::size_t>(n * n), 0.0);
    auto at = [&J](int i, int j) -> double& {
        return J[static_cast<std::size_t>((i - 1) + (j - 1) * 6)];
    };
    for (int g = 1; g <= n; ++g) at(g, g) = -0.5 - 0.1 * g;
    at(3, 1) = 1.2;
    at(4, 2) = -0.9;
    at(5, 1) = 0.8;
    at(2, 1) = 0.5;
    Courses c = euler_courses(n, J, std::vector<double>(6, 0.2),
                              {{1.0, 2.0, 3.0, 1.5, 2.5, 0.5},
                               {3.0, 1.0, 2.0, 0.5, 1.0, 2.0},
                               {2.0, 3.0, 1.0, 2.0, 0.5, 1.5}},
                              9, 0.05);
    ListedInput l = with_list(c, n, {1, 2, 6});
    const Result r = infer(l.input);
    EXPECT_EQ(r.m, 2);
    EXPECT_EQ(r.runs, 45);
    auto R = [&r](int i, int j) { return r.R[static_cast<std::size_t>((i - 1) + (j - 1) * 6)]; };
    for (int i = 1; i <= n; ++i) {
        int strongest = 0;
        for (int j = 1; j <= n; ++j) {
            const bool listed = j == 1 || j == 2 || j == 6;
            if (i == j || !listed) {
                EXPECT_EQ(R(i, j), 0.0) << i << " " << j;
                continue;
            }
            EXPECT_NE(R(i, j), 0.0) << i << " " << j;  // held by some run
            if (strongest == 0 || std::abs(R(i, j)) > std::abs(R(i, strongest))) strongest = j;
        }
        const int truth = i == 4 ? 2 : (i == 1 || i == 6 ? 0 : 1);
        if (truth == 0) continue;
        EXPECT_EQ(strongest, truth) << i;
        EXPECT_EQ(R(i, truth) > 0.0, at(i, truth) > 0.0) << i;
    }
}

// Two candidates and five genes: m = r = 2, so one run ranks its 2 x 4 pairs, and the scores
// are exactly the scaled ranks 0, 1/7, ..., 1. A lone pair (two genes, one candidate) ties
// with itself: 0.5, with the sign of its slope.
TEST(ListInfer, OneRunGivesTheScaledRanksAndALonePairOneHalf) {
    const int n = 5;
    Courses c = random_courses(n, 3, 6, 21);
    ListedInput l = with_list(c, n, {2, 4});
    const Result r = infer(l.input);
    ASSERT_EQ(r.runs, 1);
    std::vector<double> scores;
    for (int j : {2, 4}) {
        for (int i = 1; i <= n; ++i)
            if (i != j)
                scores.push_back(std::abs(r.R[static_cast<std::size_t>((i - 1) + (j - 1) * n)]));
    }
    std::sort(scores.begin(), scores.end());
    for (int k = 0; k < 8; ++k) EXPECT_EQ(scores[static_cast<std::size_t>(k)], k / 7.0) << k;

    Courses two = random_courses(2, 2, 5, 4);
    ListedInput lone = with_list(two, 2, {1});
    const Result single = infer(lone.input);
    EXPECT_EQ(single.runs, 1);
    EXPECT_EQ(std::abs(single.R[1]), 0.5);
    EXPECT_EQ(single.R[0] + single.R[2] + single.R[3], 0.0);
}

// A listed gene that does not change is left out, as if neither the courses nor the list held
// it: the others' scores are bit for bit those without it.
TEST(ListInfer, AListedGeneWithoutChangeIsLeftOut) {
    const int n = 7;
    Courses c = random_courses(n, 3, 9, 5);
    for (std::vector<double>& Y : c.levels) {
        for (int j = 0; j < 9; ++j) Y[static_cast<std::size_t>(j + 2 * 9)] = 2.5;
    }
    ListedInput l = with_list(c, n, {1, 3, 4, 6, 7});
    const Result r = infer(l.input);
    EXPECT_EQ(r.flat_genes, std::vector<int>{3});
    EXPECT_EQ(r.regulators, 4);
    Courses rest = without_gene(c, n, 2);
    ListedInput fewer = with_list(rest, n - 1, {1, 3, 5, 6});
    const Result without = infer(fewer.input);
    EXPECT_EQ(r.runs, without.runs);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double expected =
                i == 2 || j == 2
                    ? 0.0
                    : without.R[static_cast<std::size_t>((i - (i > 2)) + (j - (j > 2)) * (n - 1))];
            EXPECT_EQ(r.R[static_cast<std::size_t>(i + j * n)], expected) << i << j;
        }
    }
}

// 300 runs of 10 of 100 candidates, more than one block of runs: the same bytes for every
// thread count; another seed draws other subsets.
TEST(ListInfer, SameResultForEveryThreadCountAndOtherSeedsDiffer) {
    const int n = 120;
    Courses c = random_courses(n, 4, 7, 9);
    std::vector<int> listed;
    for (int g = 1; g <= 100; ++g) listed.push_back(g + (g > 50 ? 20 : 0));
    ListedInput one = with_list(c, n, listed, 3, 1);
    const Result first = infer(one.input);
    EXPECT_EQ(first.runs, 300);
    for (int threads : {2, 3}) {
        ListedInput more = with_list(c, n, listed, 3, threads);
        EXPECT_EQ(infer(more.input).R, first.R) << threads;
    }
    ListedInput other = with_list(c, n, listed, 4, 1);
    EXPECT_NE(infer(other.input).R, first.R);
}

}  // namespace
}  // namespace netrevia::ensemble
