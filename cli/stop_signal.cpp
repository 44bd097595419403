#include "cli/stop_signal.h"

#include <signal.h>

namespace netrevia::cli {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

// The one process-wide state of the tool: a signal handler has no other way to reach the run.
StopRequest stop_request;

extern "C" void request_stop(int signal_number) {
    int none = 0;
    stop_request.signal.compare_exchange_strong(none, signal_number);
    stop_request.cancel.store(true);
}

}  // namespace

StopRequest& install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // reads and writes in progress carry on
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return stop_request;
}

}  // namespace netrevia::cli
