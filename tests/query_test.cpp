// Qualified names, -i and --regex on tests/fixtures/queries: namespaces, nested, anonymous and
// inline scopes, out-of-line member definitions, overloads and same-named members.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using testing_support::process_result;

const std::string tree = testing_support::test_dir() + "/fixtures/queries";

process_result search(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--nc", "-j", "1"});
    arguments.push_back(tree);
    return testing_support::run_pyrn(arguments);
}

// The start lines of the matches in reader.cpp.
std::vector<unsigned> lines_found(const process_result& result) {
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<unsigned> lines;
    for (const auto& found : testing_support::parse_blocks(result.out)) {
        EXPECT_EQ(found.path, tree + "/reader.cpp");
        lines.push_back(found.start_line);
    }
    return lines;
}

struct query_case {
    std::vector<std::string> arguments;
    std::vector<unsigned> lines;
};

TEST(queries, match_qualified_names_without_case_and_by_expression) {
    const query_case cases[] = {
        // In class and out of line, overloads, and by substring opened and MyReader::open.
        {{"-F", "Reader::open"}, {5, 6, 7, 13, 28, 30}},
        {{"-F", "-E", "Reader::open"}, {5, 6, 28, 30}},
        {{"-F", "-E", "::open"}, {35}},
        // Anonymous and inline namespaces are left out of the name.
        {{"-F", "-E", "io::Hidden::open"}, {18}},
        {{"-F", "-E", "io::Open_File"}, {23}},
        {{"-i", "-F", "-E", "io::open_file"}, {23}},
        {{"-i", "--class", "reader"}, {3, 11}},
        // A reference's name is that of what it refers to; the parameters of Reader::open are
        // not Reader::open. With -E, references to the one entity named pass too.
        {{"--function", "--ie", "Reader::open"}, {37}},
        {{"--function", "--ie", "-E", "::open"}, {35, 37}},
        {{"--regex", "-F", "^open$"}, {5, 6, 13, 18, 28, 30, 35}},
        {{"--regex", "-F", "-E", "open|opened"}, {5, 6, 7, 13, 18, 28, 30, 35}},
        {{"--regex", "-F", "-E", "Reader::open(ed)?"}, {5, 6, 7, 28, 30}},
        // The text test keeps the query as it is.
        {{"-i", "R.OPEN(3)"}, {37}},
        {{"--regex", "r\\.open\\([0-9]\\)"}, {37}},
    };
    for (const query_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(lines_found(search(c.arguments)), c.lines);
    }
}

// The files that were parsed, from the lines of --verbose.
std::set<std::string> parsed(const process_result& result) {
    std::set<std::string> files;
    for (const char* file : {"other.cpp", "reader.cpp"}) {
        if (result.out.find("Checking " + tree + "/" + file + "\n") != std::string::npos) {
            files.insert(file);
        }
    }
    return files;
}

TEST(queries, pre_filter_asks_what_a_match_needs) {
    const struct {
        std::vector<std::string> arguments;
        std::set<std::string> parsed;
    } cases[] = {
        // The file never spells ::close_all: the last component is looked for.
        {{"-F", "::close_all"}, {"other.cpp"}},
        {{"-i", "-F", "CLOSE_ALL"}, {"other.cpp"}},
        {{"--regex", "-F", "[a-z]+_all"}, {"other.cpp"}},
        {{"--regex", "-F", "io::[A-Z]\\w+::close"}, {"other.cpp"}},
        // Nothing required: every file is parsed.
        {{"--regex", "-F", "^[a-z]+$"}, {"other.cpp", "reader.cpp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        std::vector<std::string> verbose{"--verbose"};
        verbose.insert(verbose.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(parsed(search(verbose)), c.parsed);
    }
    EXPECT_EQ(search({"-F", "::close_all"}).out,
              "\n// " + tree +
                  "/other.cpp (Line: 1 to 1)\n"
                  "int close_all(int handles) { return handles; }\n\n");
}

// RE2 lowers an expression's literals by Unicode's rules ("\xC3\x89" to "\xC3\xA9", the Kelvin
// sign to k): the pre-filter must not drop the files that hold them.
TEST(queries, expressions_with_characters_beyond_ascii_find_what_they_match) {
    const std::string capital_e_acute = "\xC3\x89";
    const std::string small_e_acute = "\xC3\xA9";
    const std::string kelvin_sign = "\xE2\x84\xAA";
    testing_support::temp_tree pastry;
    pastry.write("pastry.cpp", "int " + capital_e_acute + "clair_count() { return 1; }\nint " +
                                   kelvin_sign + "elvin_scale() { return 2; }\n");
    const std::string header = "\n// " + pastry.path("pastry.cpp");
    const std::string eclair =
        header + " (Line: 1 to 1)\nint " + capital_e_acute + "clair_count() { return 1; }\n\n";
    const std::string kelvin =
        header + " (Line: 2 to 2)\nint " + kelvin_sign + "elvin_scale() { return 2; }\n\n";
    const struct {
        std::vector<std::string> arguments;
        std::string out;
    } cases[] = {
        {{"-F", capital_e_acute + "clair"}, eclair}, // what the plain query finds
        {{"--regex", "-F", capital_e_acute + "clair"}, eclair},
        {{"--regex", "-F", "-E", capital_e_acute + "clair_count"}, eclair},
        {{"-i", "--regex", "-F", small_e_acute + "CLAIR"}, eclair},
        {{"--regex", "-F", kelvin_sign + "elvin"}, kelvin},
        {{"--regex", "-F", "\\x{212A}elvin"}, kelvin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        std::vector<std::string> arguments{"--nc"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        arguments.push_back(pastry.path());
        EXPECT_EQ(testing_support::run_pyrn(arguments).out, c.out);
    }
}

TEST(queries, malformed_expression_is_a_command_line_error) {
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--regex", "(abc"}, "missing ): (abc"},
        // Compared with the end of a qualified name, the expression is put in a group, whose
        // closing parenthesis an unclosed \Q takes in.
        {{"--regex", "-E", "-F", "\\Qreader::is_open"},
         "missing ): (?:.*::)?(?:\\Qreader::is_open)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const process_result result = search(c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(
            result.err.rfind("Invalid regular expression: " + c.message + "\nUsage: pyrn ", 0), 0u)
            << result.err;
    }
}

} // namespace
