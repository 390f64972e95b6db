#include "app/command_line.hpp"
#include "core/kind_choice.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using search::kind_choice;

const std::pair<const char*, bool kind_choice::*> kind_fields[] = {
    {"enum", &kind_choice::search_for_enum},
    {"struct", &kind_choice::search_for_struct},
    {"union", &kind_choice::search_for_union},
    {"member_function", &kind_choice::search_for_member_function},
    {"function", &kind_choice::search_for_function},
    {"function_template", &kind_choice::search_for_function_template},
    {"class", &kind_choice::search_for_class},
    {"class_template", &kind_choice::search_for_class_template},
    {"class_constructor", &kind_choice::search_for_class_constructor},
    {"class_destructor", &kind_choice::search_for_class_destructor},
    {"typedef", &kind_choice::search_for_typedef},
    {"using_declaration", &kind_choice::search_for_using_declaration},
    {"namespace_alias", &kind_choice::search_for_namespace_alias},
    {"variable_declaration", &kind_choice::search_for_variable_declaration},
    {"parameter_declaration", &kind_choice::search_for_parameter_declaration},
    {"static_cast", &kind_choice::search_for_static_cast},
    {"dynamic_cast", &kind_choice::search_for_dynamic_cast},
    {"reinterpret_cast", &kind_choice::search_for_reinterpret_cast},
    {"const_cast", &kind_choice::search_for_const_cast},
    {"throw_expression", &kind_choice::search_for_throw_expression},
    {"for_statement", &kind_choice::search_for_for_statement},
    {"enum_constant", &kind_choice::search_for_enum_constant},
    {"macro", &kind_choice::search_for_macro},
    {"lambda", &kind_choice::search_for_lambda},
    {"namespace", &kind_choice::search_for_namespace},
};

const std::set<std::string> opt_in_kinds = {"enum_constant", "macro", "lambda", "namespace"};

// The kinds of a search without kind options: all but the opt-in ones.
std::set<std::string> all_kinds() {
    std::set<std::string> names;
    for (const auto& field : kind_fields) {
        if (opt_in_kinds.count(field.first) == 0) {
            names.insert(field.first);
        }
    }
    return names;
}

// A parser configured like pyrn's, with the options parsed (query and path added).
void parse(argparse::ArgumentParser& parser, std::vector<std::string> options) {
    pyrn::configure_parser(parser);
    options.insert(options.begin(), "pyrn");
    options.push_back("query");
    options.push_back(".");
    parser.parse_args(options);
}

// Parses the options (query and path added) and returns the kinds they choose.
kind_choice kinds_after(std::vector<std::string> options) {
    argparse::ArgumentParser parser("pyrn", pyrn::version);
    parse(parser, std::move(options));
    return pyrn::chosen_kinds(parser);
}

// The names of the kind fields set.
std::set<std::string> names_of(const kind_choice& choice) {
    std::set<std::string> names;
    for (const auto& field : kind_fields) {
        if (choice.*field.second) {
            names.insert(field.first);
        }
    }
    return names;
}

struct kind_case {
    std::vector<std::string> options;
    std::set<std::string> kinds;
    bool include_expressions;
};

TEST(kind_options, select_the_kind_fields) {
    const kind_case cases[] = {
        {{}, all_kinds(), false},
        {{"--ie"}, all_kinds(), true},
        {{"--verbose", "-E", "--isl", "--nc"}, all_kinds(), false},
        {{"-F"}, {"function", "member_function", "function_template"}, false},
        {{"-C", "--enum"}, {"struct", "class", "class_template", "enum"}, false},
        {{"-c", "--const-cast"},
         {"static_cast", "dynamic_cast", "reinterpret_cast", "const_cast"},
         false},
        {{"--function", "--include-expressions"}, {"function"}, true},
        {{"--for-statement", "--throw-expression"}, {"for_statement", "throw_expression"}, false},
        {{"--using-declaration", "--namespace-alias", "--typedef"},
         {"using_declaration", "namespace_alias", "typedef"},
         false},
        {{"--variable-declaration", "--parameter-declaration", "--union", "--struct"},
         {"variable_declaration", "parameter_declaration", "union", "struct"},
         false},
        {{"--class-constructor", "--class-destructor", "--class", "--class-template"},
         {"class_constructor", "class_destructor", "class", "class_template"},
         false},
        {{"--member-function", "--function-template", "--static-cast", "--dynamic-cast",
          "--reinterpret-cast"},
         {"member_function", "function_template", "static_cast", "dynamic_cast",
          "reinterpret_cast"},
         false},
        {{"--enum-constant", "--macro", "--lambda", "--namespace"}, opt_in_kinds, false},
        {{"--macro", "-F", "--ie"},
         {"macro", "function", "member_function", "function_template"},
         true},
        {{"--namespace", "--enum"}, {"namespace", "enum"}, false},
    };
    for (const kind_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        const kind_choice choice = kinds_after(c.options);
        EXPECT_EQ(names_of(choice), c.kinds);
        EXPECT_EQ(choice.include_expressions, c.include_expressions);
    }
}

