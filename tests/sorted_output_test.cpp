// Test labels: threads (run under ThreadSanitizer too)
// --sort path: files in byte order of their paths, each file's matches in source order, the
// same output whatever the number of workers.
#include "golden_runs.hpp"
#include "output.hpp"
#include "output/ordered_output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testing_support::process_options;
using testing_support::process_result;
using testing_support::temp_tree;

process_result run_in(const temp_tree& tree, std::vector<std::string> arguments) {
    process_options in_tree;
    in_tree.cwd = tree.path();
    arguments.push_back(".");
    return testing_support::run_pyrn(arguments, in_tree);
}

TEST(sort_path, prints_the_files_in_byte_order_of_their_paths) {
    temp_tree tree;
    // '-' < '.' < '/' < 'B' < 'a' < 0xc3: a folder's files come after a file that starts
    // with the folder's name and a dot.
    for (const char* name : {"a/b.c", "z/\xc3\xa9.c", "a.c", "B.c", "a-c.c", "ab.c"}) {
        tree.write(name, "int sorted_marker(void) { return 0; }\n");
    }
    for (const char* jobs : {"1", "2", "8"}) {
        SCOPED_TRACE(jobs);
        const process_result result =
            run_in(tree, {"-j", jobs, "--sort", "path", "--files-with-matches", "sorted_marker"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "./B.c\n./a-c.c\n./a.c\n./a/b.c\n./ab.c\n./z/\xc3\xa9.c\n");
    }
}

// A tree of many files with nested matches, and a file whose entities libclang visits out of
// their order in the source (the struct of "static struct s {...} v;" after the variable).
void write_busy_tree(const temp_tree& tree) {
    tree.write("s/visit_order.c", "static struct sorted_s { int v; } sorted_var;\n"
                                  "int sorted_f(void) { return sorted_var.v; }\n");
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        tree.write("many/" + std::string(i % 2 ? "odd/" : "even/") + "f" + n + ".c",
                   "int sorted_" + n + "(int sorted_n) {\n  for (int i = 0; i < sorted_n; ++i)\n" +
                       "    sorted_n += i;\n  return sorted_n;\n}\n");
    }
}

TEST(sort_path, gives_one_output_at_any_number_of_workers_in_every_format) {
    temp_tree tree;
    write_busy_tree(tree);
    for (const char* format : {"--nc", "--json", "--vimgrep", "--files-with-matches"}) {
        SCOPED_TRACE(format);
        const auto search = [&](std::vector<std::string> jobs) {
            for (const char* word : {"-l", "c", "--sort", "path", format, "sorted"}) {
                jobs.push_back(word);
            }
            return run_in(tree, jobs);
        };
        const process_result one = search({"-j", "1"});
        EXPECT_EQ(one.status, 0);
        EXPECT_EQ(one.err, "");
        EXPECT_GT(one.out.size(), 40u);
        EXPECT_EQ(search({"-j", "2"}).out, one.out);
        EXPECT_EQ(search({}).out, one.out);
    }
}

TEST(sort_path, puts_the_paths_and_each_files_matches_in_order) {
    temp_tree tree;
    write_busy_tree(tree);
    const process_result result = run_in(tree, {"-l", "c", "--sort", "path", "--json", "sorted"});
    ASSERT_EQ(result.status, 0);
    std::istringstream lines(result.out);
    std::tuple<std::string, unsigned, unsigned> last;
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
        const nlohmann::json record = nlohmann::json::parse(line);
        const std::tuple<std::string, unsigned, unsigned> place{
            record["path"]["text"], record["start_line"], record["column"]};
        EXPECT_LE(last, place) << line;
        last = place;
    }
    EXPECT_GT(records, 120);
}

// The outputs leave in their files' order, and a file starts only within the window and
// while what is held after the oldest file is under the limit.
TEST(ordered_output, prints_in_order_and_bounds_what_it_holds) {
    search::ordered_output order(10, 6);
    std::vector<bool> room;
    const std::string printed = testing_support::capture_stdout([&] {
        room.push_back(order.has_room(9));
        room.push_back(order.has_room(10)); // beyond the window of ten
        order.complete(2, "c");
        room.push_back(order.has_room(3));
        order.complete(1, "bbbbbb"); // seven bytes held: only the oldest may start
        room.push_back(order.has_room(3));
        room.push_back(order.has_room(0));
        order.complete(0, "a"); // prints the three; the window now starts at 3
        room.push_back(order.has_room(12));
        room.push_back(order.has_room(13));
        order.complete(3, "d");
    });
    EXPECT_EQ(printed, "abbbbbbcd");
    EXPECT_EQ(room, (std::vector<bool>{true, false, true, false, true, true, false}));
}

} // namespace
