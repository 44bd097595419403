#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

#include "output/atomic_file.h"

namespace netrevia::cli {

// A request to stop the batch run, made by SIGINT or SIGTERM: cancel is the run's cancel flag,
// signal the number of the first signal that arrived (0: none).
struct StopRequest {
    std::atomic<bool> cancel{false};
    std::atomic<int> signal{0};
    // Called as each step of the result commit begins: a seam for tests that signal the tool
    // there. The signal handlers never touch it.
    std::function<void(output::CommitStep, std::size_t)> at_commit_step;
};

// Routes SIGINT and SIGTERM to the process's stop request and returns it. The handlers only
// set its two members; the run sees the flag at its next safe point, writes nothing, and the
// tool exits with 128 + the signal number. A second signal changes nothing more.
StopRequest& install_stop_handlers();

}  // namespace netrevia::cli
