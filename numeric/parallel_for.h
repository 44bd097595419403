#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace netrevia::numeric {

// The thread count a caller asked for: threads itself when positive, else one per hardware
// thread (at least one).
inline int resolve_thread_count(int threads) {
    return threads > 0 ? threads
                       : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// Runs work(task) for every task in 0..count-1 on up to `threads` threads, the caller's among
// them. Each task runs exactly once, on one thread; when the tasks write to disjoint places the
// outcome is the same for any number of threads. make_worker() builds one work function per
// thread, holding that thread's own work storage. An exception in a worker (std::bad_alloc) is
// passed on to the caller once every thread has stopped. When the system refuses another
// thread, the threads already running (at least the caller's) take all the tasks.
template <class MakeWorker>
void parallel_for(int count, int threads, MakeWorker make_worker) {
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failure_mutex;
    auto run = [&] {
        try {
            auto work = make_worker();
            for (int task = next.fetch_add(1); task < count; task = next.fetch_add(1)) work(task);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failure_mutex);
            if (!failure) failure = std::current_exception();
            next.store(count);  // the others stop at their next task
        }
    };
    const int helpers = std::max(0, std::min(threads, count) - 1);
    {
        std::vector<std::jthread> pool;
        pool.reserve(static_cast<std::size_t>(helpers));
        for (int t = 0; t < helpers; ++t) {
            try {
                pool.emplace_back(run);
            } catch (const std::system_error&) {
                break;
            }
        }
        run();
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace netrevia::numeric
