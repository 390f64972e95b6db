// The kinds of entity come from one table: the cursor kinds each admits (held here to libclang's
// names), the kind options that choose them, their names in --json, and which of them turn the
// name test into the text test.

#include "app/option_table.hpp"
#include "core/kind_choice.hpp"
#include "match/kinds.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <clang-c/Index.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using search::kind_choice;
using names = std::set<std::string>;

struct expected_kind {
    bool kind_choice::*field;
    const char* name;
    bool text_tested;
    bool expression;
    std::vector<int> cursor_kinds;
};

const expected_kind expected_kinds[] = {
    {&kind_choice::search_for_enum, "enum", false, false, {CXCursor_EnumDecl}},
    {&kind_choice::search_for_struct, "struct", false, false, {CXCursor_StructDecl}},
    {&kind_choice::search_for_union, "union", false, false, {CXCursor_UnionDecl}},
    {&kind_choice::search_for_member_function,
     "member_function",
     false,
     false,
     {CXCursor_CXXMethod}},
    {&kind_choice::search_for_function, "function", false, false, {CXCursor_FunctionDecl}},
    {&kind_choice::search_for_function_template,
     "function_template",
     false,
     false,
     {CXCursor_FunctionTemplate}},
    {&kind_choice::search_for_class, "class", false, false, {CXCursor_ClassDecl}},
    {&kind_choice::search_for_class_template,
     "class_template",
     false,
     false,
     {CXCursor_ClassTemplate, CXCursor_ClassTemplatePartialSpecialization}},
    {&kind_choice::search_for_class_constructor,
     "class_constructor",
     false,
     false,
     {CXCursor_Constructor}},
    {&kind_choice::search_for_class_destructor,
     "class_destructor",
     false,
     false,
     {CXCursor_Destructor}},
    {&kind_choice::search_for_typedef, "typedef", true, false, {CXCursor_TypedefDecl}},
    {&kind_choice::search_for_using_declaration,
     "using_declaration",
     false,
     false,
     {CXCursor_UsingDirective, CXCursor_UsingDeclaration, CXCursor_TypeAliasDecl}},
    {&kind_choice::search_for_namespace_alias,
     "namespace_alias",
     false,
     false,
     {CXCursor_NamespaceAlias}},
    {&kind_choice::search_for_variable_declaration,
     "variable_declaration",
     false,
     false,
     {CXCursor_VarDecl}},
    {&kind_choice::search_for_parameter_declaration,
     "parameter_declaration",
     false,
     false,
     {CXCursor_ParmDecl}},
    {&kind_choice::search_for_static_cast,
     "static_cast",
     true,
     false,
     {CXCursor_CXXStaticCastExpr}},
    {&kind_choice::search_for_dynamic_cast,
     "dynamic_cast",
     true,
     false,
     {CXCursor_CXXDynamicCastExpr}},
    {&kind_choice::search_for_reinterpret_cast,
     "reinterpret_cast",
     true,
     false,
     {CXCursor_CXXReinterpretCastExpr}},
    {&kind_choice::search_for_const_cast, "const_cast", true, false, {CXCursor_CXXConstCastExpr}},
    {&kind_choice::search_for_throw_expression,
     "throw_expression",
     true,
     false,
     {CXCursor_CXXThrowExpr}},
    {&kind_choice::search_for_for_statement,
     "for_statement",
     true,
     false,
     {CXCursor_ForStmt, CXCursor_CXXForRangeStmt}},
    {&kind_choice::include_expressions,
     "reference",
     false,
     true,
     {CXCursor_FieldDecl, CXCursor_MemberRef, CXCursor_DeclRefExpr, CXCursor_MemberRefExpr}},
    {&kind_choice::search_for_enum_constant,
     "enum_constant",
     false,
     false,
     {CXCursor_EnumConstantDecl}},
    {&kind_choice::search_for_macro, "macro", false, false, {CXCursor_MacroDefinition}},
    {&kind_choice::search_for_lambda, "lambda", true, false, {CXCursor_LambdaExpr}},
    {&kind_choice::search_for_namespace, "namespace", false, false, {CXCursor_Namespace}},
};

// The kinds that only their own options choose.
const std::set<std::string> opt_in = {"enum_constant", "macro", "lambda", "namespace"};

