// The README shows commands with their output: run as written, in a copy of what a clone
// holds, the built binary must print exactly that output.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing_support::lines_of;
using testing_support::process_result;
using testing_support::run_process;

struct shown_run {
    std::string command;
    std::string output;
};

// Every "$ pyrn ..." line in a code block, with the lines up to the next command or the end
// of the block as its output.
std::vector<shown_run> runs_shown(const std::string& readme) {
    std::vector<shown_run> runs;
    std::istringstream lines(readme);
    std::string line;
    bool in_output = false;
    while (std::getline(lines, line)) {
        if (line.rfind("$ ", 0) == 0 || line.rfind("```", 0) == 0) {
            in_output = line.rfind("$ pyrn ", 0) == 0;
            if (in_output) {
                runs.push_back({line.substr(2), ""});
            }
        } else if (in_output) {
            runs.back().output += line + "\n";
        }
    }
    return runs;
}

// Whether the shown lines are those of standard output and standard error, each in its own
// order, as a terminal shows both.
bool interleaves(const std::string& shown, const std::string& out, const std::string& err) {
    const std::vector<std::string> from_out = lines_of(out);
    const std::vector<std::string> from_err = lines_of(err);
    std::size_t o = 0;
    std::size_t e = 0;
    for (const std::string& line : lines_of(shown)) {
        if (o < from_out.size() && from_out[o] == line) {
            ++o;
        } else if (e < from_err.size() && from_err[e] == line) {
            ++e;
        } else {
            return false;
        }
    }
    return o == from_out.size() && e == from_err.size() && shown.size() == out.size() + err.size();
}

fs::path source_dir() {
    return fs::path(testing_support::test_dir()).parent_path();
}

// The files git keeps, copied: what a fresh clone holds, without builds and local trees.
void copy_tracked_files(const fs::path& to) {
    testing_support::process_options in_source;
    in_source.cwd = source_dir();
    const process_result tracked = run_process({"git", "ls-files", "-z"}, in_source);
    ASSERT_EQ(tracked.status, 0) << "the README is checked in a git checkout: " << tracked.err;
    std::istringstream names(tracked.out);
    for (std::string name; std::getline(names, name, '\0');) {
        if (fs::is_regular_file(source_dir() / name)) {
            fs::create_directories((to / name).parent_path());
            fs::copy_file(source_dir() / name, to / name);
        }
    }
}

TEST(readme, every_example_prints_what_the_readme_shows_in_a_fresh_clone) {
    const std::vector<shown_run> runs =
        runs_shown(testing_support::read_file((source_dir() / "README.md").native()));
    ASSERT_GE(runs.size(), 17u);
    testing_support::temp_tree clone;
    copy_tracked_files(clone.root());
    testing_support::process_options in_clone;
    in_clone.cwd = clone.path();
    const std::string path = fs::path(testing_support::pyrn_binary()).parent_path().native() + ":" +
                             (std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
    for (const shown_run& run : runs) {
        SCOPED_TRACE(run.command);
        const process_result result =
            run_process({"env", "PATH=" + path, "sh", "-c", run.command}, in_clone);
        EXPECT_EQ(result.status, 0) << result.err;
        if (result.err.empty()) {
            EXPECT_EQ(result.out, run.output);
        } else {
            EXPECT_TRUE(interleaves(run.output, result.out, result.err))
                << "shown:\n"
                << run.output << "standard output:\n"
                << result.out << "standard error:\n"
                << result.err;
        }
    }
}

} // namespace
