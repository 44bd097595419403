#include "viewer/network_scene.h"

#include <QFontMetricsF>
#include <QGraphicsSimpleTextItem>
#include <QLineF>
#include <QPainter>
#include <QPainterPathStroker>
#include <QStyleOptionGraphicsItem>
#include <algorithm>
#include <cmath>

#include "output/network_exports.h"

namespace netrevia::viewer {

namespace {

constexpr double kBoxPaddingX = 7.0;
constexpr double kBoxPaddingY = 4.0;
constexpr double kMinimumBoxWidth = 30.0;
constexpr double kLegendGap = 16.0;     // between the legend and the network
constexpr double kHoverWidth = 7.0;     // an edge answers the mouse this far across
constexpr double kFadedOpacity = 0.12;  // edges and genes away from a selected gene
constexpr double kFadedNodeOpacity = 0.3;
constexpr double kFlatAspect =
    3.0;  // a layout this many times wider than high, or higher than wide

QColor colour_of(double weight) { return weight > 0.0 ? kActivationColour : kRepressionColour; }

QPointF point_of(const LayoutPoint& p) { return {p.x, p.y}; }

// A unit vector from a to b, or along +x when they meet.
QPointF direction(QPointF a, QPointF b) {
    const QPointF d = b - a;
    const double length = std::hypot(d.x(), d.y());
    return length > 0.0 ? d / length : QPointF(1.0, 0.0);
}

// A threshold as the legend shows it: six significant digits, as the batch drawing does.
QString threshold_text(double t) { return QString::number(t, 'g', 6); }

}  // namespace

NetworkDrawing plan_drawing(const Results& results, CutNetwork cut, const QFont& font) {
    NetworkDrawing drawing;
    drawing.gene_count = results.network().n;
    std::vector<int> node_of(static_cast<std::size_t>(drawing.gene_count) + 1, -1);
    for (const output::RankedEdge& e : cut.shown) {
        node_of[static_cast<std::size_t>(e.regulator)] = 0;
        node_of[static_cast<std::size_t>(e.target)] = 0;
    }
    const QFontMetricsF metrics(font);
    for (int g = 1; g <= drawing.gene_count; ++g) {
        if (node_of[static_cast<std::size_t>(g)] < 0) continue;
        node_of[static_cast<std::size_t>(g)] = static_cast<int>(drawing.genes.size());
        drawing.genes.push_back(g);
        const QString label = QString::fromStdString(
            output::printable_name(results.names()[static_cast<std::size_t>(g - 1)]));
        drawing.labels.push_back(label);
        drawing.boxes.push_back(
            {std::max(kMinimumBoxWidth, metrics.horizontalAdvance(label) + 2.0 * kBoxPaddingX),
             metrics.height() + 2.0 * kBoxPaddingY});
    }
    for (int k = 0; k < cut.between_shown; ++k) {
        const output::RankedEdge& e = cut.shown[static_cast<std::size_t>(k)];
        drawing.edges.push_back({node_of[static_cast<std::size_t>(e.regulator)],
                                 node_of[static_cast<std::size_t>(e.target)]});
    }
    drawing.program = layout_program(drawing.gene_count, cut.positive_edges + cut.negative_edges);
    drawing.cut = std::move(cut);
    return drawing;
}

void lay_out(NetworkDrawing& drawing) {
    if (drawing.genes.empty()) {
        drawing.layout = GraphLayout{};
        drawing.layout.program = drawing.program;
        return;
    }
    drawing.layout = compute_layout(drawing.boxes, drawing.edges, drawing.program, kHeadLength);
    // A layered layout of many genes in few ranks comes out a thin strip, unreadable once
    // fitted to the window; with its ranks side by side instead it may come out nearer a
    // square, and then that one is kept.
    const auto flatness = [](const GraphLayout& layout) {
        return layout.width > 0.0 && layout.height > 0.0
                   ? std::abs(std::log(layout.width / layout.height))
                   : 0.0;
    };
    if (drawing.program == "dot" && flatness(drawing.layout) > std::log(kFlatAspect)) {
        GraphLayout across =
            compute_layout(drawing.boxes, drawing.edges, drawing.program, kHeadLength, true);
        if (flatness(across) < flatness(drawing.layout)) drawing.layout = std::move(across);
    }
}

NodeItem::NodeItem(int gene, QString label, QRectF box, QFont font)
    : gene_(gene), label_(std::move(label)), box_(box), font_(std::move(font)) {
    setFlag(ItemIsSelectable);
    setZValue(1.0);
    setAcceptHoverEvents(true);
}

QRectF NodeItem::boundingRect() const { return box_.adjusted(-2.0, -2.0, 2.0, 2.0); }

QPainterPath NodeItem::shape() const {
    QPainterPath path;
    path.addRect(box_);
    return path;
}

void NodeItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const bool selected = isSelected();
    painter->setPen(
        QPen(selected ? QColor(0xd3, 0x54, 0x00) : QColor(0x55, 0x55, 0x55), selected ? 2.5 : 1.0));
    painter->setBrush(selected ? QColor(0xfd, 0xeb, 0xd0) : QColor(0xf2, 0xf2, 0xf2));
    painter->drawRoundedRect(box_, 4.0, 4.0);
    painter->setPen(QColor(0x1a, 0x1a, 0x1a));
    painter->setFont(font_);
    painter->drawText(box_, Qt::AlignCenter, label_);
}

