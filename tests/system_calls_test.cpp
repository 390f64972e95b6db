// The system calls of a warm search, as strace counts them: each file opened once and read with
// one read, no seek, no status query by path but for a symbolic link, and no sleeping worker
// that wakes up to look for work.
#include "cache_runs.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing_support::process_result;
using testing_support::temp_tree;

// The calls in an strace -f -y log whose line matches pattern, its first group the path.
std::map<std::string, int> calls_by_path(const std::string& log, const std::string& pattern) {
    std::map<std::string, int> counts;
    const std::regex call("^[0-9]+ +" + pattern);
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::smatch found;
        if (std::regex_search(line, found, call)) {
            ++counts[found[1]];
        }
    }
    return counts;
}

// pyrn run with the arguments under strace, which logs the calls (a comma-separated list) of
// every thread, with the paths of their descriptors, to log.
process_result traced_run(const std::vector<std::string>& arguments, const std::string& log,
                          const std::string& calls,
                          const testing_support::process_options& options = {}) {
    std::vector<std::string> traced{"strace",
                                    "-f",
                                    "-y",
                                    "-qq",
                                    "-o",
                                    log,
                                    "-e",
                                    "trace=" + calls,
                                    testing_support::pyrn_binary()};
    traced.insert(traced.end(), arguments.begin(), arguments.end());
    return testing_support::run_process(traced, options);
}

std::vector<testing_support::block> sorted_blocks(const std::string& out) {
    auto blocks = testing_support::parse_blocks(out);
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

TEST(warm_search, makes_the_system_calls_that_grep_makes) {
    temp_tree tree;
    temp_tree cache;
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".cpp");
        tree.write(files.back(), "int probe_" + std::to_string(i) + "() { return 0; }\n");
    }
    tree.write("notes.txt", "probe_ in a file that is not searched\n");
    tree.symlink("d0/f0.cpp", "link.cpp");
    const std::vector<std::string> search{"--nc",       "-j", "2",      "--cache",
                                          cache.path(), "-F", "probe_", tree.path()};
    const process_result filled = testing_support::run_pyrn(search);
    ASSERT_EQ(filled.status, 0);

    const std::string log = cache.path("strace.log");
    const process_result warm = traced_run(
        search, log, "openat,read,lseek,newfstatat,stat,statx,clock_nanosleep,nanosleep");
    if (warm.status != 0 && warm.err.find("strace") != std::string::npos) {
        GTEST_SKIP() << "strace cannot trace here: " << warm.err;
    }
    ASSERT_EQ(warm.status, 0) << warm.err;
    EXPECT_EQ(sorted_blocks(warm.out), sorted_blocks(filled.out));
    const std::string trace = testing_support::read_file(log);

    const std::string root = tree.path();
    const auto opened =
        calls_by_path(trace, "openat\\(AT_FDCWD(?:<[^>]*>)?, \"" + root + "/([^\"]*)\"");
    const auto read = calls_by_path(trace, "read\\([0-9]+<" + root + "/([^>]*)>");
    const auto sought = calls_by_path(trace, "lseek\\([0-9]+<" + root + "/([^>]*)>");
    const auto stated = calls_by_path(
        trace, "(?:newfstatat|stat|statx)\\((?:AT_FDCWD(?:<[^>]*>)?, )?\"" + root + "/([^\"]*)\"");
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        EXPECT_EQ(opened.count(file) ? opened.at(file) : 0, 1);
        // The link is read through its target.
        EXPECT_EQ(read.count(file) ? read.at(file) : 0, file == "d0/f0.cpp" ? 2 : 1);
    }
    EXPECT_EQ(opened.count("link.cpp"), 1u);
    EXPECT_EQ(opened.count("notes.txt"), 0u);
    EXPECT_TRUE(sought.empty()) << trace;
    // Only the link's type is not in its directory's listing; whether the root is a project of
    // its own is asked once.
    EXPECT_EQ(stated, (std::map<std::string, int>{
                          {".git", 1}, {"compile_commands.json", 1}, {"link.cpp", 1}}))
        << trace;
    EXPECT_EQ(calls_by_path(trace, "((?:clock_)?nanosleep)\\(").size(), 0u) << trace;
}

// How many of a warm search's calls match pattern, run as users do: from inside a tree of that
// many files, the root ".".
int warm_calls_inside(int files, const std::string& calls, const std::string& pattern) {
    temp_tree tree;
    temp_tree cache;
    for (int i = 0; i < files; ++i) {
        tree.write("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".cpp",
                   "int probe_" + std::to_string(i) + "() { return 0; }\n");
    }
    testing_support::process_options inside;
    inside.cwd = tree.path();
    const std::vector<std::string> search{"--nc", "--cache", cache.path(), "-F", "probe_", "."};
    if (testing_support::run_pyrn(search, inside).status != 0) {
        return -1;
    }
    const std::string log = cache.path("strace.log");
    if (traced_run(search, log, calls, inside).status != 0) {
        return -1;
    }
    int count = 0;
    for (const auto& [path, calls_of_path] :
         calls_by_path(testing_support::read_file(log), pattern)) {
        count += calls_of_path;
    }
    return count;
}

