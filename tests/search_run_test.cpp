// Test labels: threads (run under ThreadSanitizer too)
// Whole runs of pyrn on the fixture tree tests/fixtures/search_run, compared byte for byte
// with the golden outputs under tests/golden/search_run.
#include "golden_runs.hpp"
#include "output.hpp"
#include "process.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing_support::golden;
using testing_support::process_options;
using testing_support::process_result;
using testing_support::run_case;

process_result search(std::vector<std::string> arguments, const process_options& options = {}) {
    return testing_support::search_in_run_tree(arguments, options);
}

class whole_run : public testing::TestWithParam<run_case> {};

TEST_P(whole_run, matches_the_golden_output) {
    const run_case& c = GetParam();
    std::string joined;
    for (const char* file : testing_support::search_run_files) {
        std::vector<std::string> arguments{"--nc", "-j", "1", "-f", file};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        arguments.push_back(".");
        const process_result result = search(arguments);
        EXPECT_EQ(result.status, 0) << file;
        EXPECT_EQ(result.err, "") << file;
        joined += result.out;
    }
    EXPECT_EQ(joined, golden(std::string("search_run/") + c.name + ".out", joined));
}

INSTANTIATE_TEST_SUITE_P(search_run, whole_run, testing::ValuesIn(testing_support::run_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(search_run, colour_on_a_terminal_only) {
    const std::vector<std::string> arguments{"-f", "*/shapes.cpp", "vertex_count", "."};
    process_options terminal;
    terminal.stdout_is_terminal = true;
    const process_result coloured = search(arguments, terminal);
    EXPECT_EQ(coloured.status, 0);
    EXPECT_EQ(coloured.out, golden("search_run/colour.out", coloured.out));

    const process_result piped = search(arguments);
    EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(piped.out, golden("search_run/colour_off.out", piped.out));

    std::vector<std::string> no_colour{"--nc"};
    no_colour.insert(no_colour.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(search(no_colour, terminal).out, piped.out);
}

} // namespace
