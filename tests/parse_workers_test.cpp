// Files that crash libclang, exhaust its memory or never let it finish are parsed in worker
// processes: each is named once on standard error, and every other file is searched as ever.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing_support::lines_of;
using testing_support::process_options;
using testing_support::process_result;
using testing_support::run_pyrn;
using testing_support::temp_tree;

constexpr int ordinary_files = 20;

std::string ordinary_name(int i) {
    return "ok" + std::to_string(100 + i).substr(1) + ".cpp";
}

// The ordinary files, and one of each kind that once took the search down or held it forever.
void write_tree(const temp_tree& tree) {
    for (int i = 0; i < ordinary_files; ++i) {
        tree.write(ordinary_name(i), "int probe_" + std::to_string(i) + "() { return 0; }\n");
    }
    ASSERT_EQ(mkfifo(tree.path("pipe.h").c_str(), 0600), 0);
    tree.write("fifo.cpp", "#include \"pipe.h\"\nint probe_fifo;\n");
    tree.write("zero.cpp", "#include \"/dev/zero\"\nint probe_zero;\n");
    tree.write("crash.cpp", "int probe_crash;\n#pragma clang __debug crash\n");
    tree.write("spin.cpp", "int probe_spin;\n#pragma clang __debug overflow_stack\n");
    std::string sum = "int probe_deep = 1";
    for (int i = 0; i < 100000; ++i) {
        sum += "+1";
    }
    tree.write("deep.cpp", sum + ";\n");
}

std::string expected_matches() {
    std::string out;
    for (int i = 0; i < ordinary_files; ++i) {
        out +=
            "./" + ordinary_name(i) + ":1:5:int probe_" + std::to_string(i) + "() { return 0; }\n";
    }
    return out;
}

bool starts_with(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// Each bad file named once, by a line that says what became of its parse. Sanitized builds
// set no address-space limit and report a stack overflow themselves: /dev/zero may run out
// of time instead, the deep sum end its worker with a status.
void expect_each_named_once(const std::vector<std::string>& lines) {
    const struct {
        std::string file;
        std::vector<std::string> reasons;
    } bad[] = {
        {"fifo.cpp", {"the parse took longer than 2 s and was stopped"}},
        {"zero.cpp",
         {"the parse ran out of memory (limit 512 MiB)",
          "the parse took longer than 2 s and was stopped"}},
        {"crash.cpp", {"the parse crashed"}},
        {"spin.cpp", {"the parse took longer than 2 s and was stopped"}},
        {"deep.cpp",
         {"the parse crashed (signal 11, Segmentation fault)",
          "the parse crashed (its worker ended with status 1)"}},
    };
    for (const auto& file : bad) {
        SCOPED_TRACE(file.file);
        const std::string start = "pyrn: ./" + file.file + ": ";
        const auto named = std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return starts_with(line, start);
        });
        EXPECT_EQ(named, 1);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return starts_with(line, start);
        });
        if (line != lines.end()) {
            const std::string reason = line->substr(start.size());
            EXPECT_NE(std::find(file.reasons.begin(), file.reasons.end(), reason),
                      file.reasons.end())
                << reason;
        }
    }
}

TEST(parse_workers, bad_files_are_named_once_and_the_search_goes_on) {
    temp_tree tree;
    write_tree(tree);
    process_options options;
    options.cwd = tree.path();
    options.timeout_seconds = 90; // a hang, not a slow machine
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        const process_result result =
            run_pyrn({"--vimgrep", "--sort", "path", "--stats", "-j", jobs, "--parse-timeout", "2",
                      "--parse-memory", "512", "probe_", "."},
                     options);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected_matches());
        const std::vector<std::string> lines = lines_of(result.err);
        expect_each_named_once(lines);
        EXPECT_EQ(lines.size(), 5u + 8u) << result.err;
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "pyrn: parses that crashed, ran too long or ran out of memory: 5");
    }
}

// A parse reads no terminal: /dev/tty in a worker, which has none, is a missing include, and
// the file is searched as far as it parses.
TEST(parse_workers, an_include_of_the_terminal_reads_nothing_from_it) {
    temp_tree tree;
    tree.write("tty.cpp", "#include \"/dev/tty\"\nint probe_tty() { return 0; }\n");
    process_options options;
    options.cwd = tree.path();
    options.stdout_is_terminal = true;
    options.stderr_is_terminal = true;
    options.controlling_terminal = true;
    options.timeout_seconds = 30;
    const process_result result =
        run_pyrn({"--vimgrep", "--no-progress", "--parse-timeout", "20", "probe_", "."}, options);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "./tty.cpp:2:5:int probe_tty() { return 0; }\n");
}

// The options of a -p entry are probed in the search's own process: one that includes a named
// pipe is left to the parse, in a worker.
TEST(parse_workers, an_entry_that_includes_a_pipe_holds_only_its_file) {
    temp_tree tree;
    ASSERT_EQ(mkfifo(tree.path("pipe.h").c_str(), 0600), 0);
    tree.write("a.cpp", "int probe_a() { return 0; }\n");
    tree.write("b.cpp", "int probe_b() { return 0; }\n");
    const std::string entry = R"({"directory": ")" + tree.path() + R"(", "file": ")";
    tree.write("build/compile_commands.json",
               "[" + entry +
                   R"(a.cpp", "arguments": ["c++", "-include", "pipe.h", "-c", "a.cpp"]},)" +
                   entry + R"(b.cpp", "arguments": ["c++", "-c", "b.cpp"]}])");
    process_options options;
    options.cwd = tree.path();
    options.timeout_seconds = 60;
    const process_result result =
        run_pyrn({"--vimgrep", "--parse-timeout", "2", "-p", "build", "probe_", "."}, options);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "./b.cpp:1:5:int probe_b() { return 0; }\n");
    EXPECT_EQ(result.err, "pyrn: ./a.cpp: the parse took longer than 2 s and was stopped\n");
}

TEST(parse_workers, limits_out_of_range_end_the_run) {
    const struct {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{"--parse-timeout", "-1"},
         "pyrn: --parse-timeout: expected 0 to 1000000 seconds, got -1\n"},
        {{"--parse-memory", "-5"}, "pyrn: --parse-memory: expected 0 to 1073741824 MiB, got -5\n"},
    };
    temp_tree tree;
    tree.write("a.cpp", "int probe_a;\n");
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"probe_", tree.path()});
        const process_result result = run_pyrn(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "");
    }
}

} // namespace
