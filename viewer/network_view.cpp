#include "viewer/network_view.h"

#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace netrevia::viewer {

namespace {

constexpr double kZoomStep = 1.25;
constexpr double kMinimumZoom = 0.02;
constexpr double kMaximumZoom = 20.0;

}  // namespace

NetworkView::NetworkView(QGraphicsScene* scene, QWidget* parent) : QGraphicsView(scene, parent) {
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setBackgroundBrush(Qt::white);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
}

double NetworkView::zoom() const { return transform().m11(); }

void NetworkView::zoom_by(double factor) {
    const double target = std::clamp(zoom() * factor, kMinimumZoom, kMaximumZoom);
    if (zoom() > 0.0) scale(target / zoom(), target / zoom());
}

void NetworkView::zoom_in() {
    const ViewportAnchor anchor = transformationAnchor();
    setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    zoom_by(kZoomStep);
    setTransformationAnchor(anchor);
}

void NetworkView::zoom_out() {
    const ViewportAnchor anchor = transformationAnchor();
    setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    zoom_by(1.0 / kZoomStep);
    setTransformationAnchor(anchor);
}

void NetworkView::fit_to_window() {
    if (scene() == nullptr || sceneRect().isEmpty()) return;
    resetTransform();
    fitInView(sceneRect(), Qt::KeepAspectRatio);
    // A small network is not blown up beyond twice its natural size.
    if (zoom() > 2.0) {
        resetTransform();
        scale(2.0, 2.0);
    }
}

void NetworkView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y();
    if (steps == 0) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    zoom_by(std::pow(kZoomStep, steps / 120.0));
    event->accept();
}

}  // namespace netrevia::viewer
