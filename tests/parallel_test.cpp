// Test labels: threads (run under ThreadSanitizer too)
#include "output.hpp"
#include "output/highlighter.hpp"
#include "search/searcher.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

search::match_writer coloured_writer(bool colour) {
    search::writer_settings settings;
    settings.use_color = colour;
    return search::match_writer(settings);
}

constexpr int thread_count = 4;
constexpr int blocks_per_thread = 500;

// A snippet unique to its thread and block; some are longer than stdio's buffer so that one
// block takes several write calls.
std::string snippet(int thread, int block) {
    std::string s;
    const int lines = block % 10 == 0 ? 400 : 1 + block % 7;
    for (int line = 0; line < lines; ++line) {
        s += "struct t" + std::to_string(thread) + "_" + std::to_string(block) +
             " { f(\"{}\"); } // " + std::to_string(line) + "\n";
    }
    return s;
}

std::string path(int thread) {
    return "dir/t" + std::to_string(thread) + ".cpp";
}

// The expected blocks, printed one at a time on this thread.
std::vector<std::vector<std::string>> expected_blocks() {
    std::vector<std::vector<std::string>> blocks(thread_count);
    for (int t = 0; t < thread_count; ++t) {
        for (int b = 0; b < blocks_per_thread; ++b) {
            const std::string text = snippet(t, b);
            blocks[t].push_back(testing_support::capture_stdout(
                [&] { search::searcher::print_match(path(t), b + 1, b + 2, text); }));
        }
    }
    return blocks;
}

// Checks that out is an interleaving of whole blocks, each thread's blocks in its order.
void expect_whole_blocks(const std::string& out,
                         const std::vector<std::vector<std::string>>& blocks) {
    std::vector<std::size_t> next(blocks.size(), 0);
    std::size_t pos = 0;
    while (pos < out.size()) {
        bool found = false;
        for (std::size_t t = 0; t < blocks.size() && !found; ++t) {
            if (next[t] < blocks[t].size() &&
                out.compare(pos, blocks[t][next[t]].size(), blocks[t][next[t]]) == 0) {
                pos += blocks[t][next[t]].size();
                ++next[t];
                found = true;
            }
        }
        ASSERT_TRUE(found) << "no whole block starts at output byte " << pos << ": "
                           << out.substr(pos, 120);
    }
    for (std::size_t t = 0; t < blocks.size(); ++t) {
        EXPECT_EQ(next[t], blocks[t].size()) << "thread " << t;
    }
}

void print_in_parallel(bool colour) {
    search::searcher::settings.writer = coloured_writer(colour);
    const std::string out = testing_support::capture_stdout([] {
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < thread_count; ++t) {
            threads.emplace_back([t, &ready] {
                // All threads start printing together, so that their blocks overlap in time.
                ready.fetch_add(1);
                while (ready.load() < thread_count) {
                    std::this_thread::yield();
                }
                for (int b = 0; b < blocks_per_thread; ++b) {
                    search::searcher::print_match(path(t), b + 1, b + 2, snippet(t, b));
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    });
    expect_whole_blocks(out, expected_blocks());
    search::searcher::settings.writer = coloured_writer(false);
}

// Runs first, so that the word sets are built while several threads want them.
TEST(parallel, coloured_blocks_never_interleave) {
    print_in_parallel(true);
}

TEST(parallel, plain_blocks_never_interleave) {
    print_in_parallel(false);
}

TEST(parallel, concurrent_highlighting_agrees_with_serial) {
    const std::string text = snippet(0, 3) + "/* a /* b */ */ 'x' obj.size() std::vector<int>";
    std::vector<std::string> results(thread_count);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                fmt::memory_buffer out;
                search::highlighter().highlight(text.data(), text.size(), out, true);
                results[t].assign(out.data(), out.size());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    // Computed afterwards, so that the threads are the first to need the word sets.
    fmt::memory_buffer serial;
    search::highlighter().highlight(text.data(), text.size(), serial, true);
    for (const auto& r : results) {
        EXPECT_EQ(r, std::string(serial.data(), serial.size()));
    }
}

} // namespace
