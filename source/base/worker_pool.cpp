#include "base/worker_pool.hpp"

#include "base/messages.hpp"

#include <sched.h>

#include <algorithm>
#include <exception>
#include <system_error>

namespace search {

namespace {

// The processors this process may run on, which a CPU mask can make fewer than the machine's.
std::uint32_t usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<std::uint32_t>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

thread_local worker_pool* pool_of_thread = nullptr;

} // namespace

worker_pool::worker_pool(const std::uint32_t& requested) {
    worker_count = requested != 0 ? requested : std::thread::hardware_concurrency();
    if (worker_count == 0) {
        worker_count = 1;
    }
    core_workers = std::min(worker_count, usable_cores());
    workers = std::make_unique<std::thread[]>(worker_count);
    try {
        for (std::uint32_t i = 0; i < core_workers; ++i) {
            ++started;
            workers[i] = std::thread(&worker_pool::worker_loop, this, i);
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

// Once the reserve has started or cannot start any more: none joins while it starts.
void worker_pool::stop_and_join() {
    {
        const std::lock_guard<std::mutex> guard(queue_lock);
        keep_running = false;
    }
    work_ready.notify_all();
    reserve_ready.notify_all();
    const std::lock_guard<std::mutex> hold(start_lock);
    for (std::uint32_t i = 0; i < worker_count; ++i) {
        if (workers[i].joinable()) {
            workers[i].join();
        }
    }
}

void worker_pool::post(task callable) {
    // Counted before it is visible, so wait_all never sees zero while a task is queued.
    ++outstanding;
    std::condition_variable* wake = nullptr;
    {
        const std::lock_guard<std::mutex> guard(queue_lock);
        try {
            pending.push_back(std::move(callable));
        } catch (...) {
            --outstanding; // never queued: wait_all must not wait for it
            throw;
        }
        wake = to_wake_for_pending();
    }
    if (wake != nullptr) {
        wake->notify_one();
    }
}

// A waking worker costs two system calls, more than most tasks of a warm run: one is woken
// only when the workers awake have more tasks waiting than they can take next, a reserve one
// only when fewer than the cores' count are awake. While none is awake any task wakes one, so
// every task is run; wait_all wakes the rest for the last few. The lock is held.
std::condition_variable* worker_pool::to_wake_for_pending() {
    if (pending.size() <= awake()) {
        return nullptr;
    }
    if (waiting > 0) {
        return &work_ready;
    }
    return reserve_waiting > 0 && awake() < core_workers ? &reserve_ready : nullptr;
}

// The workers started and neither asleep nor blocked. The lock is held.
std::uint32_t worker_pool::awake() const {
    return started - waiting - reserve_waiting - blocked;
}

// A reserve worker takes a task only while every other worker is busy or blocked and fewer
// than the cores' count run.
bool worker_pool::may_take(bool reserve) const {
    return !pending.empty() && (!reserve || (waiting == 0 && awake() <= core_workers));
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
    if (reserve_waiting > 0 && !pending.empty() && awake() < core_workers) {
        reserve_ready.notify_all();
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

// Waits for a task; false when the pool stops instead. A pool that stops lets every worker
// take what is left.
bool worker_pool::take(task& out, bool reserve) {
    std::unique_lock<std::mutex> lock(queue_lock);
    while (keep_running && !may_take(reserve)) {
        if (reserve && !pending.empty() && waiting > 0) {
            work_ready.notify_one(); // the task this one leaves is a core worker's
        }
        std::uint32_t& asleep = reserve ? reserve_waiting : waiting;
        ++asleep;
        (reserve ? reserve_ready : work_ready).wait(lock);
        --asleep;
    }
    if (pending.empty()) {
        return false;
    }
    out = std::move(pending.front());
    pending.pop_front();
    return true;
}

void worker_pool::worker_loop(std::uint32_t index) {
    pool_of_thread = this;
    const bool reserve = index >= core_workers;
    for (;;) {
        task slot;
        if (!take(slot, reserve)) {
            return;
        }
        run(slot);
        finish_one();
    }
}

// A reserve that cannot start leaves the pool its core workers, which take every task.
void worker_pool::start_reserve() {
    const std::lock_guard<std::mutex> hold(start_lock);
    if (reserve_started) {
        return;
    }
    reserve_started = true;
    for (std::uint32_t i = core_workers; i < worker_count; ++i) {
        {
            const std::lock_guard<std::mutex> guard(queue_lock);
            if (!keep_running) {
                return;
            }
            ++started; // counted awake before it can fall asleep
        }
        try {
            workers[i] = std::thread(&worker_pool::worker_loop, this, i);
        } catch (const std::system_error&) {
            const std::lock_guard<std::mutex> guard(queue_lock);
            --started;
            return;
        }
    }
}

worker_pool::blocked_scope::blocked_scope() : pool(pool_of_thread) {
    if (pool == nullptr) {
        return;
    }
    pool->start_reserve();
    std::condition_variable* wake = nullptr;
    {
        const std::lock_guard<std::mutex> guard(pool->queue_lock);
        ++pool->blocked;
        wake = pool->to_wake_for_pending();
    }
    if (wake != nullptr) {
        wake->notify_one();
    }
}

worker_pool::blocked_scope::~blocked_scope() {
    if (pool != nullptr) {
        const std::lock_guard<std::mutex> guard(pool->queue_lock);
        --pool->blocked;
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
