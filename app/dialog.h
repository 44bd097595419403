#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/dialog_template.h"

namespace netrevia::app {

// Events a handler can be registered for. Controls raise clicked (push buttons),
// text_changed (edit fields, after every edit and after every text set by the program) and
// selection_changed (drop-down lists, when the user picks an item and when the program selects
// one); the window itself (kWindowId) raises initialised, destroyed, size_changed,
// close_requested (the close box or the window manager's close command; without a handler the
// window is destroyed), escape (the Esc key) and file_dropped (a file dropped on the window, see
// dropped_file()).
enum class EventKind {
    clicked,
    text_changed,
    initialised,
    destroyed,
    size_changed,
    close_requested,
    escape,
    file_dropped,
    selection_changed
};

// Size of the buffer a control's text is read into.
inline constexpr std::size_t kTextBufferSize = 256;

// Sizes the layout handler places controls by, in pixels.
struct WindowMetrics {
    int caption_button_width = 0;
    int caption_button_height = 0;
    int border_width = 0;
};

class Dialog;
using Handler = std::function<void(Dialog& dialog, int id, EventKind kind)>;

// Our dialog layer as the application shell sees it: one modeless window built from a
// DialogTemplate, whose controls are addressed by id. The shell is written against this
// interface only, so it runs the same on the real window and on a test double.
class Dialog {
public:
    virtual ~Dialog() = default;

    // Sets a control's text. Outside any handler the text shows at once; inside a handler it
    // shows when the outermost handler returns, and only the last text set per control does.
    virtual void set_text(int id, std::string_view text) = 0;
    // A control's current text as read into a kTextBufferSize buffer: cut at that length or
    // padded with blanks to it.
    virtual std::string get_text(int id) const = 0;
    // One handler per control and event kind; a later registration replaces an earlier one.
    virtual void register_handler(int id, EventKind kind, Handler handler) = 0;
    // Enables or disables a control: a disabled control takes no input and raises no events.
    virtual void set_enabled(int id, bool enabled) = 0;
    // The file of the latest file_dropped event.
    virtual std::string dropped_file() const = 0;

    // A drop-down list's items and the selected one (-1: none). Selecting raises
    // selection_changed as a pick by the user does; selecting the selected item raises nothing.
    virtual void set_items(int id, const std::vector<std::string>& items) = 0;
    virtual void select_item(int id, int index) = 0;
    virtual int selected_item(int id) const = 0;
    // A progress bar at value of maximum; maximum 0 shows work going on without a measure. Its
    // text is set with set_text.
    virtual void set_progress(int id, int value, int maximum) = 0;
    // Shows or hides a control.
    virtual void set_visible(int id, bool visible) = 0;
    // Marks an edit field whose text is refused, or a static text that warns, or clears the
    // mark.
    virtual void set_marked(int id, bool marked) = 0;
    // Gives a control the keyboard focus.
    virtual void set_focus(int id) = 0;
    // Shows the window modeless; false when it cannot be shown.
    virtual bool show() = 0;
    // Closes the window for good: raises destroyed (once), then hides it. Later texts are
    // dropped.
    virtual void destroy() = 0;

    // What the layout handler needs: size metrics, the window's outer rectangle and the
    // controls' rectangles in screen coordinates, the client area (origin 0, 0), and moving a
    // control to a rectangle in client coordinates (repainted at once).
    virtual WindowMetrics metrics() const = 0;
    virtual Rect window_rect() const = 0;
    virtual Rect client_rect() const = 0;
    virtual Rect control_rect(int id) const = 0;
    virtual void move_control(int id, const Rect& rect) = 0;
};

// The behaviour every implementation of the layer shares: the handler table, dispatching an
// event, deferring texts set inside a handler, reading into the fixed buffer, and the default
// actions of a push button and of a close request without handler (close the window). A back end
// supplies the widgets through the protected hooks and reports events through dispatch().
class DialogCore : public Dialog {
public:
    explicit DialogCore(const DialogTemplate& dialog_template);

    void set_text(int id, std::string_view text) final;
    std::string get_text(int id) const final;
    void register_handler(int id, EventKind kind, Handler handler) final;
    void destroy() final;
    std::string dropped_file() const final { return dropped_file_; }

    // A file dropped on the window: remembers it and raises file_dropped.
    void drop_file(std::string file);

    // Runs the handler registered for (id, kind). Texts set meanwhile are applied when the
    // outermost dispatch returns, also when the handler throws (the exception then goes on).
    void dispatch(int id, EventKind kind);

    bool destroyed() const noexcept { return destroyed_; }
    const DialogTemplate& dialog_template() const noexcept { return template_; }

protected:
    // Puts text into the control now.
    virtual void apply_text(int id, std::string_view text) = 0;
    // The control's whole current text.
    virtual std::string control_text(int id) const = 0;
    // Hides and disables the window after destroyed has been raised.
    virtual void tear_down() = 0;

private:
    void flush_deferred_texts();

    const DialogTemplate& template_;
    std::map<std::pair<int, EventKind>, Handler> handlers_;
    std::map<int, std::string> deferred_texts_;  // last text per control, set inside a handler
    std::string dropped_file_;
    int handler_depth_ = 0;
    bool destroying_ = false;  // a destroyed handler may itself ask to destroy the window
    bool destroyed_ = false;
};

}  // namespace netrevia::app
