// The built pyrn searching single fixture files: whole outputs compared byte for byte with
// golden files, libclang's diagnostics, the fatal parse failure and failing output.
// PYRN_UPDATE_GOLDEN=1 rewrites the golden files from the actual output.

#include "file_search_support.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using file_search_testing::read_file;
using testing_support::process_result;
using testing_support::run_pyrn;

const std::string fixture_dir = testing_support::test_dir() + "/fixtures/file_search";
const std::string golden_dir = testing_support::test_dir() + "/golden/file_search";

// Runs pyrn on the fixture directory with one file selected by the filter.
process_result search_fixture(const std::string& file, std::vector<std::string> options) {
    std::vector<std::string> arguments{"-j", "1", "--nc", "-f", "./" + file};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(".");
    return run_pyrn(arguments, {fixture_dir});
}

struct golden_case {
    const char* name;
    const char* file;
    std::vector<std::string> options; // the query comes last
};

std::ostream& operator<<(std::ostream& out, const golden_case& c) {
    return out << c.name;
}

class golden : public testing::TestWithParam<golden_case> {};

TEST_P(golden, whole_output_matches) {
    const golden_case& c = GetParam();
    const process_result result = search_fixture(c.file, c.options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              testing_support::golden("file_search/" + std::string(c.name) + ".out", result.out));
}

const golden_case golden_cases[] = {
    // Default text search: enclosing matches first, then each nested one again.
    {"default_nested_preorder", "realistic.cpp", {"count"}},
    {"cuda_with_syntax_errors", "kernel.cu", {"count"}},
    // Name test: substring of the name; exact with -E; --typedef switches to the text test.
    {"function_name", "functions.cpp", {"--function", "open"}},
    {"function_name_exact", "functions.cpp", {"--function", "-E", "open"}},
    {"function_typedef_text_test", "functions.cpp", {"--function", "--typedef", "open"}},
    {"function_empty_query", "functions.cpp", {"--function", ""}},
    {"function_ignore_single_line", "functions.cpp", {"--isl", "-F", "open"}},
    // Expression lines: leading blanks dropped, one print per reference.
    {"expressions_by_name", "expressions.cpp", {"--ie", "--function", "count"}},
    {"expressions_by_name_exact", "expressions.cpp", {"--ie", "--function", "-E", "count"}},
    {"expressions_field_and_member", "expressions.cpp", {"--ie", "--struct", "x"}},
    {"expressions_text_test", "expressions.cpp", {"--ie", "count"}},
    {"expressions_crlf", "crlf.cpp", {"--ie", "limit"}},
    {"expressions_no_final_line_feed", "no_final_newline.c", {"-l", "c", "--ie", "counter"}},
    // A for statement whose text lacks the query is not descended into.
    {"for_statement_not_descended", "for_statement.cpp", {"--for-statement", "--ie", "needle"}},
    // Headers, macro expansions and errors.
    {"header_declarations_not_printed", "uses_header.cpp", {"--function", "shape_area"}},
    {"macro_declarations_not_printed", "macros.cpp", {"get_"}},
    {"syntax_errors", "syntax_errors.cpp", {"--function", "after_errors"}},
    {"more_than_twenty_errors", "many_errors.cpp", {"--ie", "--function", "value"}},
    {"missing_include", "missing_include.cpp", {"--function", "survives"}},
};

INSTANTIATE_TEST_SUITE_P(file_search, golden, testing::ValuesIn(golden_cases),
                         [](const testing::TestParamInfo<golden_case>& info) {
                             return std::string(info.param.name);
                         });

TEST(file_search_run, exact_match_changes_nothing_while_the_text_test_is_on) {
    const process_result exact = search_fixture("realistic.cpp", {"-E", "count"});
    EXPECT_EQ(exact.status, 0);
    EXPECT_EQ(exact.out, read_file(golden_dir + "/default_nested_preorder.out"));
}

TEST(file_search_run, verbose_announces_checked_files_and_shows_diagnostics) {
    const process_result quiet = search_fixture("syntax_errors.cpp", {"after_errors"});
    EXPECT_EQ(quiet.err, "");
    const process_result verbose =
        search_fixture("syntax_errors.cpp", {"--verbose", "--function", "after_errors"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out.rfind("Checking ./syntax_errors.cpp\n", 0), 0u) << verbose.out;
    EXPECT_NE(verbose.err.find("./syntax_errors.cpp:1:19: error:"), std::string::npos)
        << verbose.err;
    EXPECT_EQ(verbose.out.substr(verbose.out.find('\n') + 1),
              read_file(golden_dir + "/syntax_errors.out"));

    const process_result comment = search_fixture("comment_only.cpp", {"--verbose", "zebra"});
    EXPECT_EQ(comment.out, "Checking ./comment_only.cpp\n\n");
    const process_result absent = search_fixture("comment_only.cpp", {"--verbose", "giraffe"});
    EXPECT_EQ(absent.out, "\n");
}

TEST(file_search_run, null_translation_unit_ends_the_process_with_255) {
    // libclang 19 gives no translation unit for an unknown language or standard.
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-l", "no-such-language"},
          std::vector<std::string>{"--std", "c++99"}}) {
        SCOPED_TRACE(options[1]);
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"--verbose", "open"});
        const process_result result = search_fixture("functions.cpp", arguments);
        EXPECT_EQ(result.status, 255);
        // Flushed although standard output is a pipe; no final newline follows.
        EXPECT_EQ(result.out, "Checking ./functions.cpp\n"
                              "Error: Unable to parse translation unit ./functions.cpp. "
                              "Quitting.\n");
    }
}

TEST(file_search_run, failed_writes_are_reported_per_file_and_the_search_goes_on) {
    testing_support::temp_tree tree;
    std::string body = "int big_function() {\n    int total = 0;\n";
    for (int i = 0; i < 2000; ++i) {
        body += "    total += " + std::to_string(i) + ";\n";
    }
    body += "    return total;\n}\n";
    tree.write("one.cpp", body);
    tree.write("two.cpp", body);
    const process_result result = testing_support::run_process(
        {"sh", "-c", "exec \"$0\" -j 1 --nc --function big_function . > /dev/full",
         testing_support::pyrn_binary()},
        {tree.path()});
    EXPECT_NE(result.err.find("pyrn: ./one.cpp: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("pyrn: ./two.cpp: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
    EXPECT_NE(result.status, 0);
}

} // namespace
