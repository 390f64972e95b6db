#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing_support::run_pyrn;

std::string help_text() {
    return testing_support::read_file(testing_support::test_dir() + "/golden/help.txt");
}

// The help listing without its final newline, as it follows an error message.
std::string help_listing() {
    std::string help = help_text();
    return help.substr(0, help.size() - 1);
}

std::string fixture() {
    return testing_support::test_dir() + "/fixtures/cli";
}

struct cli_case {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
};

TEST(command_line, help_version_and_errors) {
    const std::string tree = fixture();
    const cli_case cases[] = {
        {"no arguments", {}, 1, "", "path: 1 argument(s) expected. 0 provided.\n" + help_listing()},
        {"help alone", {"-h"}, 0, help_text(), ""},
        {"long help alone", {"--help"}, 0, help_text(), ""},
        {"help with query only", {"-h", "q"}, 0, help_text(), ""},
        {"version alone", {"-v"}, 0, "0.6.0\n", ""},
        {"long version alone", {"--version"}, 0, "0.6.0\n", ""},
        {"version after valid arguments", {"--enum", "q", tree, "--version"}, 0, "0.6.0\n", ""},
        {"unknown option",
         {"--frobnicate", "q", tree},
         1,
         "",
         "Unknown argument: --frobnicate\n" + help_listing()},
        {"j not a number",
         {"-j", "abc", "q", tree},
         1,
         "",
         "pattern 'abc' not found\n" + help_listing()},
        {"j with trailing text",
         {"-j", "4x", "q", tree},
         1,
         "",
         "pattern '4x' does not match to the end\n" + help_listing()},
        {"j out of int range",
         {"-j", "99999999999", "q", tree},
         1,
         "",
         "'99999999999' not representable\n" + help_listing()},
        {"flag given twice",
         {"--enum", "--enum", "q", tree},
         1,
         "",
         "Duplicate argument --enum\n" + help_listing()},
        {"third positional",
         {"q", tree, "extra"},
         1,
         "",
         "Maximum number of positional arguments exceeded, failed to parse 'extra'\n" +
             help_listing()},
        {"missing path",
         {"q", tree + "/missing"},
         2,
         "",
         "pyrn: " + tree + "/missing: No such file or directory\n"},
        {"missing path, said before a database that is missing too",
         {"-p", tree + "/no_database", "q", tree + "/missing"},
         2,
         "",
         "pyrn: " + tree + "/missing: No such file or directory\n"},
        {"missing path, said before a cache that cannot be made",
         {"--cache", "/proc/no_cache_here", "q", tree + "/missing"},
         2,
         "",
         "pyrn: " + tree + "/missing: No such file or directory\n"},
        {"a file as the path, whatever the filter",
         {"--nc", "-f", "*.h", "answer", tree + "/a.cpp"},
         0,
         "\n// " + tree + "/a.cpp (Line: 1 to 1)\nint answer() { return 42; }\n\n",
         ""},
        {"sort by another key",
         {"--sort", "size", "q", tree},
         1,
         "",
         "Invalid argument \"size\" for '--sort': expected path\n" + help_listing()},
        {"colour of another kind",
         {"--color", "blue", "q", tree},
         1,
         "",
         "Invalid argument \"blue\" for '--color': expected always, never or auto\n" +
             help_listing()},
        {"colour with no colour",
         {"--nc", "--color", "always", "q", tree},
         1,
         "",
         "Argument '--color' not allowed with '--no-color'\n" + help_listing()},
        {"two output formats",
         {"--json", "--files-with-matches", "q", tree},
         1,
         "",
         "Argument '--files-with-matches' not allowed with '--json'\n" + help_listing()},
        {"negative thread count",
         {"-j", "-1", "q", tree},
         2,
         "",
         "pyrn: the number of threads must not be negative, got -1\n"},
    };
    for (const cli_case& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = run_pyrn(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
}

// The options added to the original ones take exactly one value: without it, before another
// option or as the last word, the run ends as for any command-line error.
TEST(command_line, options_that_take_a_value_need_it) {
    const std::string tree = fixture();
    for (const char* option : {"-p", "--compile-commands", "--cache", "--sort", "--exclude",
                               "--color", "--cache-key", "--parse-memory"}) {
        SCOPED_TRACE(option);
        const std::string expected =
            std::string("Too few arguments for '") + option + "'.\n" + help_listing();
        for (const auto& arguments : {std::vector<std::string>{option, "-F", "q", tree},
                                      std::vector<std::string>{"-F", "q", tree, option}}) {
            auto result = run_pyrn(arguments);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, expected);
        }
    }
}

TEST(command_line, help_with_query_and_path_searches) {
    auto result = run_pyrn({"-h", "--nc", "absent_query_text", fixture()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n");
    EXPECT_EQ(result.err, "");
}

TEST(command_line, include_dir_may_be_repeated) {
    auto result = run_pyrn({"-I", "a", "-I", "b", "--nc", "absent_query_text", fixture()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n");
    EXPECT_EQ(result.err, "");
}

// A query or a path that begins with '-' follows "--"; with -0 each listed path ends in a NUL,
// so that a name holding a line feed cannot pass for two.
TEST(command_line, double_dash_ends_the_options_and_null_ends_each_listed_path) {
    testing_support::temp_tree tree;
    const std::string code = "struct node { int b; };\nint arrow(node* a) { return a->b; }\n";
    tree.write("-dir/one.cpp", code);
    tree.write("-dir/new\nline.cpp", code);
    const std::string block = " (Line: 2 to 2)\nint arrow(node* a) { return a->b; }\n\n";
    const struct {
        std::vector<std::string> arguments;
        std::string out;
    } cases[] = {
        {{"--nc", "-f", "*/one.cpp", "--", "->b", "-dir"}, "\n// -dir/one.cpp" + block},
        {{"--nc", "-f", "*/one.cpp", "-F", "arrow", "--", "-dir"}, "\n// -dir/one.cpp" + block},
        {{"-0", "--files-with-matches", "-f", "*/new*", "arrow", "--", "-dir/"},
         std::string("-dir/new\nline.cpp") + '\0'},
        {{"--null", "--files-with-matches", "-f", "*/one.cpp", "--", "->b", "-dir"},
         std::string("-dir/one.cpp") + '\0'},
    };
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const auto result = run_pyrn(c.arguments, in_tree);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
