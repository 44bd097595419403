// The edge table's models without a view: rows, roles, the drawn column under a new cut, and
// what sorting and each filter keep, row by row.
#include "viewer/edge_table_model.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QSignalSpy>
#include <cmath>

#include "viewer/network_scene.h"
#include "viewer_testing.h"

namespace netrevia::viewer {
namespace {

// R of four genes: G1..G3 and a gene named G10, to tell a name filter from a prefix.
//        j=1    j=2    j=3    j=4
// i=1    0.9   -0.4    0      0.05
// i=2    0.4    0      0.7    0
// i=3    0     -0.6    0     -0.2
// i=4    0.3    0      0      0
class EdgeTableTest : public ::testing::Test {
protected:
    EdgeTableTest() {
        RunResults run = viewer_testing::results_of(
            4, {0.9, 0.4, 0.0, 0.3, -0.4, 0.0, -0.6, 0.0, 0.0, 0.7, 0.0, 0.0, 0.05, 0.0, -0.2, 0.0},
            0.35);
        run.summary.network.full_names[3] = "G10";
        results = std::make_shared<const Results>(std::move(run));
        model.set_results(results, true, 0.35);
        proxy.setSourceModel(&model);
    }
    // The ranks of the proxy's rows, top to bottom.
    std::vector<int> ranks() const {
        std::vector<int> shown;
        for (int row = 0; row < proxy.rowCount(); ++row)
            shown.push_back(proxy.index(row, EdgeTableModel::kRank).data().toInt());
        return shown;
    }
    QString cell(int row, int column, int role = Qt::DisplayRole) const {
        return model.index(row, column).data(role).toString();
    }

    std::shared_ptr<const Results> results;
    EdgeTableModel model;
    EdgeFilterModel proxy;
};

// Ranks: 1 G3->G2 0.7, 2 G2->G3 -0.6, 3 G1->G2 0.4, 4 G2->G1 -0.4, 5 G1->G10 0.3,
//        6 G10->G3 -0.2, 7 G10->G1 0.05, then 8 G1->G1 0.9.
TEST_F(EdgeTableTest, RowsAreTheRankedEntriesWithTheirFields) {
    ASSERT_EQ(model.rowCount(), 8);
    ASSERT_EQ(model.columnCount(), 6);
    const QStringList first{"1", "G3", "G2", "0.7", "activation", "yes"};
    const QStringList fourth{"4", "G2", "G1", "-0.4", "repression", "yes"};
    const QStringList last{"8", "G1", "G1", "0.9", "activation", "yes"};
    const QStringList sixth{"6", "G10", "G3", "-0.2", "repression", "no"};
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(cell(0, column), first[column]) << column;
        EXPECT_EQ(cell(3, column), fourth[column]) << column;
        EXPECT_EQ(cell(5, column), sixth[column]) << column;
        EXPECT_EQ(cell(7, column), last[column]) << column;
    }
    // What a copy takes: edges.tsv's own fields.
    const QStringList exported{"6", "G10", "G3", "-0.20000000000000001", "-1", "0"};
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(cell(5, column, EdgeTableModel::kExportRole), exported[column]) << column;
    EXPECT_EQ(cell(5, EdgeTableModel::kWeight, Qt::ToolTipRole), "-0.20000000000000001");
    EXPECT_EQ(model.index(1, EdgeTableModel::kSign).data(Qt::ForegroundRole).value<QColor>(),
              kRepressionColour);
    // Numbers right-aligned, names and words left.
    for (int column = 0; column < 6; ++column) {
        const auto alignment =
            model.index(0, column).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        const bool number = column == EdgeTableModel::kRank || column == EdgeTableModel::kWeight;
        EXPECT_EQ(alignment & Qt::AlignHorizontal_Mask, number ? Qt::AlignRight : Qt::AlignLeft)
            << column;
    }

    model.set_results(results, false, 0.35);
    EXPECT_EQ(model.rowCount(), 7);  // no self-term
}

TEST_F(EdgeTableTest, NewThresholdChangesTheDrawnColumnOnly) {
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.set_threshold(0.5);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(0, EdgeTableModel::kDrawn));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(7, EdgeTableModel::kDrawn));
    QStringList drawn;
    for (int row = 0; row < model.rowCount(); ++row) drawn << cell(row, EdgeTableModel::kDrawn);
    EXPECT_EQ(drawn, (QStringList{"yes", "yes", "no", "no", "no", "no", "no", "yes"}));
    model.set_threshold(0.5);
    EXPECT_EQ(changed.count(), 1);  // the same threshold changes nothing
}

TEST_F(EdgeTableTest, SortsByEachColumnWithTiesByRank) {
    EXPECT_EQ(ranks(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    proxy.sort(EdgeTableModel::kWeight, Qt::AscendingOrder);
    EXPECT_EQ(ranks(), (std::vector<int>{2, 4, 6, 7, 5, 3, 1, 8}));
    proxy.sort(EdgeTableModel::kRegulator, Qt::AscendingOrder);  // G1, G10, G2, G3
    EXPECT_EQ(ranks(), (std::vector<int>{3, 5, 8, 6, 7, 2, 4, 1}));
    proxy.sort(EdgeTableModel::kTarget, Qt::DescendingOrder);
    EXPECT_EQ(ranks(), (std::vector<int>{6, 2, 3, 1, 5, 8, 7, 4}));
    proxy.sort(EdgeTableModel::kSign, Qt::AscendingOrder);  // activations first
    EXPECT_EQ(ranks(), (std::vector<int>{1, 3, 5, 7, 8, 2, 4, 6}));
    proxy.sort(EdgeTableModel::kDrawn, Qt::AscendingOrder);  // drawn first
    EXPECT_EQ(ranks(), (std::vector<int>{1, 2, 3, 4, 8, 5, 6, 7}));
    proxy.sort(EdgeTableModel::kRank, Qt::DescendingOrder);
    EXPECT_EQ(ranks(), (std::vector<int>{8, 7, 6, 5, 4, 3, 2, 1}));
    proxy.sort(EdgeTableModel::kRank, Qt::AscendingOrder);
    EXPECT_EQ(ranks(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(EdgeTableTest, FiltersKeepTheRowsOfANameOfOneGeneAndOfTheCut) {
    proxy.set_name_filter("g1");  // G1 and G10, either side, case ignored
    EXPECT_EQ(ranks(), (std::vector<int>{3, 4, 5, 6, 7, 8}));
    proxy.set_name_filter("10");
    EXPECT_EQ(ranks(), (std::vector<int>{5, 6, 7}));
    proxy.set_name_filter("");
    proxy.set_gene(1);  // G1 alone, not G10's edges to others
    EXPECT_EQ(ranks(), (std::vector<int>{3, 4, 5, 7, 8}));
    proxy.set_drawn_only(true);
    EXPECT_EQ(ranks(), (std::vector<int>{3, 4, 8}));
    model.set_threshold(0.45);  // the filter follows the cut
    EXPECT_EQ(ranks(), (std::vector<int>{8}));
    proxy.set_gene(0);
    EXPECT_EQ(ranks(), (std::vector<int>{1, 2, 8}));
    proxy.set_drawn_only(false);
    proxy.set_name_filter("x");
    EXPECT_EQ(proxy.rowCount(), 0);
}

}  // namespace
}  // namespace netrevia::viewer
