// Test labels: threads (run under ThreadSanitizer too)
// Bad input of every kind: pyrn must neither crash nor hang, must say what went wrong where
// something did, and must lose no match that a plain run finds.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using testing_support::process_options;
using testing_support::process_result;
using testing_support::run_pyrn;
using testing_support::run_pyrn_as_nobody;
using testing_support::temp_tree;

std::size_t count(const std::string& text, const std::string& piece) {
    std::size_t found = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++found;
    }
    return found;
}

// A run that ended by itself, not by a signal or the test's time limit.
void expect_clean_end(const process_result& result, int status = 0) {
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, status) << result.err;
}

std::string block(const std::string& path, int first, int last, const std::string& text) {
    return "\n// " + path + " (Line: " + std::to_string(first) + " to " + std::to_string(last) +
           ")\n" + text + "\n";
}

// --- paths ----------------------------------------------------------------------------------

TEST(bad_path, a_root_that_is_no_directory_ends_the_run_with_status_2) {
    temp_tree tree;
    ASSERT_EQ(mkfifo(tree.path("pipe.cpp").c_str(), 0600), 0);
    tree.symlink("loop", "loop");
    tree.symlink("nowhere", "dangling");
    const struct {
        std::string root;
        std::string reason;
    } cases[] = {
        {tree.path("missing"), "No such file or directory"},
        {tree.path("dangling"), "No such file or directory"},
        {tree.path("pipe.cpp"), "Not a directory"},
        {tree.path("loop"), "Too many levels of symbolic links"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        auto result = run_pyrn({"--nc", "f", c.root});
        expect_clean_end(result, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "pyrn: " + c.root + ": " + c.reason + "\n");
    }
}

TEST(bad_path, an_unreadable_file_is_reported_and_the_others_are_searched) {
    temp_tree tree;
    tree.write("a_open.cpp", "int target_open() { return 0; }\n");
    tree.write("b_locked.cpp", "int target_locked() { return 0; }\n");
    tree.set_mode("b_locked.cpp", fs::perms::none);
    auto result =
        run_pyrn_as_nobody(tree.path(), {"--nc", "-j", "1", "-F", "target_", tree.path()});
    expect_clean_end(result);
    EXPECT_EQ(result.out,
              block(tree.path("a_open.cpp"), 1, 1, "int target_open() { return 0; }") + "\n");
    EXPECT_EQ(result.err, "pyrn: " + tree.path("b_locked.cpp") + ": Permission denied\n");
}

TEST(bad_path, links_that_lead_back_up_the_tree_are_not_followed) {
    temp_tree tree;
    tree.write("a/x.cpp", "int target_x() { return 0; }\n");
    tree.symlink("..", "a/up");
    tree.symlink(tree.path(), "a/root");
    auto result = run_pyrn({"--nc", "-F", "target_", tree.path()});
    expect_clean_end(result);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, block(tree.path("a/x.cpp"), 1, 1, "int target_x() { return 0; }") + "\n");
}

// --- file contents --------------------------------------------------------------------------

TEST(bad_content, binary_nul_and_invalid_utf8_files_are_searched_without_harm) {
    temp_tree tree;
    std::mt19937 random(7);
    std::string binary(64 * 1024, '\0');
    for (char& byte : binary) {
        byte = static_cast<char>(random());
    }
    // Random bytes decide what libclang makes of the rest of that file; it must merely survive.
    tree.write("blob.cpp", binary + "int target_fn_blob() { return 0; }\n");
    tree.write("nul.cpp", std::string("int before() { return 0; }\n\0\0\0\n", 31) +
                              "int target_fn_nul() { return 1; }\n");
    tree.write("utf8.cpp", "// \xff\xfe\x80 not UTF-8\n"
                           "const char* s = \"\xc3\x28\";\n"
                           "int target_fn_utf8() { return 2; }\n");
    auto result = run_pyrn({"--nc", "-j", "1", "-F", "target_fn", tree.path()});
    expect_clean_end(result);
    EXPECT_NE(
        result.out.find(block(tree.path("nul.cpp"), 3, 3, "int target_fn_nul() { return 1; }")),
        std::string::npos);
    EXPECT_NE(
        result.out.find(block(tree.path("utf8.cpp"), 3, 3, "int target_fn_utf8() { return 2; }")),
        std::string::npos);
}

