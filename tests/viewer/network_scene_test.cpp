// The scene of a cut: exactly the shown edges, each in the pen and with the head of its sign
// and rank, the genes they join, the legend; faded away from a selected gene.
#include "viewer/network_scene.h"

#include <gtest/gtest.h>

#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <set>

#include "support/support.h"
#include "viewer_testing.h"

namespace netrevia::viewer {
namespace {

namespace fs = std::filesystem;

std::vector<EdgeItem*> edge_items(const QGraphicsScene& scene) {
    std::vector<EdgeItem*> edges;
    for (QGraphicsItem* item : scene.items(Qt::AscendingOrder))
        if (item->type() == kEdgeItemType) edges.push_back(static_cast<EdgeItem*>(item));
    std::sort(edges.begin(), edges.end(),
              [](EdgeItem* a, EdgeItem* b) { return a->edge().rank < b->edge().rank; });
    return edges;
}

int count_of(const QGraphicsScene& scene, int type) {
    int count = 0;
    for (const QGraphicsItem* item : scene.items()) count += item->type() == type;
    return count;
}

class NetworkSceneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const test_support::TempDir folder("netrevia-viewer-scene");
        results = new Results(
            viewer_testing::window_run(fs::path(EXAMPLES_DIR) / "twenty_genes.dat", folder.path()));
    }
    static void TearDownTestSuite() { delete results; }

    void build(const Cut& cut, std::size_t cap = kDrawnEdgeCap) {
        drawing = plan_drawing(*results, results->apply(cut, cap), font);
        lay_out(drawing);
        build_scene(scene, drawing, *results, font, font);
    }

    static Results* results;
    QFont font;
    QGraphicsScene scene;
    NetworkDrawing drawing;
};

Results* NetworkSceneTest::results = nullptr;

TEST_F(NetworkSceneTest, HoldsExactlyTheShownEdgesInTheirPensAndHeads) {
    build({0.39, 0, true});
    EXPECT_EQ(drawing.program, "dot");
    const std::vector<EdgeItem*> edges = edge_items(scene);
    ASSERT_EQ(edges.size(), 41u);  // the batch tool's count at --threshold 0.39
    ASSERT_EQ(drawing.cut.between_shown, 28);
    std::set<int> genes;
    for (std::size_t k = 0; k < edges.size(); ++k) {
        const EdgeItem& item = *edges[k];
        const output::RankedEdge& e = drawing.cut.shown[k];
        EXPECT_EQ(item.edge().rank, e.rank);
        EXPECT_EQ(item.edge().regulator, e.regulator);
        EXPECT_EQ(item.edge().target, e.target);
        const bool activation = e.weight > 0.0;
        EXPECT_EQ(item.head(), activation ? EdgeHead::kArrow : EdgeHead::kBar) << e.rank;
        const QColor colour = item.pen().color();
        EXPECT_EQ(colour.rgb(), (activation ? kActivationColour : kRepressionColour).rgb());
        if (k < 28) {
            EXPECT_EQ(colour.alpha(), 255);
            EXPECT_EQ(item.pen().style(), Qt::SolidLine);
            EXPECT_FALSE(item.self_loop());
            // Width by rank among the 28: 5 for the first, 1 for the last, evenly between.
            EXPECT_DOUBLE_EQ(item.pen().widthF(), 1.0 + 4.0 * static_cast<double>(27 - k) / 27.0);
        } else {
            EXPECT_TRUE(item.self_loop());
            EXPECT_EQ(colour.alpha(), kSelfLoopAlpha);
            EXPECT_EQ(item.pen().style(), Qt::DashLine);
            EXPECT_EQ(item.pen().widthF(), kThinnestEdge);
        }
        genes.insert(e.regulator);
        genes.insert(e.target);
    }
    EXPECT_EQ(edges[0]->toolTip(), "G18 represses G01\nweight -1.9491, rank 1");
    // Heads sit on the route's end: an arrow's triangle points along it from its base to the
    // tip, a bar crosses it at the tip, both symmetric about the line and wider than the pen.
    for (const EdgeItem* item : edges) {
        const QPolygonF& head = item->head_shape();
        const QLineF along(item->base(), item->tip());
        ASSERT_GT(along.length(), 0.0) << item->edge().rank;
        EXPECT_EQ(item->path().currentPosition(), item->base()) << item->edge().rank;
        const QPointF middle = item->head() == EdgeHead::kArrow ? (head[1] + head[2]) / 2.0
                                                                : (head[0] + head[1]) / 2.0;
        const QLineF across =
            item->head() == EdgeHead::kArrow ? QLineF(head[1], head[2]) : QLineF(head[0], head[1]);
        ASSERT_EQ(head.size(), item->head() == EdgeHead::kArrow ? 3 : 2);
        if (item->head() == EdgeHead::kArrow) {
            EXPECT_EQ(head[0], item->tip());
            EXPECT_NEAR(QLineF(middle, item->base()).length(), 0.0, 1e-9);
        } else {
            EXPECT_NEAR(QLineF(middle, item->tip()).length(), 0.0, 1e-9);
        }
        EXPECT_NEAR(std::abs(along.angleTo(across) - 180.0), 90.0, 1e-6) << item->edge().rank;
        EXPECT_GT(across.length(), item->pen().widthF()) << item->edge().rank;
    }
    EXPECT_EQ(count_of(scene, kNodeItemType), static_cast<int>(genes.size()));
    EXPECT_EQ(count_of(scene, kLegendItemType), 1);
}