EdgeItem::EdgeItem(const output::RankedEdge& edge,
                   const QPainterPath& route,
                   QPointF base,
                   QPointF tip,
                   const QPen& pen)
    : QGraphicsPathItem(route), edge_(edge), base_(base), tip_(tip) {
    setPen(pen);
    setZValue(0.0);
    const QPointF along = direction(base_, tip_);
    const QPointF across(-along.y(), along.x());
    if (head() == EdgeHead::kArrow) {
        const double half = std::max(kHeadLength * 0.42, pen.widthF() * 1.1);
        head_ << tip_ << base_ + across * half << base_ - across * half;
    } else {
        // Wide enough to read as a bar across even the thickest line.
        const double half = std::max(kHeadLength * 0.7, pen.widthF() * 1.8);
        head_ << tip_ + across * half << tip_ - across * half;
    }
}

QPainterPath EdgeItem::shape() const {
    QPainterPathStroker stroker;
    stroker.setWidth(std::max(pen().widthF(), 1.0) + kHoverWidth);
    QPainterPath outline = stroker.createStroke(path());
    QPainterPath head;
    head.addPolygon(head_);
    head.lineTo(base_);
    outline.addPath(stroker.createStroke(head));
    return outline;
}

QRectF EdgeItem::boundingRect() const { return shape().boundingRect(); }

void EdgeItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setBrush(Qt::NoBrush);
    painter->setPen(pen());
    painter->drawPath(path());
    QPen solid = pen();
    solid.setStyle(Qt::SolidLine);
    if (head() == EdgeHead::kArrow) {
        solid.setWidthF(1.0);
        solid.setJoinStyle(Qt::MiterJoin);
        painter->setPen(solid);
        painter->setBrush(pen().color());
        painter->drawPolygon(head_);
    } else {
        painter->setPen(solid);
        painter->drawLine(base_, tip_);
        solid.setWidthF(std::max(pen().widthF(), 2.0));
        solid.setCapStyle(Qt::FlatCap);
        painter->setPen(solid);
        painter->drawLine(head_[0], head_[1]);
    }
}

LegendItem::LegendItem(QStringList notes, QFont font)
    : notes_(std::move(notes)), font_(std::move(font)) {
    const QFontMetricsF metrics(font_);
    double width =
        2.0 * 60.0 + metrics.horizontalAdvance(QStringLiteral("activatesrepresses")) + 3.0 * 12.0;
    for (const QString& note : notes_) width = std::max(width, metrics.horizontalAdvance(note));
    const double height = metrics.height() * (1.0 + static_cast<double>(notes_.size())) + 14.0;
    bounds_ = QRectF(0.0, 0.0, width + 16.0, height);
    setZValue(2.0);
}

QRectF LegendItem::boundingRect() const { return bounds_; }

void LegendItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const QFontMetricsF metrics(font_);
    painter->setFont(font_);
    painter->setPen(QPen(QColor(0x99, 0x99, 0x99), 1.0));
    painter->setBrush(QColor(0xff, 0xff, 0xff, 0xe6));
    painter->drawRoundedRect(bounds_.adjusted(0.5, 0.5, -0.5, -0.5), 5.0, 5.0);

    // Two sample edges side by side, each with its word.
    const double line = metrics.height();
    const double y = 7.0 + line / 2.0;
    double x = 8.0;
    for (const bool activation : {true, false}) {
        const QColor colour = activation ? kActivationColour : kRepressionColour;
        const QPointF start(x, y);
        const QPointF tip(x + 44.0, y);
        painter->setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::FlatCap));
        if (activation) {
            const QPointF base = tip - QPointF(kHeadLength, 0.0);
            painter->drawLine(start, base);
            painter->setBrush(colour);
            painter->setPen(QPen(colour, 1.0));
            painter->drawPolygon(
                QPolygonF{tip, base + QPointF(0.0, 3.8), base - QPointF(0.0, 3.8)});
        } else {
            painter->drawLine(start, tip);
            painter->setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::FlatCap));
            painter->drawLine(tip + QPointF(0.0, 5.5), tip - QPointF(0.0, 5.5));
        }
        const QString word = activation ? QObject::tr("activates") : QObject::tr("represses");
        painter->setPen(QColor(0x1a, 0x1a, 0x1a));
        painter->drawText(QPointF(x + 52.0, y + metrics.ascent() / 2.0 - 1.0), word);
        x += 52.0 + metrics.horizontalAdvance(word) + 18.0;
    }
    painter->setPen(QColor(0x33, 0x33, 0x33));
    for (qsizetype k = 0; k < notes_.size(); ++k) {
        painter->drawText(
            QPointF(8.0, 7.0 + line * static_cast<double>(k + 1) + metrics.ascent() + 2.0),
            notes_[k]);
    }
}

QStringList legend_notes(const NetworkDrawing& drawing) {
    const CutNetwork& cut = drawing.cut;
    QStringList notes;
    notes << QObject::tr("wider line: larger |R|");
    if (cut.cut.self_loops) {
        notes << QObject::tr("dashed loop: self-term");
    } else if (cut.self_edges > 0) {
        notes << QObject::tr("self-terms not drawn");
    }
    if (cut.cut.top > 0) {
        notes << QObject::tr("strongest %1 entries (threshold %2)")
                     .arg(cut.cut.top)
                     .arg(threshold_text(cut.threshold));
    } else {
        notes << QObject::tr("threshold %1").arg(threshold_text(cut.threshold));
    }
    if (cut.shown.size() < cut.drawn) {
        notes << QObject::tr("showing the strongest %1 of %2 edges")
                     .arg(cut.shown.size())
                     .arg(cut.drawn);
    }
    return notes;
}

