// Test labels: threads (run under ThreadSanitizer too)
// Whole runs with several workers: every block comes out whole, and the blocks are those of
// a run with one worker. Also run under ThreadSanitizer.
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::run_pyrn;
using testing_support::temp_tree;

// Splits an output, without its final newline, into its blocks, sorted; no snippet here
// holds a header line.
std::vector<std::string> blocks(std::string out) {
    std::vector<std::string> found;
    if (out.empty() || out.back() != '\n') {
        return found;
    }
    out.pop_back();
    const std::string header = "\n// ";
    std::size_t at = out.find(header);
    while (at != std::string::npos) {
        std::size_t next = out.find(header, at + 1);
        found.push_back(out.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(parallel_run, blocks_are_whole_and_equal_to_a_one_worker_run) {
    temp_tree tree;
    for (int i = 0; i < 60; ++i) {
        std::string n = std::to_string(i);
        std::string body;
        for (int j = 0; j < 20; ++j) {
            std::string m = std::to_string(j);
            body += "int shared_" + n + "_" + m + "(int value) {\n    int local = value * " + m +
                    ";\n    return local + " + n + ";\n}\n";
        }
        tree.write("d" + std::to_string(i % 7) + "/f" + n + ".cpp", body);
    }
    auto one = run_pyrn({"--nc", "-j", "1", "shared_", tree.path()});
    auto four = run_pyrn({"--nc", "-j", "4", "shared_", tree.path()});
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(four.status, 0) << four.err;
    EXPECT_EQ(four.err, "");
    auto expected = blocks(one.out);
    EXPECT_EQ(expected.size(), 60u * 20u);
    EXPECT_EQ(blocks(four.out), expected);
    EXPECT_EQ(four.out.size(), one.out.size());
}

} // namespace
