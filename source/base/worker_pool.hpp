#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace search {

using task = std::function<void()>;

// A fixed set of worker threads polling one FIFO queue. All waiting is polling with a
// short sleep: tasks are whole-file parses, so a millisecond of latency is noise.
class worker_pool {
public:
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

    std::uint32_t size() const { return worker_count; }

private:
    bool take(task& out);
    void worker_loop();
    static void run(task& slot) noexcept;
    void idle_sleep() const;
    void stop_and_join();

    std::uint32_t idle_pause_us = 1000;
    std::mutex queue_lock;
    std::atomic<bool> keep_running{true};
    std::deque<task> pending;
    std::uint32_t worker_count = 0;
    std::unique_ptr<std::thread[]> workers;
    std::atomic<std::uint32_t> outstanding{0};
};

} // namespace search