TEST(kind_table, admits_the_cursor_kinds_that_libclang_names) {
    ASSERT_EQ(std::size(search::kind_rows), std::size(expected_kinds));
    for (std::size_t i = 0; i < std::size(expected_kinds); ++i) {
        const expected_kind& expected = expected_kinds[i];
        const search::kind_row& row = search::kind_rows[i];
        SCOPED_TRACE(expected.name);
        EXPECT_TRUE(row.field == expected.field);
        EXPECT_EQ(row.name, expected.name);
        EXPECT_EQ(row.text_tested, expected.text_tested);
        EXPECT_EQ(row.expression, expected.expression);
        std::vector<int> admitted;
        for (int kind : row.cursor_kinds) {
            if (kind != 0) {
                admitted.push_back(kind);
            }
        }
        EXPECT_EQ(admitted, expected.cursor_kinds);
        for (int kind : expected.cursor_kinds) {
            EXPECT_EQ(search::find_kind(kind), &row) << kind;
        }
    }
    for (int kind :
         {-1, 0, int(CXCursor_UnexposedDecl), int(CXCursor_CallExpr), int(CXCursor_TranslationUnit),
          int(CXCursor_MacroExpansion), int(CXCursor_InclusionDirective), 100000}) {
        EXPECT_EQ(search::find_kind(kind), nullptr) << kind;
    }
    const kind_choice by_default;
    for (const expected_kind& expected : expected_kinds) {
        EXPECT_EQ(by_default.*expected.field, !expected.expression && !opt_in.count(expected.name))
            << expected.name;
    }
}

// One entity, at least, of every kind; finder's name does not hold needle, its body does.
const char* const every_kind = R"(#define TWICE(x) ((x) + (x))
namespace outer {
int global_value = 1;
}
namespace other_name = outer;
using namespace outer;
using outer::global_value;
using number = int;
typedef double real;
enum colour { red, green };
union bits { int i; float f; };
struct point { int x; int y; };
struct base { virtual ~base() {} };
struct derived : base {};
class shape {
public:
    shape() : side(2) {}
    ~shape() {}
    int area() const { return side * side; }
    int side;
};
template <class T> class box { T item; };
template <class T> class box<T*> { T* item; };
template <class T> T twice(T value) { return value + value; }
int work(int count, base* b, const int* fixed) {
    int total = 0;
    for (int i = 0; i < count; ++i) {
        total += static_cast<int>(1.5);
    }
    int values[2] = {1, 2};
    for (int v : values) {
        total += v;
    }
    derived* d = dynamic_cast<derived*>(b);
    char* bytes = reinterpret_cast<char*>(&total);
    int* loose = const_cast<int*>(fixed);
    point p{};
    auto twice_total = [&total] { return TWICE(total); };
    if (d == nullptr || bytes == nullptr || loose == nullptr || p.x != twice_total()) {
        throw 1;
    }
    return total;
}
int finder() { return 0; /* needle */ }
)";

