// The two roads of a parse on tests/fixtures/parse_roads: the indexing session, which skips
// the bodies of headers that an earlier file of the run parsed, prints what the full parse
// (--full-parse) prints, with one worker and with two; a file that the session cannot parse as
// the full parse would (a missing include stops its template instantiation) is parsed again in
// full; C files are always parsed in full. --stats tells which road each file took.
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

struct road_case {
    const char* folder; // below tests/fixtures/parse_roads
    std::vector<std::string> options;
    std::vector<block> expected; // sorted
    int skipping;                // files the session parsed
    int again_in_full;           // files it could not, parsed in full instead
    int in_full;                 // files parsed in full only
};

std::ostream& operator<<(std::ostream& out, const road_case& c) {
    return out << c.folder << " " << testing::PrintToString(c.options);
}

std::string stats(int skipping, int again_in_full, int in_full, int from_cache = 0) {
    const int parsed = skipping + again_in_full + in_full;
    return "pyrn: files holding the query: " + std::to_string(parsed + from_cache) +
           "\npyrn: answered from the cache: " + std::to_string(from_cache) +
           "\npyrn: parsed skipping the bodies of headers parsed before: " +
           std::to_string(skipping) +
           "\npyrn: parsed in full after the indexing call could not stand for it: " +
           std::to_string(again_in_full) + "\npyrn: parsed in full: " + std::to_string(in_full) +
           "\npyrn: files that could not be read: 0\n";
}

// The run's sorted blocks; its --stats without the first line, the files read.
process_result search(const road_case& c, const std::vector<std::string>& road,
                      std::vector<block>& blocks) {
    std::vector<std::string> arguments = road;
    arguments.insert(arguments.end(), {"--nc", "--stats"});
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(".");
    testing_support::process_options in_folder;
    in_folder.cwd = testing_support::test_dir() + "/fixtures/parse_roads/" + c.folder;
    process_result result = testing_support::run_pyrn(arguments, in_folder);
    blocks = testing_support::parse_blocks(result.out);
    std::sort(blocks.begin(), blocks.end());
    result.err = result.err.substr(result.err.find('\n') + 1);
    return result;
}

class roads : public testing::TestWithParam<road_case> {};

TEST_P(roads, print_what_the_full_parse_prints) {
    const road_case& c = GetParam();
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        std::vector<block> blocks;
        const process_result session = search(c, {"-j", jobs}, blocks);
        EXPECT_EQ(session.status, 0);
        EXPECT_EQ(blocks, c.expected);
        EXPECT_EQ(session.err, stats(c.skipping, c.again_in_full, c.in_full));

        const process_result full = search(c, {"-j", jobs, "--full-parse"}, blocks);
        EXPECT_EQ(full.status, 0);
        EXPECT_EQ(blocks, c.expected);
        EXPECT_EQ(full.err, stats(0, 0, c.skipping + c.again_in_full + c.in_full));
    }
}

const road_case road_cases[] = {
    // A range-for over a class template whose begin() and end() return auto, an array sized
    // by a constexpr function and a list from an auto function: their bodies in shared.h are
    // never skipped, or the loops and their references would go.
    {"header",
     {"--for-statement", "number"},
     {
         {"./first.cpp", 5, 7,
          "for (int number : numbers) {\n"
          "        total += twice(number) + numbers.first();\n    }"},
         {"./second.cpp", 5, 7,
          "for (double number : numbers) {\n"
          "        count += twice(static_cast<int>(number));\n    }"},
         {"./second.cpp", 13, 15,
          "for (int number : made_list()) {\n        total += squared(number);\n    }"},
     },
     2,
     0,
     0},
    {"header",
     {"--function", "--ie", "squared"},
     {
         {"./first.cpp", 12, 12, "int cells[squared(3)] = {};"},
         {"./first.cpp", 14, 14, "cell = squared(2);"},
         {"./second.cpp", 11, 17,
          "int list_squared() {\n    int total = 0;\n    for (int number : made_list()) {\n"
          "        total += squared(number);\n    }\n    return total;\n}"},
         {"./second.cpp", 14, 14, "total += squared(number);"},
         {"./shared.h", 15, 15, "constexpr int squared(int value) { return value * value; }"},
     },
     3,
     0,
     0},
    // After the missing include the session's unit has no range-for over the vector.
    {"missing",
     {"--for-statement", "value"},
     {{"./range_for.cpp", 6, 8, "for (int value : values) {\n        total += value;\n    }"}},
     0,
     1,
     0},
    // 25 errors, more than clang's default limit, which would be fatal.
    {"errors",
     {"--for-statement", "value"},
     {{"./loop_after_errors.cpp", 31, 33,
       "for (int value : values) {\n        total += value;\n    }"}},
     1,
     0,
     0},
    {"alone",
     {"--for-statement", "value"},
     {{"./no_includes.cpp", 6, 8,
       "for (int value = 0; value < limit; ++value) {\n        total.value += value;\n    }"}},
     1,
     0,
     0},
    {"c",
     {"-l", "c", "--for-statement", "value"},
     {{"./plain.c", 8, 10,
       "for (size_t value = 0; value < limit; ++value) {\n        total->value += value;\n    }"}},
     0,
     0,
     1},
    // Parsed as C++, as the guessed flags have it, a C source still takes the full parse.
    {"c",
     {"--for-statement", "value"},
     {{"./plain.c", 8, 10,
       "for (size_t value = 0; value < limit; ++value) {\n        total->value += value;\n    }"}},
     0,
     0,
     1},
};

INSTANTIATE_TEST_SUITE_P(parse_roads, roads, testing::ValuesIn(road_cases));

// A cache is filled on the road of its search, and --full-parse keeps entries of its own.
TEST(roads_with_a_cache, fill_it_each_on_its_own_road) {
    const road_case& c = road_cases[0];
    const testing_support::temp_tree cache;
    const std::vector<std::string> session{"-j", "1", "--cache", cache.path()};
    std::vector<std::string> full = session;
    full.push_back("--full-parse");
    const struct {
        const std::vector<std::string>& road;
        std::string stats;
    } runs[] = {{session, stats(2, 0, 0)},
                {session, stats(0, 0, 0, 2)},
                {full, stats(0, 0, 2)},
                {full, stats(0, 0, 0, 2)}};
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::PrintToString(run.road));
        std::vector<block> blocks;
        const process_result result = search(c, run.road, blocks);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(blocks, c.expected);
        EXPECT_EQ(result.err, run.stats);
    }
}

} // namespace
