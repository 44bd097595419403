#pragma once

#include <QPointer>
#include <memory>

#include "app/shell.h"

class QShortcut;

namespace netrevia::viewer {
class ResultsWindow;
}

namespace netrevia::app {

// The Results window behind the main window: after each successful run it opens, or is brought
// up to date, and is raised; from then on Ctrl+R in the main window brings it back. The window
// lives as long as the link, which must outlive the platforms it was attached to.
class ResultsLink {
public:
    ResultsLink();
    ~ResultsLink();
    ResultsLink(const ResultsLink&) = delete;
    ResultsLink& operator=(const ResultsLink&) = delete;

    // platform, with show_results showing this link's window.
    Platform attach(Platform platform);
    // The window, once a run has opened it.
    viewer::ResultsWindow* window() const noexcept { return window_.get(); }
    // Shows and raises the window, when there is one.
    void bring_up() const;

private:
    void show(Dialog& owner, FinishedRun run);

    std::unique_ptr<viewer::ResultsWindow> window_;
    QPointer<QShortcut> shortcut_;  // on the main window, once made
};

}  // namespace netrevia::app
