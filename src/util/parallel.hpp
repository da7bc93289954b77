// The worker pool: parallel_for, a pool made for one call. Threads are
// started per call rather than kept: a call that pays for threads at all
// works for milliseconds, against some tens of microseconds to start them,
// and no thread outlives the call that needs it.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace parvenkel::util {

// Runs f(worker, item) for every item in [0, items) on up to `workers`
// threads, the calling thread being one of them; items are handed out in
// order, one at a time. The first exception thrown by f stops the handing
// out and is rethrown here once every thread has finished. When threads
// cannot be started, the calling thread does their share.
template <class F>
void parallel_for(std::size_t items, unsigned workers, F&& f) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex error_lock;
    const auto run = [&](unsigned worker) {
        try {
            for (;;) {
                const std::size_t item = next.fetch_add(1, std::memory_order_relaxed);
                if (item >= items || failed.load(std::memory_order_relaxed)) {
                    return;
                }
                f(worker, item);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> hold(error_lock);
            if (!error) {
                error = std::current_exception();
            }
            failed.store(true, std::memory_order_relaxed);
        }
    };
    if (workers > items) {
        workers = static_cast<unsigned>(items);
    }
    std::vector<std::thread> threads;
    try {
        threads.reserve(workers > 0 ? workers - 1 : 0);
        for (unsigned w = 1; w < workers; ++w) {
            threads.emplace_back(run, w);
        }
    } catch (const std::exception&) {
        // No more threads (std::system_error, std::bad_alloc): the ones
        // started and this one share the work.
    }
    run(0);
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace parvenkel::util
