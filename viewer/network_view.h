#pragma once

#include <QGraphicsView>

namespace netrevia::viewer {

// The network's view: zoom with the wheel (about the point under the mouse) or the zoom
// commands, pan by dragging the background, and fit to the window.
class NetworkView final : public QGraphicsView {
public:
    explicit NetworkView(QGraphicsScene* scene, QWidget* parent = nullptr);

    void zoom_in();
    void zoom_out();
    void fit_to_window();
    // The scale of the view: 1 shows a point of the layout as one device-independent pixel.
    double zoom() const;

protected:
    void wheelEvent(QWheelEvent* event) override;

private:
    void zoom_by(double factor);
};

}  // namespace netrevia::viewer