// An answer from the cache takes no lock of the database and does not ask for the working
// directory: the calls do not grow with the files.
TEST(warm_search, takes_no_lock_and_no_directory_name_per_file) {
    const int few = 12;
    const int many = 60;
    const std::string locks = "fcntl\\([0-9]+<([^>]*cursors\\.sqlite[^>]*)>";
    const int locks_few = warm_calls_inside(few, "fcntl", locks);
    if (locks_few < 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    EXPECT_LT(warm_calls_inside(many, "fcntl", locks) - locks_few, (many - few) / 3);
    const std::string names = "(getcwd)\\(";
    EXPECT_LT(warm_calls_inside(many, "getcwd", names) - warm_calls_inside(few, "getcwd", names),
              (many - few) / 2);
}

// A search that its cache answers waits on no parse: the workers past the cores never start.
TEST(warm_search, starts_no_more_workers_than_cores) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    const int cores = CPU_COUNT(&set);
    if (cores >= 5) {
        GTEST_SKIP() << "the default workers are no more than the cores";
    }
    const int started = warm_calls_inside(12, "clone,clone3", "(clone3?)\\(");
    if (started < 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    EXPECT_EQ(started, cores);
}

// The status queries by path of a warm search in tree: the search is run once to fill the
// cache, then again under strace, and must print the same. Nothing when strace cannot trace.
std::optional<std::map<std::string, int>> warm_states(const temp_tree& tree, const temp_tree& cache,
                                                      const std::vector<std::string>& search) {
    testing_support::settle(); // files of the parse's own tick are not kept
    testing_support::process_options inside;
    inside.cwd = tree.path();
    const process_result filled = testing_support::run_pyrn(search, inside);
    EXPECT_EQ(filled.status, 0) << filled.err;
    const std::string log = cache.path("strace.log");
    const process_result warm = traced_run(search, log, "newfstatat,stat,statx", inside);
    if (warm.status != 0 && warm.err.find("strace") != std::string::npos) {
        return std::nullopt;
    }
    EXPECT_EQ(warm.status, 0) << warm.err;
    EXPECT_EQ(sorted_blocks(warm.out), sorted_blocks(filled.out));
    return calls_by_path(testing_support::read_file(log),
                         "(?:newfstatat|stat|statx)\\((?:AT_FDCWD(?:<[^>]*>)?, )?\"([^\"]*)\"");
}

// A header among the walk's files is not looked at again by the checks of the entries that
// include it: the walk's state stands for it.
TEST(warm_search, takes_the_state_of_a_listed_header_once) {
    temp_tree tree;
    temp_tree cache;
    tree.write("shared.h", "int shared_value();\n");
    for (int i = 0; i < 2; ++i) {
        tree.write("use" + std::to_string(i) + ".cpp", "#include \"shared.h\"\nint probe_" +
                                                           std::to_string(i) +
                                                           "() { return shared_value(); }\n");
    }
    for (int i = 0; i < 6; ++i) { // files the index rules out, so that it narrows the search
        tree.write("other" + std::to_string(i) + ".cpp", "int other() { return 0; }\n");
    }
    const auto states =
        warm_states(tree, cache, {"--nc", "--cache", cache.path(), "-F", "probe_", "."});
    if (!states) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    int header_states = 0;
    for (const auto& [path, calls] : *states) {
        const std::string name = "/shared.h";
        if (path == "shared.h" ||
            (path.size() > name.size() &&
             path.compare(path.size() - name.size(), name.size(), name) == 0)) {
            header_states += calls;
        }
    }
    EXPECT_EQ(header_states, 1);
}

// A missing include is looked for in every include folder; where its own folder is missing, one
// status query of that folder stands for every header below it.
TEST(warm_search, looks_for_headers_in_a_missing_folder_by_that_folder) {
    temp_tree tree;
    temp_tree cache;
    for (int i = 0; i < 2; ++i) {
        tree.write("use" + std::to_string(i) + ".cpp",
                   "#include \"pyrn_gone/one.h\"\n#include \"pyrn_gone/two.h\"\nint probe_" +
                       std::to_string(i) + "() { return 0; }\n");
    }
    // One worker: two that meet on a folder may each look at it.
    const auto states =
        warm_states(tree, cache, {"--nc", "-j", "1", "--cache", cache.path(), "-F", "probe_", "."});
    if (!states) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    std::map<std::string, int> folders; // status queries of each missing folder
    int headers = 0;
    for (const auto& [path, calls] : *states) {
        const std::size_t at = path.rfind("/pyrn_gone");
        if (at == std::string::npos) {
            continue;
        }
        if (path.size() == at + std::string("/pyrn_gone").size()) {
            folders[path] += calls;
        } else {
            headers += calls;
        }
    }
    EXPECT_EQ(headers, 0);
    EXPECT_FALSE(folders.empty());
    for (const auto& [folder, calls] : folders) {
        EXPECT_EQ(calls, 1) << folder;
    }
}

} // namespace