// The kinds that pyrn --json prints for the options, over the file above.
names kinds_printed(const std::vector<std::string>& options, const std::string& query) {
    testing_support::temp_tree tree;
    tree.write("every_kind.cpp", every_kind);
    std::vector<std::string> arguments{"--json", "-j", "1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(query);
    arguments.push_back(tree.path());
    const testing_support::process_result result = testing_support::run_pyrn(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    names kinds;
    for (const std::string& line : testing_support::lines_of(result.out)) {
        kinds.insert(nlohmann::json::parse(line).at("kind").get<std::string>());
    }
    return kinds;
}

// The kinds of a search without kind options.
names every_kind_name() {
    names all;
    for (const expected_kind& kind : expected_kinds) {
        if (!kind.expression && !opt_in.count(kind.name)) {
            all.insert(kind.name);
        }
    }
    return all;
}

// The kinds each kind option chooses, by their names in --json.
const std::map<std::string, names> kinds_of_option = {
    {"--enum", {"enum"}},
    {"--struct", {"struct"}},
    {"--union", {"union"}},
    {"--member-function", {"member_function"}},
    {"--function", {"function"}},
    {"--function-template", {"function_template"}},
    {"-F", {"function", "member_function", "function_template"}},
    {"--class", {"class"}},
    {"--class-template", {"class_template"}},
    {"--class-constructor", {"class_constructor"}},
    {"--class-destructor", {"class_destructor"}},
    {"-C", {"struct", "class", "class_template"}},
    {"--for-statement", {"for_statement"}},
    {"--namespace-alias", {"namespace_alias"}},
    {"--parameter-declaration", {"parameter_declaration"}},
    {"--typedef", {"typedef"}},
    {"--using-declaration", {"using_declaration"}},
    {"--variable-declaration", {"variable_declaration"}},
    {"--static-cast", {"static_cast"}},
    {"--dynamic-cast", {"dynamic_cast"}},
    {"--reinterpret-cast", {"reinterpret_cast"}},
    {"--const-cast", {"const_cast"}},
    {"-c", {"static_cast", "dynamic_cast", "reinterpret_cast", "const_cast"}},
    {"--throw-expression", {"throw_expression"}},
    {"--enum-constant", {"enum_constant"}},
    {"--macro", {"macro"}},
    {"--lambda", {"lambda"}},
    {"--namespace", {"namespace"}},
};

TEST(kind_options, print_the_kinds_they_choose_under_their_json_names) {
    names all = every_kind_name();
    EXPECT_EQ(kinds_printed({}, ""), all);
    names with_references = all;
    with_references.insert("reference");
    EXPECT_EQ(kinds_printed({"--ie"}, ""), with_references);
    EXPECT_EQ(kinds_printed({"--function", "--include-expressions"}, ""),
              (names{"function", "reference"}));
    std::size_t kind_options = 0;
    for (const pyrn::option_row& row : pyrn::all_options()) {
        if (!pyrn::is_kind_option(row)) {
            continue;
        }
        ++kind_options;
        const std::string option(row.names[0]);
        ASSERT_EQ(kinds_of_option.count(option), 1u) << option;
        EXPECT_EQ(kinds_printed({option}, ""), kinds_of_option.at(option)) << option;
    }
    EXPECT_EQ(kind_options, kinds_of_option.size());
}

// Beside --function, a text-tested kind finds finder by the needle in its body; any other
// kind leaves the name test, which finder's name fails.
TEST(kind_options, the_text_tested_kinds_put_every_cursor_to_the_text_test) {
    const names text_tested = {
        "--typedef",          "--static-cast",      "--dynamic-cast",  "--const-cast",
        "--reinterpret-cast", "--throw-expression", "--for-statement", "--lambda"};
    for (const auto& [option, kinds] : kinds_of_option) {
        if (kinds.size() != 1 || option == "--function") {
            continue;
        }
        const bool found = kinds_printed({"--function", option}, "needle").count("function") != 0;
        EXPECT_EQ(found, text_tested.count(option) != 0) << option;
    }
}

} // namespace

namespace {

// A unit holds macro definitions only when --macro asks for them: the records that a search
// without it stored must never answer --macro, and those of --macro stand beside them.
TEST(kind_options, macros_are_never_answered_from_records_without_them) {
    testing_support::temp_tree tree;
    tree.write("limits.cpp", "#define LIMIT_HIGH 8\nint LIMIT_of() { return LIMIT_HIGH; }\n");
    const std::string cache = tree.path("cache");
    auto search = [&](std::vector<std::string> options) {
        std::vector<std::string> arguments{"--nc", "--stats", "--cache", cache};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(tree.path("limits.cpp"));
        return testing_support::run_pyrn(arguments);
    };
    const std::string macro =
        "\n// " + tree.path("limits.cpp") + " (Line: 1 to 1)\n#define LIMIT_HIGH 8\n\n";
    const std::string function = "\n// " + tree.path("limits.cpp") +
                                 " (Line: 2 to 2)\nint LIMIT_of() { return LIMIT_HIGH; }\n\n";
    const struct {
        std::vector<std::string> options;
        std::string out;
        int from_cache;
    } runs[] = {
        {{"-F", "LIMIT"}, function, 0},
        {{"--macro", "LIMIT"}, macro, 0},
        {{"--macro", "LIMIT"}, macro, 1},
        {{"-F", "LIMIT"}, function, 1},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::PrintToString(run.options));
        const testing_support::process_result result = search(run.options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, run.out);
        EXPECT_NE(
            result.err.find("answered from the cache: " + std::to_string(run.from_cache) + "\n"),
            std::string::npos)
            << result.err;
    }
}

} // namespace
