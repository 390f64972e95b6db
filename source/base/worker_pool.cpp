#include "base/worker_pool.hpp"

#include "base/messages.hpp"

#include <chrono>
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
    keep_running = false;
    for (std::uint32_t i = 0; i < worker_count; ++i) {
        if (workers[i].joinable()) {
            workers[i].join();
        }
    }
}

void worker_pool::post(task callable) {
    // Counted before it is visible, so wait_all never sees zero while a task is queued.
    ++outstanding;
    std::lock_guard<std::mutex> guard(queue_lock);
    try {
        pending.push_back(std::move(callable));
    } catch (...) {
        --outstanding; // never queued: wait_all must not wait for it
        throw;
    }
}

void worker_pool::cancel_queued() {
    std::deque<task> dropped;
    {
        std::lock_guard<std::mutex> guard(queue_lock);
        dropped.swap(pending);
        outstanding -= static_cast<std::uint32_t>(dropped.size());
    }
}

void worker_pool::wait_all() {
    while (outstanding != 0) {
        idle_sleep();
    }
}

bool worker_pool::take(task& out) {
    std::lock_guard<std::mutex> guard(queue_lock);
    if (pending.empty()) {
        return false;
    }
    out = std::move(pending.front());
    pending.pop_front();
    return true;
}

void worker_pool::worker_loop() {
    while (keep_running) {
        task slot;
        if (take(slot)) {
            run(slot);
            --outstanding;
        } else {
            idle_sleep();
        }
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

void worker_pool::idle_sleep() const {
    std::this_thread::sleep_for(std::chrono::microseconds(idle_pause_us));
}

} // namespace search