void build_scene(QGraphicsScene& scene,
                 const NetworkDrawing& drawing,
                 const Results& results,
                 const QFont& font,
                 const QFont& legend_font) {
    scene.clear();
    const CutNetwork& cut = drawing.cut;
    const GraphLayout& layout = drawing.layout;
    const bool laid_out = layout.centres.size() == drawing.genes.size() &&
                          layout.edges.size() == drawing.edges.size();

    std::vector<QRectF> boxes;
    std::vector<int> node_of(static_cast<std::size_t>(drawing.gene_count) + 1, -1);
    if (laid_out) {
        for (std::size_t k = 0; k < drawing.genes.size(); ++k) {
            const QPointF centre = point_of(layout.centres[k]);
            const QRectF box(centre.x() - drawing.boxes[k].width / 2.0,
                             centre.y() - drawing.boxes[k].height / 2.0, drawing.boxes[k].width,
                             drawing.boxes[k].height);
            boxes.push_back(box);
            node_of[static_cast<std::size_t>(drawing.genes[k])] = static_cast<int>(k);
        }
    }

    // Regulators and targets of each gene among the shown edges, for the genes' tool tips.
    std::vector<int> regulators(node_of.size(), 0);
    std::vector<int> targets(node_of.size(), 0);
    for (const output::RankedEdge& e : cut.shown) {
        if (e.regulator == e.target) continue;
        ++regulators[static_cast<std::size_t>(e.target)];
        ++targets[static_cast<std::size_t>(e.regulator)];
    }
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const int gene = drawing.genes[k];
        auto* node = new NodeItem(gene, drawing.labels[k], boxes[k], font);
        node->setToolTip(QObject::tr("%1\nregulated by %2 drawn edge(s), regulates %3")
                             .arg(drawing.labels[k])
                             .arg(regulators[static_cast<std::size_t>(gene)])
                             .arg(targets[static_cast<std::size_t>(gene)]));
        scene.addItem(node);
    }

    const auto name = [&results](int gene) {
        return QString::fromStdString(
            output::printable_name(results.names()[static_cast<std::size_t>(gene - 1)]));
    };
    const auto tool_tip = [&name](const output::RankedEdge& e) {
        return QObject::tr("%1 %2 %3\nweight %4, rank %5")
            .arg(name(e.regulator),
                 e.weight > 0.0 ? QObject::tr("activates") : QObject::tr("represses"),
                 name(e.target), QString::number(e.weight, 'g', 6))
            .arg(e.rank);
    };
    const auto between = static_cast<std::size_t>(cut.between_shown);
    for (std::size_t k = 0; laid_out && k < cut.shown.size(); ++k) {
        const output::RankedEdge& e = cut.shown[k];
        EdgeItem* item = nullptr;
        if (k < between) {
            // Widths by rank among the shown edges between distinct genes, as the batch tool's
            // drawing: the strongest kThickestEdge, the weakest kThinnestEdge.
            const double share = between > 1 ? static_cast<double>(between - 1 - k) /
                                                   static_cast<double>(between - 1)
                                             : 1.0;
            QPen pen(colour_of(e.weight), kThinnestEdge + (kThickestEdge - kThinnestEdge) * share,
                     Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            const PlacedEdge& placed = layout.edges[k];
            QPainterPath route(point_of(placed.spline.front()));
            for (std::size_t p = 1; p + 2 < placed.spline.size(); p += 3) {
                route.cubicTo(point_of(placed.spline[p]), point_of(placed.spline[p + 1]),
                              point_of(placed.spline[p + 2]));
            }
            item =
                new EdgeItem(e, route, point_of(placed.spline.back()), point_of(placed.tip), pen);
        } else {
            // A self-loop: a small dashed loop from the top of the box round to its right side.
            const QRectF& box =
                boxes[static_cast<std::size_t>(node_of[static_cast<std::size_t>(e.target)])];
            const QPointF start(box.right() - std::min(12.0, box.width() / 4.0), box.top());
            const QPointF tip(box.right(), box.center().y() - box.height() / 6.0);
            const QPointF base = tip + QPointF(kHeadLength * 0.8, 0.0);
            QPainterPath route(start);
            route.cubicTo(start + QPointF(2.0, -22.0), base + QPointF(22.0, -14.0), base);
            QColor colour = colour_of(e.weight);
            colour.setAlpha(kSelfLoopAlpha);
            QPen pen(colour, kThinnestEdge, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin);
            item = new EdgeItem(e, route, base, tip, pen);
        }
        item->setToolTip(tool_tip(e));
        scene.addItem(item);
    }

    auto* legend = new LegendItem(legend_notes(drawing), legend_font);
    legend->setPos(0.0, -legend->boundingRect().height() - kLegendGap);
    scene.addItem(legend);
    if (cut.shown.empty()) {
        auto* note = scene.addSimpleText(
            QObject::tr("No edge is drawn at this cut: lower the threshold, or ask for the "
                        "strongest edges."),
            font);
        note->setBrush(QColor(0x55, 0x55, 0x55));
        note->setPos(0.0, 0.0);
    }
    scene.setSceneRect(scene.itemsBoundingRect().adjusted(-12.0, -12.0, 12.0, 12.0));
}

void highlight_gene(QGraphicsScene& scene, int gene) {
    std::vector<int> neighbours;
    for (QGraphicsItem* item : scene.items()) {
        if (item->type() != kEdgeItemType) continue;
        const auto* edge = static_cast<EdgeItem*>(item);
        const bool touches = edge->edge().regulator == gene || edge->edge().target == gene;
        item->setOpacity(gene == 0 || touches ? 1.0 : kFadedOpacity);
        item->setZValue(gene != 0 && touches ? 0.5 : 0.0);
        if (touches) {
            neighbours.push_back(edge->edge().regulator);
            neighbours.push_back(edge->edge().target);
        }
    }
    for (QGraphicsItem* item : scene.items()) {
        if (item->type() != kNodeItemType) continue;
        const int g = static_cast<NodeItem*>(item)->gene();
        const bool near = gene == 0 || g == gene ||
                          std::find(neighbours.begin(), neighbours.end(), g) != neighbours.end();
        item->setOpacity(near ? 1.0 : kFadedNodeOpacity);
    }
}

}  // namespace netrevia::viewer