TEST(bad_content, crlf_line_ends_are_kept_in_the_snippet) {
    temp_tree tree;
    tree.write("crlf.cpp", "int crlf_fn()\r\n{\r\n    return 0;\r\n}\r\n");
    auto result = run_pyrn({"--nc", "-F", "crlf_fn", tree.path()});
    expect_clean_end(result);
    EXPECT_EQ(result.out,
              block(tree.path() + "/crlf.cpp", 1, 4, "int crlf_fn()\r\n{\r\n    return 0;\r\n}") +
                  "\n");
}

TEST(bad_content, huge_files_and_huge_lines) {
    temp_tree tree;
    // 50 MiB without the query: dropped by the pre-filter.
    tree.write("huge_absent.cpp", std::string(50u << 20, 'x'));
    // 50 MiB of comment with the match at its very end.
    tree.write("huge_present.cpp",
               "/*" + std::string(50u << 20, 'c') + "*/\nint huge_fn() { return 0; }\n");
    // One line of 10 MiB holding the match.
    tree.write("long_line.cpp",
               "int line_fn() { return 0; } /*" + std::string(10u << 20, 'l') + "*/\n");
    auto result = run_pyrn({"--nc", "-j", "2", "-F", "_fn", tree.path()});
    expect_clean_end(result);
    EXPECT_EQ(count(result.out, "int huge_fn() { return 0; }\n"), 1u);
    EXPECT_EQ(count(result.out, "int line_fn() { return 0; }\n"), 1u);
    EXPECT_LT(result.out.size(), 4096u); // the 10 MiB comment is not part of any snippet
}

TEST(bad_content, an_include_of_standard_input_reads_nothing) {
    temp_tree tree;
    tree.write("stdin.cpp", "#include \"/proc/self/fd/0\"\n#include \"/dev/stdin\"\n"
                            "int stdin_fn() { return 0; }\n");
    process_options options;
    options.stdin_stays_open = true; // a terminal nobody types at
    options.timeout_seconds = 30;
    auto result = run_pyrn({"--nc", "-F", "stdin_fn", tree.path()}, options);
    expect_clean_end(result);
    EXPECT_EQ(result.out,
              block(tree.path("stdin.cpp"), 3, 3, "int stdin_fn() { return 0; }") + "\n");
}

// --- tree shapes ----------------------------------------------------------------------------

TEST(bad_tree, deep_nesting_many_files_and_odd_names) {
    temp_tree tree;
    std::string deep = "deep";
    for (int level = 0; level < 200; ++level) {
        deep += "/d";
    }
    tree.write(deep + "/bottom.cpp", "int target_deep() { return 0; }\n");
    for (int i = 0; i < 10000; ++i) {
        std::string dir = "many/" + std::to_string(i % 100) + "/";
        std::string body = i % 100 == 0
                               ? "int target_many_" + std::to_string(i) + "() { return 0; }\n"
                               : "int other_" + std::to_string(i) + "() { return 0; }\n";
        tree.write(dir + std::to_string(i) + ".cpp", body);
    }
    const std::string odd_names[] = {"with space.cpp", "new\nline.cpp", "\x80\xff bytes.cpp"};
    for (const std::string& name : odd_names) {
        tree.write("odd/" + name, "int target_odd() { return 0; }\n");
    }
    auto result = run_pyrn({"--nc", "-F", "target_", tree.path()});
    expect_clean_end(result);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(count(result.out, "int target_deep() { return 0; }\n"), 1u);
    EXPECT_EQ(count(result.out, "int target_many_"), 100u);
    for (const std::string& name : odd_names) {
        EXPECT_EQ(count(result.out, "// " + tree.path("odd/" + name) + " (Line: 1 to 1)\n"), 1u)
            << name;
    }
}

TEST(bad_tree, files_that_vanish_during_the_run) {
    temp_tree tree;
    for (int i = 0; i < 3000; ++i) {
        tree.write("v/" + std::to_string(i % 30) + "/" + std::to_string(i) + ".cpp",
                   "int vanish_" + std::to_string(i) + "() { return 0; }\n");
    }
    std::atomic<bool> stop{false};
    std::thread remover([&] {
        std::error_code error;
        for (int i = 2999; i >= 0 && !stop; --i) {
            fs::remove(tree.path("v/" + std::to_string(i % 30) + "/" + std::to_string(i) + ".cpp"),
                       error);
        }
    });
    auto result = run_pyrn({"--nc", "--stats", "-F", "vanish_", tree.path()});
    stop = true;
    remover.join();
    expect_clean_end(result);
    // Each file the walk listed and could not read later is named once and counted.
    std::size_t named = 0;
    std::string counted;
    for (const std::string& line : testing_support::lines_of(result.err)) {
        named += line.size() > 26 &&
                 line.compare(line.size() - 27, 27, ": No such file or directory") == 0;
        if (line.rfind("pyrn: files that could not be read: ", 0) == 0) {
            counted = line.substr(line.rfind(' ') + 1);
        }
    }
    EXPECT_EQ(counted, std::to_string(named));
}

