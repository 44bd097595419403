#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog.h"
#include "app/shell.h"

class QWidget;

namespace netrevia::app {

// Our dialog layer on Qt Widgets: a fixed-size top-level window with a caption, a system menu
// and a close box, laid out from the template in dialog units of the template's font: the client
// area, and the template's strip under it. Push buttons raise clicked, edit fields text_changed
// (typing and texts set by the program alike), drop-down lists selection_changed, the window
// initialised (when first shown), destroyed (Exit, close box, destroy()) and size_changed (state
// changes such as minimise and restore, and real resizes), close_requested (close box), escape
// (Esc) and file_dropped (a local file dropped; raised once the drop has ended). Handlers must not
// throw: an exception reaching this layer ends the program instead of crossing Qt's event loop.
// Needs a QApplication.
class QtDialog final : public DialogCore {
public:
    explicit QtDialog(const DialogTemplate& dialog_template);
    ~QtDialog() override;
    QtDialog(const QtDialog&) = delete;
    QtDialog& operator=(const QtDialog&) = delete;

    bool show() override;
    WindowMetrics metrics() const override;
    Rect window_rect() const override;
    Rect client_rect() const override;
    Rect control_rect(int id) const override;
    void move_control(int id, const Rect& rect) override;
    void set_enabled(int id, bool enabled) override;
    void set_items(int id, const std::vector<std::string>& items) override;
    void select_item(int id, int index) override;
    int selected_item(int id) const override;
    void set_progress(int id, int value, int maximum) override;
    void set_visible(int id, bool visible) override;
    void set_marked(int id, bool marked) override;
    void set_focus(int id) override;

    // The top-level widget and the widget of a control (nullptr for an unknown id), for
    // owners of message boxes and for tests.
    QWidget* window() const noexcept;
    QWidget* control(int id) const noexcept;

protected:
    void apply_text(int id, std::string_view text) override;
    std::string control_text(int id) const override;
    void tear_down() override;

private:
    class Window;
    // The way into the shared dispatch for Qt's callbacks.
    void deliver(int id, EventKind kind) noexcept;
    void deliver_drop(std::string file) noexcept;

    std::unique_ptr<Window> window_;
    QWidget* client_ = nullptr;         // the template's client area, a child of window_
    std::map<int, QWidget*> controls_;  // children of client_ or of the strip under it
    bool shown_ = false;
};

// The platform of the real program: QtDialog, QApplication's event loop and quit request, the
// file-open dialog, message boxes, the inference run in the working directory on a worker
// thread.
Platform qt_platform();

}  // namespace netrevia::app
