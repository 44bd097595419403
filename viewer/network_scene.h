#pragma once

#include <QColor>
#include <QFont>
#include <QGraphicsItem>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QPolygonF>
#include <QString>
#include <vector>

#include "viewer/graph_layout.h"
#include "viewer/results.h"

namespace netrevia::viewer {

// The colours of the batch tool's drawing: activation blue, repression red; self-loops the same
// colours, faint.
inline const QColor kActivationColour{0x2b, 0x6c, 0xb0};
inline const QColor kRepressionColour{0xc0, 0x39, 0x2b};
inline constexpr int kSelfLoopAlpha = 0x66;
// Pen widths by rank among the drawn edges between distinct genes, in points.
inline constexpr double kThinnestEdge = 1.0;
inline constexpr double kThickestEdge = 5.0;
// Length of an arrowhead or bar along its edge, in points.
inline constexpr double kHeadLength = 9.0;

// What the picture of one cut is made of. plan_drawing fills it on the GUI thread (which genes,
// the sizes of their labelled boxes); lay_out adds the layout, anywhere; build_scene turns it
// into items.
struct NetworkDrawing {
    CutNetwork cut;
    std::vector<int> genes;         // node k of the layout is gene genes[k] (1-based)
    std::vector<LayoutNode> boxes;  // one per node
    std::vector<LayoutEdge> edges;  // cut.shown[k] for k < cut.between_shown, by node
    std::vector<QString> labels;    // one per node
    std::string program;            // the layout program
    GraphLayout layout;
    int gene_count = 0;  // of the network
};

NetworkDrawing plan_drawing(const Results& results, CutNetwork cut, const QFont& font);
// Runs the layout program (compute_layout); throws LayoutError.
void lay_out(NetworkDrawing& drawing);

inline constexpr int kNodeItemType = QGraphicsItem::UserType + 1;
inline constexpr int kEdgeItemType = QGraphicsItem::UserType + 2;
inline constexpr int kLegendItemType = QGraphicsItem::UserType + 3;

// A gene: a rounded box with its full name. Selectable: a click selects the gene.
class NodeItem final : public QGraphicsItem {
public:
    NodeItem(int gene, QString label, QRectF box, QFont font);
    int type() const override { return kNodeItemType; }
    int gene() const noexcept { return gene_; }
    const QString& label() const noexcept { return label_; }
    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) override;

private:
    int gene_;
    QString label_;
    QRectF box_;
    QFont font_;
};

enum class EdgeHead { kArrow, kBar };

// An edge from regulator to target: its route, in the pen of its sign and rank, and its head,
// an arrow for an activation or a bar for a repression. The tool tip names both genes and the
// weight.
class EdgeItem final : public QGraphicsPathItem {
public:
    EdgeItem(const output::RankedEdge& edge,
             const QPainterPath& route,
             QPointF base,
             QPointF tip,
             const QPen& pen);
    int type() const override { return kEdgeItemType; }
    const output::RankedEdge& edge() const noexcept { return edge_; }
    EdgeHead head() const noexcept {
        return edge_.weight > 0.0 ? EdgeHead::kArrow : EdgeHead::kBar;
    }
    bool self_loop() const noexcept { return edge_.regulator == edge_.target; }
    // The head: for an arrow its triangle (tip first), for a bar its two ends; and the points
    // the route ends at and the head reaches.
    const QPolygonF& head_shape() const noexcept { return head_; }
    QPointF base() const noexcept { return base_; }
    QPointF tip() const noexcept { return tip_; }
    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) override;

private:
    output::RankedEdge edge_;
    QPolygonF head_;  // the arrow's triangle, or the bar's two ends
    QPointF base_;
    QPointF tip_;
};

// The key to the picture: the two kinds of edge, what width and dashes mean, and the cut.
class LegendItem final : public QGraphicsItem {
public:
    LegendItem(QStringList notes, QFont font);
    int type() const override { return kLegendItemType; }
    const QStringList& notes() const noexcept { return notes_; }
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) override;

private:
    QStringList notes_;
    QFont font_;
    QRectF bounds_;
};

// The lines of the legend below the two sample edges for this cut: what widths and dashes mean,
// the cut, and the cap when it holds edges back.
QStringList legend_notes(const NetworkDrawing& drawing);

// Empties the scene and fills it from the drawing: one NodeItem per drawn gene, one EdgeItem per
// shown edge (self-loops included), the legend above the network, or, when nothing is drawn, a
// line saying so. Edge pens follow the batch tool's drawing: widths from kThickestEdge
// (strongest) to kThinnestEdge by rank among the shown edges between distinct genes; self-loops
// kThinnestEdge, faint and dashed.
void build_scene(QGraphicsScene& scene,
                 const NetworkDrawing& drawing,
                 const Results& results,
                 const QFont& font,
                 const QFont& legend_font);

// Fades everything but gene and its regulators and targets (gene 0: nothing faded).
void highlight_gene(QGraphicsScene& scene, int gene);

}  // namespace netrevia::viewer