// --- queries and output ---------------------------------------------------------------------

TEST(bad_query, long_and_non_ascii_queries) {
    temp_tree tree;
    tree.write("a.cpp", "int gr\xc3\xb6\xc3\x9f"
                        "e() { return 0; }\n");
    auto long_query = run_pyrn({"--nc", std::string(10000, 'q'), tree.path()});
    expect_clean_end(long_query);
    EXPECT_EQ(long_query.out, "\n");
    auto non_ascii = run_pyrn({"--nc", "-F", "\xc3\xb6\xc3\x9f", tree.path()});
    expect_clean_end(non_ascii);
    EXPECT_EQ(non_ascii.out, block(tree.path() + "/a.cpp", 1, 1,
                                   "int gr\xc3\xb6\xc3\x9f"
                                   "e() { return 0; }") +
                                 "\n");
}

TEST(bad_output, a_reader_that_goes_away_ends_the_run_quietly) {
    temp_tree tree;
    for (int i = 0; i < 200; ++i) {
        tree.write(std::to_string(i) + ".cpp",
                   "int closed_" + std::to_string(i) + "() { return 0; }\n");
    }
    process_options options;
    options.close_stdout_early = true;
    auto result = run_pyrn({"--nc", "-F", "closed_", tree.path()}, options);
    EXPECT_FALSE(result.timed_out);
    // Ended by SIGPIPE like any filter whose reader left, or by a write error: never a crash.
    EXPECT_TRUE(result.status == 128 + 13 || result.status == 2 || result.status == 0)
        << result.status;
}

// What ThreadSanitizer wrote to the files of log_path=prefix, which are removed.
std::string take_sanitizer_log(const temp_tree& logs) {
    std::string log;
    for (const auto& entry : fs::directory_iterator(logs.root())) {
        log += testing_support::read_file(entry.path().native());
        fs::remove(entry.path());
    }
    return log;
}

// Runs pyrn whose standard error no one reads: under ThreadSanitizer its reports go to files
// instead, and whatever it reports fails the test.
process_result run_with_sanitizer_log(const std::vector<std::string>& arguments,
                                      const process_options& options, const temp_tree& logs) {
    std::vector<std::string> argv{"env"};
    if (const char* tsan = std::getenv("TSAN_OPTIONS")) {
        argv.push_back(std::string("TSAN_OPTIONS=") + tsan + ":log_path=" + logs.path("tsan"));
    }
    argv.push_back(testing_support::pyrn_binary());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process_result result = testing_support::run_process(argv, options);
    EXPECT_EQ(take_sanitizer_log(logs), "");
    return result;
}

// A message that standard error cannot take is lost, and nothing more: no match goes missing,
// and no worker outlives the run (AddressSanitizer would see it read the settings' storage).
TEST(bad_output, a_standard_error_that_takes_nothing_loses_no_match) {
    temp_tree tree;
    std::string deep = "d"; // long paths: the Checking lines fill a pipe after a few files
    for (char level = 'a'; level < 'i'; ++level) {
        deep += "/" + std::string(120, level);
    }
    std::set<std::string> expected;
    for (int i = 0; i < 100; ++i) {
        const std::string file = deep + "/" + std::to_string(i) + ".cpp";
        tree.write(file, "int lost_" + std::to_string(i) + "() { return 0; }\n");
        expected.insert(tree.path(file));
    }
    for (int i = 0; i < 50; ++i) {
        const std::string loop = "loop" + std::to_string(i) + ".cpp";
        tree.symlink(loop, "loops/" + loop);
    }
    temp_tree logs;
    for (auto err :
         {testing_support::error_stream::full_disk, testing_support::error_stream::unread_pipe}) {
        SCOPED_TRACE(static_cast<int>(err));
        process_options options;
        options.err = err;
        auto result = run_with_sanitizer_log(
            {"--verbose", "--files-with-matches", "-j", "2", "lost_", tree.path()}, options, logs);
        expect_clean_end(result);
        std::set<std::string> listed;
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            listed.insert(line);
        }
        EXPECT_TRUE(listed == expected) << listed.size() << " of " << expected.size() << " listed";
    }
}

} // namespace
