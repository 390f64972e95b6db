// Files that would hold the search forever or for ages: a named pipe where a source, an ignore
// file or git's config was, and ignore patterns whose matching costs time exponential in a
// path's depth. Each costs one line, never a hang.
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::process_options;
using testing_support::process_result;
using testing_support::temp_tree;

constexpr int seconds_allowed = 20; // a hang, not a slow machine

std::set<std::string> announced(const std::string& out) {
    std::set<std::string> files;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Checking ", 0) == 0) {
            files.insert(line.substr(9));
        }
    }
    return files;
}

// A source that the walk listed and that a named pipe replaced before it was read: the one
// worker is held by the parse of a.cpp, which waits for its header, until b.cpp is a pipe.
TEST(blocking_files, a_source_replaced_by_a_pipe_is_named_and_passed_over) {
    temp_tree tree;
    tree.write("a.cpp", "#include \"slow.h\"\nint probe_a() { return slow; }\n");
    tree.write("b.cpp", "int probe_b() { return 0; }\n");
    ASSERT_EQ(mkfifo(tree.path("slow.h").c_str(), 0600), 0);
    std::thread swap([&] {
        int header = -1;
        for (int tries = 0; tries < 6000 && header < 0; ++tries) {
            header = open(tree.path("slow.h").c_str(), O_WRONLY | O_NONBLOCK);
            if (header < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the walk is long done
        EXPECT_EQ(unlink(tree.path("b.cpp").c_str()), 0);
        EXPECT_EQ(mkfifo(tree.path("b.cpp").c_str(), 0600), 0);
        const std::string text = "static const int slow = 1;\n";
        EXPECT_EQ(write(header, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(header);
    });
    process_options options;
    options.cwd = tree.path();
    options.timeout_seconds = seconds_allowed;
    const process_result result = testing_support::run_pyrn(
        {"--nc", "-j", "1", "--sort", "path", "-F", "probe_", "."}, options);
    swap.join();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n// ./a.cpp (Line: 2 to 2)\nint probe_a() { return slow; }\n\n");
    EXPECT_EQ(result.err, "pyrn: ./b.cpp: not a regular file\n");
}

// A repository whose files of ignore rules are spoiled one way or another. What holds for the
// whole root refuses the search; a folder's own .gitignore leaves that folder out.
TEST(blocking_files, git_files_that_would_block_or_cost_too_much_are_refused) {
    const std::string deep = [] {
        std::string path = "repo/sub";
        for (int i = 0; i < 60; ++i) {
            path += "/d";
        }
        return path + "/deep.cpp";
    }();
    const std::string costly = "**/**/**/**/**/**/**/**/x";
    const std::string too_costly =
        "the pattern \"" + costly + "\" holds more than 2 \"**\", too costly to match";
    const struct {
        const char* what;
        std::function<void(const temp_tree&)> spoil;
        std::string refused; // the file named in the line that refuses the search
        std::string reason;
        std::string left_out; // or the line of the folder left out
    } cases[] = {
        {".gitignore a pipe",
         [](const temp_tree& t) { mkfifo(t.path("repo/.gitignore").c_str(), 0600); },
         "repo/.gitignore", "not a regular file", ""},
        {"info/exclude a pipe",
         [](const temp_tree& t) {
             unlink(t.path("repo/.git/info/exclude").c_str());
             mkfifo(t.path("repo/.git/info/exclude").c_str(), 0600);
         },
         "repo/.git/info/exclude", "not a regular file", ""},
        {"config a pipe",
         [](const temp_tree& t) {
             unlink(t.path("repo/.git/config").c_str());
             mkfifo(t.path("repo/.git/config").c_str(), 0600);
         },
         "repo/.git/config", "not a regular file", ""},
        {"core.excludesFile a pipe",
         [](const temp_tree& t) {
             mkfifo(t.path("excludes").c_str(), 0600);
             t.write("repo/.git/config", "[core]\n\texcludesFile = " + t.path("excludes") + "\n");
         },
         "excludes", "not a regular file", ""},
        {"a config that includes a pipe",
         [](const temp_tree& t) {
             mkfifo(t.path("included").c_str(), 0600);
             t.write("repo/.git/config",
                     "[core]\n\tbare = false\n[include]\n\tpath = ../../included\n");
         },
         "included", "not a regular file", ""},
        {"a costly pattern", [&](const temp_tree& t) { t.write("repo/.gitignore", costly + "\n"); },
         "repo/.gitignore", too_costly, ""},
        {"a folder's .gitignore a pipe",
         [](const temp_tree& t) { mkfifo(t.path("repo/sub/.gitignore").c_str(), 0600); }, "", "",
         "pyrn: repo/sub/.gitignore: not a regular file; the folder is left out\n"},
        {"a costly pattern in a folder's .gitignore",
         [&](const temp_tree& t) { t.write("repo/sub/.gitignore", "!" + costly + "\n"); }, "", "",
         "pyrn: repo/sub/.gitignore: " + too_costly + "; the folder is left out\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        temp_tree tree;
        if (testing_support::run_process({"git", "init", "-q", tree.path("repo")}).status != 0) {
            GTEST_SKIP() << "git is not installed";
        }
        for (const std::string& file : {std::string("repo/kept.cpp"), deep}) {
            tree.write(file, "// walkmarker\n");
        }
        c.spoil(tree);
        process_options options;
        options.cwd = tree.path();
        options.timeout_seconds = seconds_allowed;
        const process_result result = testing_support::run_process(
            {"env", "-u", "XDG_CONFIG_HOME", "HOME=" + tree.path("home"),
             testing_support::pyrn_binary(), "--nc", "--verbose", "--enum", "-j", "1",
             "--gitignore", "walkmarker", "repo"},
            options);
        EXPECT_FALSE(result.timed_out);
        if (c.refused.empty()) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.err, c.left_out);
            EXPECT_EQ(announced(result.out), std::set<std::string>{"repo/kept.cpp"});
        } else {
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.err, "pyrn: repo: " + tree.path(c.refused) + ": " + c.reason + "\n");
            EXPECT_EQ(result.out, "");
        }
    }
}

} // namespace
