#include "app/results_link.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <algorithm>
#include <thread>
#include <utility>

#include "app/qt_dialog.h"
#include "inference/engines.h"
#include "viewer/results_window.h"

namespace netrevia::app {

namespace {

// The run as the Results window and run.json take it.
viewer::RunResults run_results(FinishedRun run) {
    viewer::RunResults results;
    results.summary = std::move(run.summary);
    results.folder = std::move(run.results_folder);
    exports::RunRecord& record = results.record;
    record.tool = "netrevia";
    record.command_line = {"netrevia", run.data_file.string()};
    record.engine = std::string(inference::describe(run.engine).name);
    record.seed = run.seed;
    record.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    record.lambda = run.lambda;
    record.threshold = results.summary.threshold;
    // What the run read, hashed as it was read (a file replaced since is recorded as it was).
    record.inputs = std::move(run.inputs);
    record.tables = run.tables;
    record.replicates = std::move(run.replicates);
    // run.json is written when the user exports, perhaps long after the run: it records the
    // run's own wall time, as the batch tool's does.
    record.wall_time = run.wall_time;
    record.self_edges = true;
    return results;
}

}  // namespace

ResultsLink::ResultsLink() = default;

ResultsLink::~ResultsLink() { delete shortcut_.data(); }

Platform ResultsLink::attach(Platform platform) {
    platform.show_results = [this](Dialog& owner, FinishedRun run) { show(owner, std::move(run)); };
    return platform;
}

void ResultsLink::bring_up() const {
    if (!window_) return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void ResultsLink::show(Dialog& owner, FinishedRun run) {
    if (!window_) window_ = std::make_unique<viewer::ResultsWindow>();
    window_->set_results(run_results(std::move(run)));
    bring_up();
    auto* main_window = dynamic_cast<QtDialog*>(&owner);
    if (main_window != nullptr && !shortcut_) {
        shortcut_ = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), main_window->window());
        QObject::connect(shortcut_.data(), &QShortcut::activated, shortcut_.data(),
                         [this] { bring_up(); });
    }
}

}  // namespace netrevia::app
