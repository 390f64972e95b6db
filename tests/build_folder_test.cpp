// A project searched with the database of its build folder (tests/fixtures/build_folder), whose
// entries name their paths relative to that folder, as CMake writes them: every road prints
// the same files, whatever the root's spelling, the number of workers and the cache, and no
// parse moves the search into the build folder, where build/src/b.cc is a decoy.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::block;
using testing_support::process_result;

const std::string project = testing_support::test_dir() + "/fixtures/build_folder";

// Each source's own function; src/c.cc's is visible only through the entry's -I../include.
std::vector<block> expected_below(const std::string& root) {
    return {
        {root + "/build/src/b.cc", 2, 2, "int Compact_decoy() { return 6; }"},
        {root + "/src/a.cc", 1, 1, "int Compact_a() { return 1; }"},
        {root + "/src/b.cc", 1, 1, "int Compact_b() { return 2; }"},
        {root + "/src/c.cc", 3, 3, "int Compact_c() { return 3; }"},
        {root + "/src/d.cc", 1, 1, "int Compact_d() { return 4; }"},
        {root + "/src/e.cc", 1, 1, "int Compact_e() { return 5; }"},
    };
}

std::vector<block> search(const std::vector<std::string>& options, const std::string& root) {
    std::vector<std::string> arguments{"--nc", "-p", "build", "-F"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"Compact", root});
    testing_support::process_options in_project;
    in_project.cwd = project;
    const process_result result = testing_support::run_pyrn(arguments, in_project);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::vector<block> blocks = testing_support::parse_blocks(result.out);
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

TEST(build_folder, every_root_and_road_prints_every_file_from_its_own_bytes) {
    const testing_support::temp_tree cache;
    const std::vector<std::vector<std::string>> roads = {
        {"-j", "1"},
        {"-j", "2"},
        {"-j", "1", "--full-parse"},
        {"-j", "1", "--cache", cache.path("cache")}, // fills the cache
        {"-j", "2", "--cache", cache.path("cache")}, // answers from it
    };
    for (const std::vector<std::string>& road : roads) {
        SCOPED_TRACE(testing::PrintToString(road));
        EXPECT_EQ(search(road, "."), expected_below("."));
        EXPECT_EQ(search(road, project), expected_below(project));
        const std::vector<block> one_file = {{"src/c.cc", 3, 3, "int Compact_c() { return 3; }"}};
        EXPECT_EQ(search(road, "src/c.cc"), one_file);
    }
}

} // namespace