std::vector<std::string> clang_options_for(std::vector<std::string> options) {
    argparse::ArgumentParser parser("pyrn", pyrn::version);
    parse(parser, std::move(options));
    std::string language = parser.get<std::string>("--language");
    std::string std_argument = "-std=" + parser.get<std::string>("--std");
    std::vector<std::string> includes;
    for (const std::string& dir : parser.get<std::vector<std::string>>("--include-dir")) {
        includes.push_back("-I" + dir);
    }
    includes.push_back("-I./found/include");
    std::vector<std::string> result;
    for (const char* option : pyrn::build_clang_options(language, std_argument, includes)) {
        result.emplace_back(option);
    }
    return result;
}

TEST(clang_options, follow_language_standard_and_include_dirs) {
    using list = std::vector<std::string>;
    EXPECT_EQ(clang_options_for({}), (list{"-x", "c++", "-std=c++17", "-I./found/include"}));
    EXPECT_EQ(clang_options_for({"-l", "c"}), (list{"-x", "c", "-I./found/include"}));
    EXPECT_EQ(clang_options_for({"-l", "C++", "--std", "c++20"}),
              (list{"-x", "C++", "-I./found/include"}));
    EXPECT_EQ(clang_options_for({"--std", "c++20"}),
              (list{"-x", "c++", "-std=c++20", "-I./found/include"}));
    EXPECT_EQ(clang_options_for({"-I", "a", "--include-dir", "b"}),
              (list{"-x", "c++", "-std=c++17", "-Ia", "-Ib", "-I./found/include"}));
}

TEST(include_discovery, finds_directories_named_include_below_the_root) {
    testing_support::temp_tree tree;
    tree.make_dir("include");
    tree.make_dir("src/include");
    tree.make_dir("lib/myinclude");
    tree.make_dir("lib/third_party_include/deeper/include");
    tree.make_dir("lib/includes");
    tree.make_dir("lib/Include");
    tree.write("docs/include", "a file, not a directory\n");
    tree.symlink("../src/include", "links/linked_include");
    tree.symlink("missing", "links/dangling_include");
    tree.symlink("loop_include", "links/loop_include");

    std::string root = tree.path("lib/..");
    std::vector<std::string> found = pyrn::discover_include_dirs(root);
    std::set<std::string> found_set(found.begin(), found.end());
    EXPECT_EQ(found.size(), found_set.size());
    EXPECT_EQ(found_set, (std::set<std::string>{
                             "-I" + root + "/include",
                             "-I" + root + "/src/include",
                             "-I" + root + "/lib/myinclude",
                             "-I" + root + "/lib/third_party_include",
                             "-I" + root + "/lib/third_party_include/deeper/include",
                             "-I" + root + "/links/linked_include",
                         }));
}

TEST(include_discovery, never_adds_the_root_and_keeps_walk_order) {
    testing_support::temp_tree tree;
    tree.make_dir("include/sub/include");
    std::string root = tree.path("include");
    EXPECT_EQ(pyrn::discover_include_dirs(root),
              std::vector<std::string>{"-I" + root + "/sub/include"});
    EXPECT_EQ(pyrn::discover_include_dirs(root + "/"),
              std::vector<std::string>{"-I" + root + "/sub/include"});
}

TEST(include_discovery, reports_a_missing_root_and_finds_nothing_below_a_file) {
    testing_support::temp_tree tree;
    tree.write("file.cpp", "int x;\n");
    EXPECT_THROW(pyrn::discover_include_dirs(tree.path("missing")),
                 std::filesystem::filesystem_error);
    EXPECT_TRUE(pyrn::discover_include_dirs(tree.path("file.cpp")).empty());
}

} // namespace
