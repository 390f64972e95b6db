// The README shows commands run on examples/ with their output: the built binary must print
// exactly that output.
#include "output.hpp"
#include "process.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct shown_run {
    std::string command;
    std::vector<std::string> arguments;
    std::string output;
};

// Splits at blanks; a single-quoted word keeps its blanks, as in a shell.
std::vector<std::string> shell_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool in_word = false;
    for (char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            in_word = true;
        } else if (c == ' ' && !quoted) {
            if (in_word) {
                words.push_back(word);
            }
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) {
        words.push_back(word);
    }
    return words;
}

// Every "$ pyrn ... examples" line in a code block, with the lines up to the next command or
// the end of the block as its output.
std::vector<shown_run> runs_shown_on_examples(const std::string& readme) {
    std::vector<shown_run> runs;
    std::istringstream lines(readme);
    std::string line;
    bool in_output = false;
    while (std::getline(lines, line)) {
        if (line.rfind("$ ", 0) == 0 || line.rfind("```", 0) == 0) {
            const std::vector<std::string> words = shell_words(line.substr(2));
            in_output = words.size() > 1 && words.front() == "pyrn" && words.back() == "examples";
            if (in_output) {
                runs.push_back({line, {words.begin() + 1, words.end()}, ""});
            }
        } else if (in_output) {
            runs.back().output += line + "\n";
        }
    }
    return runs;
}

TEST(readme, shows_the_output_that_pyrn_prints_for_its_examples) {
    const std::string source_dir =
        std::filesystem::path(testing_support::test_dir()).parent_path().native();
    const std::vector<shown_run> runs =
        runs_shown_on_examples(testing_support::read_file(source_dir + "/README.md"));
    ASSERT_GE(runs.size(), 8u);
    testing_support::process_options options;
    options.cwd = source_dir;
    for (const shown_run& run : runs) {
        SCOPED_TRACE(run.command);
        const testing_support::process_result result =
            testing_support::run_pyrn(run.arguments, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, run.output);
    }
}

} // namespace
