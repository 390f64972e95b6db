// Test labels: threads (run under ThreadSanitizer too)
#include "base/worker_pool.hpp"

#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

// clang's ThreadSanitizer links its own operator new statically: none can replace it there.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PYRN_FIXED_OPERATOR_NEW
#endif
#endif

// Allocations of a thread fail while it asks for it, as they do when memory runs out.
thread_local bool allocations_fail = false;

#ifndef PYRN_FIXED_OPERATOR_NEW
void* operator new(std::size_t size) {
    void* memory = allocations_fail ? nullptr : std::malloc(size != 0 ? size : 1);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#endif

namespace {

using search::worker_pool;

TEST(worker_pool, one_worker_runs_tasks_in_posting_order) {
    std::vector<int> order;
    {
        worker_pool pool(1);
        for (int i = 0; i < 200; ++i) {
            pool.post([&order, i] { order.push_back(i); });
        }
        pool.wait_all();
        std::vector<int> expected(200);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(order, expected);
    }
}

TEST(worker_pool, several_workers_run_every_task_exactly_once) {
    constexpr int task_count = 2000;
    std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[task_count]);
    for (int i = 0; i < task_count; ++i) {
        runs[i] = 0;
    }
    worker_pool pool(4);
    EXPECT_EQ(pool.size(), 4u);
    for (int i = 0; i < task_count; ++i) {
        pool.post([&runs, i] { ++runs[i]; });
    }
    pool.wait_all();
    for (int i = 0; i < task_count; ++i) {
        ASSERT_EQ(runs[i].load(), 1) << "task " << i;
    }
}

TEST(worker_pool, tasks_posted_after_a_wait_run_too) {
    std::atomic<int> count{0};
    worker_pool pool(2);
    pool.wait_all(); // nothing outstanding: returns at once
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 10; ++i) {
            pool.post([&count] { ++count; });
        }
        pool.wait_all();
        EXPECT_EQ(count.load(), 10 * (round + 1));
    }
}

TEST(worker_pool, a_running_task_keeps_wait_all_waiting) {
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    std::atomic<bool> waited{false};
    worker_pool pool(2);
    pool.post([&] {
        started = true;
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    while (!started) {
        std::this_thread::yield();
    }
    // The queue is empty now, but the task has not returned.
    std::thread waiter([&] {
        pool.wait_all();
        waited = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(waited.load());
    release = true;
    waiter.join();
    EXPECT_TRUE(waited.load());
}

// The pool is made on one processor: its first worker is the only one that is no reserve.
class one_core_pool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &all)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    }
    void TearDown() override { sched_setaffinity(0, sizeof all, &all); }

    // Whether a second task ran while the first waited for it up to wait, in a blocked_scope
    // or not.
    static bool ran_beside(bool blocked, std::chrono::milliseconds wait) {
        std::atomic<bool> second_ran{false};
        std::atomic<bool> seen{false};
        worker_pool pool(3);
        pool.post([&] {
            std::unique_ptr<worker_pool::blocked_scope> scope;
            if (blocked) {
                scope = std::make_unique<worker_pool::blocked_scope>();
            }
            const auto until = std::chrono::steady_clock::now() + wait;
            while (!second_ran && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            seen = second_ran.load();
        });
        pool.post([&] { second_ran = true; });
        pool.wait_all();
        return seen;
    }

    cpu_set_t all;
};

TEST_F(one_core_pool, a_reserve_worker_takes_tasks_only_while_another_is_blocked) {
    EXPECT_TRUE(ran_beside(true, std::chrono::seconds(20)));
    EXPECT_FALSE(ran_beside(false, std::chrono::milliseconds(300)));
}

TEST(worker_pool, destruction_waits_for_outstanding_tasks) {
    std::atomic<int> count{0};
    {
        worker_pool pool(3);
        for (int i = 0; i < 50; ++i) {
            pool.post([&count] {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                ++count;
            });
        }
    }
    EXPECT_EQ(count.load(), 50);
}

TEST(worker_pool, unused_pool_is_destroyed) {
    for (std::uint32_t workers : {1u, 2u, 8u}) {
        worker_pool pool(workers);
        EXPECT_EQ(pool.size(), workers);
    }
}

TEST(worker_pool, zero_means_hardware_concurrency) {
    worker_pool pool(0);
    EXPECT_EQ(pool.size(), std::max(1u, std::thread::hardware_concurrency()));
}

TEST(worker_pool, a_throwing_task_neither_kills_its_worker_nor_blocks_the_wait) {
    std::atomic<int> count{0};
    worker_pool pool(1);
    testing::internal::CaptureStderr();
    pool.post([] { throw std::runtime_error("boom"); });
    pool.post([&count] { ++count; });
    pool.wait_all();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "pyrn: task failed: boom\n");
    EXPECT_EQ(count.load(), 1);
}

// Whatever ends the walk, the tasks that read the settings must not outlive it: the queued ones
// are dropped, and a task that could not be queued is not waited for.
TEST(worker_pool, cancelled_and_unqueued_tasks_are_not_waited_for) {
#ifdef PYRN_FIXED_OPERATOR_NEW
    GTEST_SKIP() << "operator new cannot be made to fail in this build";
#endif
    std::atomic<bool> release{false};
    std::atomic<int> count{0};
    auto pool = std::make_unique<worker_pool>(1);
    pool->post([&] {
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int unqueued = 0;
    for (int i = 0; i < 200; ++i) {
        search::task counting = [&count] { ++count; };
        allocations_fail = i >= 100; // the queue cannot grow any more
        try {
            pool->post(std::move(counting));
        } catch (const std::bad_alloc&) {
            ++unqueued;
        }
        allocations_fail = false;
    }
    EXPECT_GT(unqueued, 0);
    pool->cancel_queued();
    release = true;
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        pool->wait_all();
        waited = true;
    });
    for (int i = 0; i < 5000 && !waited; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!waited) {
        waiter.detach();
        pool.release(); // its destructor would wait for ever too
        FAIL() << "wait_all waits for tasks that were never queued";
    }
    waiter.join();
    EXPECT_EQ(count.load(), 0);
}

} // namespace
