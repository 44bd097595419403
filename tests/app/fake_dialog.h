#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog.h"
#include "app/dialog_template.h"

namespace netrevia::app {

// The dialog layer without widgets: controls are texts and rectangles in memory, the window
// sits at a chosen screen position with a chosen frame. Everything the shell sees goes
// through the shared DialogCore, so handler dispatch and deferred texts are the real ones.
class FakeDialog final : public DialogCore {
public:
    FakeDialog() : DialogCore(main_window_template()) {
        for (const ControlTemplate& control : main_window_template().controls) {
            texts_[control.id] = std::string(control.text);
            rects_[control.id] = to_pixels(control.rect, 6, 13);
        }
    }

    // What the user would see in a control now.
    const std::string& visible(int id) const { return texts_.at(id); }
    // Every text put into a control, in order: texts overwritten inside a handler never
    // appear here.
    std::vector<std::pair<int, std::string>> applied;

    // The user edits a field: its text changes, then the field reports it.
    void type(int id, std::string text) {
        texts_[id] = std::move(text);
        dispatch(id, EventKind::text_changed);
    }
    void click(int id) { dispatch(id, EventKind::clicked); }

    bool show_succeeds = true;
    bool shown = false;
    bool torn_down = false;
    WindowMetrics window_metrics{18, 18, 1};
    Rect frame{100, 50, 420, 230};  // outer window rectangle on the screen
    int frame_left = 3;             // client origin relative to the frame
    int frame_top = 22;
    Rect client{0, 0, 414, 205};

    bool show() override {
        shown = show_succeeds;
        return show_succeeds;
    }
    WindowMetrics metrics() const override { return window_metrics; }
    Rect window_rect() const override { return frame; }
    Rect client_rect() const override { return client; }
    Rect control_rect(int id) const override {
        Rect r = rects_.at(id);
        r.x += frame.x + frame_left;
        r.y += frame.y + frame_top;
        return r;
    }
    void move_control(int id, const Rect& rect) override { rects_[id] = rect; }
    void set_enabled(int id, bool enabled) override { enabled_[id] = enabled; }
    bool enabled(int id) const { return !enabled_.contains(id) || enabled_.at(id); }
    void set_items(int id, const std::vector<std::string>& items) override {
        items_[id] = items;
        selected_[id] = -1;
    }
    void select_item(int id, int index) override {
        if (selected_item(id) == index) return;
        selected_[id] = index;
        dispatch(id, EventKind::selection_changed);
    }
    int selected_item(int id) const override {
        return selected_.contains(id) ? selected_.at(id) : -1;
    }
    const std::vector<std::string>& items(int id) const { return items_.at(id); }
    void set_progress(int id, int value, int maximum) override { progress_[id] = {value, maximum}; }
    std::pair<int, int> progress(int id) const {
        return progress_.contains(id) ? progress_.at(id) : std::pair<int, int>{0, 0};
    }
    void set_visible(int id, bool visible) override { hidden_[id] = !visible; }
    bool shows(int id) const {
        if (hidden_.contains(id)) return !hidden_.at(id);
        const ControlTemplate* control = dialog_template().find(id);
        return control == nullptr || (control->style & kHidden) == 0;
    }
    void set_marked(int id, bool marked) override { marked_[id] = marked; }
    bool marked(int id) const { return marked_.contains(id) && marked_.at(id); }
    void set_focus(int id) override { focus = id; }
    int focus = 0;  // the control that has the keyboard focus
    // A control's rectangle in client coordinates.
    Rect client_rect_of(int id) const { return rects_.at(id); }

protected:
    void apply_text(int id, std::string_view text) override {
        texts_[id] = std::string(text);
        applied.emplace_back(id, std::string(text));
        // An edit field reports texts set by the program as it reports typing.
        const ControlTemplate* control = dialog_template().find(id);
        if (control && control->kind == ControlKind::edit_field) {
            dispatch(id, EventKind::text_changed);
        }
    }
    std::string control_text(int id) const override { return texts_.at(id); }
    void tear_down() override { torn_down = true; }

private:
    std::map<int, std::string> texts_;
    std::map<int, Rect> rects_;
    std::map<int, bool> enabled_;
    std::map<int, std::vector<std::string>> items_;
    std::map<int, int> selected_;
    std::map<int, std::pair<int, int>> progress_;
    std::map<int, bool> hidden_;
    std::map<int, bool> marked_;
};

}  // namespace netrevia::app
