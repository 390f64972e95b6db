#include "base/worker_pool.hpp"

#include "base/messages.hpp"

#include <exception>

namespace search {

worker_pool::worker_pool(const std::uint32_t& requested) {
    worker_count = requested != 0 ? requested : std::thread::hardware_concurrency();
    if (worker_count == 0) {
        worker_count = 1;
    }
    workers = std::make_unique<std::thread[]>(worker_count);
    try {
        for (std::uint32_t i = 0; i < worker_count; ++i) {
            workers[i] = std::thread(&worker_pool::worker_loop, this);
        }
    } catch (...) {
        // Threads already started must be joined before the handles are destroyed.
        stop_and_join();
        throw;
    }
}

worker_pool::~worker_pool() {
    wait_all();
    stop_and_join();
}

void worker_pool::stop_and_join() {
    {
        const std::lock_guard<std::mutex> guard(queue_lock);
        keep_running = false;
    }
    work_ready.notify_all();
    for (std::uint32_t i = 0; i < worker_count; ++i) {
        if (workers[i].joinable()) {
            workers[i].join();
        }
    }
}

void worker_pool::post(task callable) {
    // Counted before it is visible, so wait_all never sees zero while a task is queued.
    ++outstanding;
    bool wake = false;
    {
        const std::lock_guard<std::mutex> guard(queue_lock);
        try {
            pending.push_back(std::move(callable));
        } catch (...) {
            --outstanding; // never queued: wait_all must not wait for it
            throw;
        }
        // A waking worker costs two system calls, more than most tasks of a warm run: one is
        // woken only when the workers awake have more tasks waiting than they can take next.
        // While none is awake any task wakes one, so every task is run; wait_all wakes the
        // rest for the last few.
        wake = waiting > 0 && pending.size() > worker_count - waiting;
    }
    if (wake) {
        work_ready.notify_one();
    }
}

void worker_pool::cancel_queued() {
    std::deque<task> dropped;
    {
        const std::lock_guard<std::mutex> guard(queue_lock);
        dropped.swap(pending);
        outstanding -= static_cast<std::uint32_t>(dropped.size());
        if (outstanding == 0) {
            all_done.notify_all();
        }
    }
}

void worker_pool::wait_all() {
    std::unique_lock<std::mutex> lock(queue_lock);
    if (waiting > 0 && !pending.empty()) {
        work_ready.notify_all();
    }
    all_done.wait(lock, [this] { return outstanding == 0 || interrupted; });
}

void worker_pool::interrupt() {
    {
        const std::lock_guard<std::mutex> guard(queue_lock);
        interrupted = true;
    }
    all_done.notify_all();
}

// Waits for a task; false when the pool stops instead.
bool worker_pool::take(task& out) {
    std::unique_lock<std::mutex> lock(queue_lock);
    while (pending.empty() && keep_running) {
        ++waiting;
        work_ready.wait(lock);
        --waiting;
    }
    if (pending.empty()) {
        return false;
    }
    out = std::move(pending.front());
    pending.pop_front();
    return true;
}

void worker_pool::worker_loop() {
    for (;;) {
        task slot;
        if (!take(slot)) {
            return;
        }
        run(slot);
        finish_one();
    }
}

// The waiter tests the count under the lock, so taking it here means it is either still
// testing (and sees zero) or already waiting (and is woken).
void worker_pool::finish_one() {
    if (--outstanding == 0) {
        const std::lock_guard<std::mutex> guard(queue_lock);
        all_done.notify_all();
    }
}

// A task that throws must not take its worker, or the outstanding count, down with it.
void worker_pool::run(task& slot) noexcept {
    try {
        slot();
    } catch (const std::exception& error) {
        report("task failed", error.what());
    } catch (...) {
        report("task failed");
    }
}

} // namespace search
