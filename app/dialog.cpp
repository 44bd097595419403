#include "app/dialog.h"

namespace netrevia::app {

DialogCore::DialogCore(const DialogTemplate& dialog_template) : template_(dialog_template) {}

void DialogCore::set_text(int id, std::string_view text) {
    if (destroyed_) return;
    if (handler_depth_ > 0) {
        deferred_texts_[id] = std::string(text);
        return;
    }
    apply_text(id, text);
}

std::string DialogCore::get_text(int id) const {
    std::string text = control_text(id);
    text.resize(kTextBufferSize, ' ');
    return text;
}

void DialogCore::register_handler(int id, EventKind kind, Handler handler) {
    handlers_[{id, kind}] = std::move(handler);
}

void DialogCore::destroy() {
    if (destroyed_ || destroying_) return;
    destroying_ = true;
    dispatch(kWindowId, EventKind::destroyed);
    destroyed_ = true;
    deferred_texts_.clear();
    tear_down();
}

void DialogCore::drop_file(std::string file) {
    dropped_file_ = std::move(file);
    dispatch(kWindowId, EventKind::file_dropped);
}

void DialogCore::dispatch(int id, EventKind kind) {
    if (destroyed_) return;
    const auto found = handlers_.find({id, kind});
    if (found == handlers_.end()) {
        // A push button nobody handles closes the window, as a dialog's Cancel button would;
        // so does an unhandled close request.
        const ControlTemplate* control = template_.find(id);
        if ((kind == EventKind::clicked && control && control->kind == ControlKind::push_button) ||
            (kind == EventKind::close_requested && id == kWindowId)) {
            destroy();
        }
        return;
    }
    // Copied so that a handler may re-register its own slot while it runs.
    const Handler handler = found->second;
    struct DepthGuard {
        DialogCore& dialog;
        ~DepthGuard() {
            if (--dialog.handler_depth_ == 0) dialog.flush_deferred_texts();
        }
    };
    ++handler_depth_;
    DepthGuard guard{*this};
    handler(*this, id, kind);
}

void DialogCore::flush_deferred_texts() {
    // Applying a field's text raises its text_changed event, whose handler may defer new
    // texts of its own; take the batch first so those are applied by that handler's return.
    std::map<int, std::string> batch;
    batch.swap(deferred_texts_);
    for (const auto& [id, text] : batch) {
        if (destroyed_) return;
        apply_text(id, text);
    }
}

}  // namespace netrevia::app
