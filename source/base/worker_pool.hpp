#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace search {

using task = std::function<void()>;

// A fixed set of worker threads taking tasks from one FIFO queue. Idle workers and waiters
// sleep until they are woken: a warm run answers each file in microseconds, and polling would
// cost more system calls than the answers. Workers past the machine's cores are a reserve:
// they take tasks only while a task waits off the processor (blocked_scope), so a search that
// its cache answers runs on as many threads as there are cores, each of which costs memory.
// The reserve starts when a task first waits so: most searches never need it.
class worker_pool {
public:
    // Held by a task while it waits on something other than this process's processors (a
    // parse in a helper process): a reserve worker may take the next task meanwhile.
    class blocked_scope {
    public:
        blocked_scope();
        ~blocked_scope();
        blocked_scope(const blocked_scope&) = delete;
        blocked_scope& operator=(const blocked_scope&) = delete;

    private:
        worker_pool* pool; // the pool of the thread, none outside a worker
    };

    // requested == 0 asks for one worker per hardware thread (at least one).
    // Throws std::system_error when a worker thread cannot be started.
    explicit worker_pool(const std::uint32_t& requested);
    ~worker_pool();

    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;

    // Queues a task. When it cannot be queued (no memory), throws and counts nothing.
    void post(task callable);
    void wait_all();
    // Drops the tasks that no worker has taken yet; those running go on.
    void cancel_queued();
    // Lets wait_all return at once, before the tasks end: the search is over.
    void interrupt();

    std::uint32_t size() const { return worker_count; }

private:
    bool take(task& out, bool reserve);
    bool may_take(bool reserve) const;
    std::condition_variable* to_wake_for_pending();
    std::uint32_t awake() const;
    void start_reserve();
    void worker_loop(std::uint32_t index);
    static void run(task& slot) noexcept;
    void finish_one();
    void stop_and_join();

    std::mutex queue_lock;
    std::condition_variable work_ready;    // a task was queued, or the pool stops
    std::condition_variable reserve_ready; // a reserve worker may take a task, or the pool stops
    std::condition_variable all_done;      // nothing is outstanding any more
    bool keep_running = true;              // guarded by queue_lock
    bool interrupted = false;              // guarded by queue_lock
    std::uint32_t waiting = 0;             // workers asleep on work_ready, guarded by queue_lock
    std::uint32_t reserve_waiting = 0;     // asleep on reserve_ready, guarded by queue_lock
    std::uint32_t blocked = 0;             // tasks in a blocked_scope, guarded by queue_lock
    std::uint32_t core_workers = 0;        // the workers that are no reserve
    std::uint32_t started = 0;             // the workers started, guarded by queue_lock
    std::deque<task> pending;
    std::uint32_t worker_count = 0;
    std::unique_ptr<std::thread[]> workers; // guarded by start_lock once the pool runs
    std::mutex start_lock;
    bool reserve_started = false; // guarded by start_lock
    std::atomic<std::uint32_t> outstanding{0};
};

} // namespace search