TEST_F(NetworkSceneTest, ANewCutIsANewScene) {
    build({0.39, 0, true});
    // The batch tool's --top 12 --no-self-loops: the strongest 12 between distinct genes (the
    // strongest 12 entries of all hold 8 self-terms).
    build({0.0, 12, false});
    EXPECT_EQ(edge_items(scene).size(), 12u);
    for (const EdgeItem* item : edge_items(scene)) EXPECT_FALSE(item->self_loop());
    build({100.0, 0, true});
    EXPECT_TRUE(edge_items(scene).empty());
    EXPECT_EQ(count_of(scene, kNodeItemType), 0);
    bool said = false;
    for (const QGraphicsItem* item : scene.items()) {
        if (const auto* text = qgraphicsitem_cast<const QGraphicsSimpleTextItem*>(item))
            said = text->text().startsWith("No edge is drawn at this cut");
    }
    EXPECT_TRUE(said);
}

TEST_F(NetworkSceneTest, CapShowsTheStrongestAndTheLegendSaysSo) {
    build({1.0e-6, 0, true}, 30);
    EXPECT_EQ(edge_items(scene).size(), 30u);
    EXPECT_EQ(edge_items(scene).back()->edge().rank, 30);
    EXPECT_EQ(legend_notes(drawing),
              (QStringList{"wider line: larger |R|", "dashed loop: self-term", "threshold 1e-06",
                           "showing the strongest 30 of 99 edges"}));
    build({0.0, 12, false});
    EXPECT_EQ(legend_notes(drawing), (QStringList{"wider line: larger |R|", "self-terms not drawn",
                                                  "strongest 12 entries (threshold 0.87535)"}));
}

TEST_F(NetworkSceneTest, SelectedGeneKeepsItsEdgesAndNeighboursInFront) {
    build({0.39, 0, true});
    highlight_gene(scene, 18);
    std::set<int> near{18};
    for (const EdgeItem* item : edge_items(scene)) {
        const bool touches = item->edge().regulator == 18 || item->edge().target == 18;
        EXPECT_EQ(item->opacity() == 1.0, touches) << item->edge().rank;
        if (touches) {
            near.insert(item->edge().regulator);
            near.insert(item->edge().target);
        }
    }
    EXPECT_EQ(near, (std::set<int>{1, 5, 7, 9, 13, 16, 18, 19}));
    for (const QGraphicsItem* item : scene.items()) {
        if (item->type() != kNodeItemType) continue;
        const int gene = static_cast<const NodeItem*>(item)->gene();
        EXPECT_EQ(item->opacity() == 1.0, near.contains(gene)) << gene;
    }
    highlight_gene(scene, 0);
    for (const QGraphicsItem* item : scene.items()) EXPECT_EQ(item->opacity(), 1.0);
}

}  // namespace
}  // namespace netrevia::viewer
