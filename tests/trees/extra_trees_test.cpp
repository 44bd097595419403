#include "trees/extra_trees.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace netrevia::trees {
namespace {

// A learning sample of N cases kept with its storage: columns of X one after another.
struct Table {
    int N = 0;
    std::vector<double> X;
    std::vector<double> y;
    std::vector<int> candidates;

    Table(std::vector<std::vector<double>> columns, std::vector<double> outputs)
        : N(static_cast<int>(outputs.size())), y(std::move(outputs)) {
        for (std::size_t a = 0; a < columns.size(); ++a) {
            X.insert(X.end(), columns[a].begin(), columns[a].end());
            candidates.push_back(static_cast<int>(a) + 1);
        }
    }
    Sample sample() const { return {N, numeric::ConstMatrixRef{X.data(), N}, y, candidates}; }

    std::vector<double> importances(const Settings& settings, std::uint64_t seed) const {
        Random random(seed, 1);
        Work work;
        std::vector<double> importance(candidates.size(), 0.0);
        add_importances(sample(), settings, random, work, importance);
        return importance;
    }
};

// The root split of x = (1, 2, 3, 4), y = (0, 0, 6, 6) by hand. The sum of squares about the
// mean is 36; a cut a_c = 1 + 3u sends the cases below it left:
//   a_c in (1, 2]: {1} | {2, 3, 4}, means 0 and 4, decrease (1 x 3 / 4) x 16 = 12
//   a_c in (2, 3]: {1, 2} | {3, 4}, means 0 and 6, decrease (2 x 2 / 4) x 36 = 36
//   a_c in (3, 4): {1, 2, 3} | {4}, means 2 and 6, decrease (3 x 1 / 4) x 16 = 12
double worked_decrease(double u) {
    const double cut = 1.0 + u * 3.0;
    return cut <= 2.0 ? 12.0 : cut <= 3.0 ? 36.0 : 12.0;
}

// With min_split 4 only the root is split (its children hold 1 to 3 cases); one uniform draw
// decides the cut, so each seed gives the table's decrease for its draw.
TEST(ExtraTrees, RootSplitOfOneAttributeMatchesTheWorkedTable) {
    const Table table({{1, 2, 3, 4}}, {0, 0, 6, 6});
    int middle = 0;
    for (std::uint64_t seed = 0; seed < 24; ++seed) {
        Random twin(seed, 1);
        const double expected = worked_decrease(twin.uniform());
        middle += expected == 36.0 ? 1 : 0;
        const std::vector<double> importance = table.importances({1, 0, 4}, seed);
        EXPECT_DOUBLE_EQ(importance[0], expected) << seed;
    }
    EXPECT_GT(middle, 0);  // both kinds of cut were met
    EXPECT_LT(middle, 24);
}

// The cut is uniform between the node's smallest and largest value: each row of the table has
// probability 1/3, so the mean over many trees is (12 + 36 + 12) / 3 = 20 (standard error 0.25
// for 2000 trees). A cut drawn over [0, max] would give 19, one over a wider range less.
TEST(ExtraTrees, MeanImportanceOverTreesFollowsAUniformCut) {
    const Table table({{1, 2, 3, 4}}, {0, 0, 6, 6});
    EXPECT_NEAR(table.importances({2000, 0, 4}, 5)[0], 20.0, 0.75);
}

// Two attributes tried at the root (K = all): the split with the larger decrease is kept, and
// on a tie the first attribute in the candidates' order. The second attribute orders the
// outputs (0, 6, 0, 6): decreases 12, 0, 12 for the same three ranges of its cut.
TEST(ExtraTrees, BestOfTheDrawnSplitsWinsAndTheFirstTakesATie) {
    const Table table({{1, 2, 3, 4}, {1, 3, 2, 4}}, {0, 0, 6, 6});
    for (std::uint64_t seed = 0; seed < 24; ++seed) {
        Random twin(seed, 1);
        const double first = worked_decrease(twin.uniform());
        const double u = twin.uniform();
        const double cut = 1.0 + u * 3.0;
        const double second = cut <= 2.0 || cut > 3.0 ? 12.0 : 0.0;
        const std::vector<double> importance = table.importances({1, 0, 4}, seed);
        EXPECT_EQ(importance[0], first >= second ? first : 0.0) << seed;
        EXPECT_EQ(importance[1], first >= second ? 0.0 : second) << seed;
    }
}

// Fully grown trees (min_split 2) end in leaves of one case or of equal outputs, so the splits
// of every tree remove the whole sum of squares: the importances add up to it, whatever the
// draws. A constant attribute is never split on.
TEST(ExtraTrees, FullyGrownTreesExplainTheWholeSumOfSquares) {
    const Table table({{1, 2, 3, 4, 5, 6}, {2, 2, 2, 2, 2, 2}, {6, 1, 5, 2, 4, 3}},
                      {1, 3, 2, 7, 7, 0});
    // mean 20 / 6; sum of squares = 112 - 400 / 6
    const double total = 112.0 - 400.0 / 6.0;
    for (const Settings& settings : {Settings{7, 0, 2}, Settings{7, 1, 2}, Settings{7, 2, 2}}) {
        const std::vector<double> importance = table.importances(settings, 3);
        EXPECT_NEAR(importance[0] + importance[1] + importance[2], total, 1e-12) << settings.K;
        EXPECT_EQ(importance[1], 0.0);
    }
}

// K = 1 draws one attribute per node among the non-constant ones: two copies of the same
// column share the table's mean of 20 about equally, and the constant third column, never
// drawn, takes nothing from them (a node that drew it would end as a leaf).
TEST(ExtraTrees, OneAttributePerSplitIsDrawnAmongTheNonConstantOnes) {
    const Table table({{1, 2, 3, 4}, {1, 2, 3, 4}, {9, 9, 9, 9}}, {0, 0, 6, 6});
    const std::vector<double> importance = table.importances({4000, 1, 4}, 11);
    EXPECT_NEAR(importance[0] + importance[1], 20.0, 0.6);
    EXPECT_NEAR(importance[0], 10.0, 1.0);
    EXPECT_NEAR(importance[1], 10.0, 1.0);
    EXPECT_EQ(importance[2], 0.0);
}

// Leaves: a node below min_split, a constant output, constant attributes.
TEST(ExtraTrees, NodesThatCannotBeSplitGiveNoImportance) {
    const Table four({{1, 2, 3, 4}}, {0, 0, 6, 6});
    EXPECT_EQ(four.importances({5, 0, 5}, 0)[0], 0.0);  // 4 cases < min_split 5
    const Table flat({{1, 2, 3, 4}}, {2, 2, 2, 2});
    EXPECT_EQ(flat.importances({5, 0, 2}, 0)[0], 0.0);
    const Table constant({{3, 3, 3, 3}}, {0, 0, 6, 6});
    EXPECT_EQ(constant.importances({5, 0, 2}, 0)[0], 0.0);
}

// The draws are fixed by the seed and the stream on every platform: the first uniform of seed
// 0, stream 1, pinned; below(k) stays below k.
TEST(ExtraTreesRandom, DrawsAreFixedBySeedAndStream) {
    Random a(0, 1);
    Random b(0, 1);
    Random c(0, 2);
    Random d(1, 1);
    const double first = a.uniform();
    EXPECT_EQ(first, b.uniform());
    EXPECT_NE(first, c.uniform());
    EXPECT_NE(first, d.uniform());
    EXPECT_EQ(first, 0x1.0b23c9ab807f1p-2);
    EXPECT_GT(first, 0.0);
    EXPECT_LT(first, 1.0);
    for (int draw = 0; draw < 100; ++draw) EXPECT_LT(a.below(3), 3u);
}

}  // namespace
}  // namespace netrevia::trees
