// Test labels: threads (run under ThreadSanitizer too)
// The outputs for editors and scripts (--json, --vimgrep, --files-with-matches) against the
// blocks of the default output of the same searches.
#include "golden_runs.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using nlohmann::json;
using testing_support::block;
using testing_support::lines_of;
using testing_support::process_options;
using testing_support::process_result;

std::string base64_decode(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned group = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') {
            break;
        }
        group = group << 6 | static_cast<unsigned>(digits.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>(group >> bits & 0xff);
        }
    }
    return bytes;
}

// A field of raw bytes: {"text": ...} for UTF-8, {"bytes": base64} otherwise.
std::string bytes_of(const json& field) {
    EXPECT_EQ(field.size(), 1u) << field;
    return field.contains("text") ? field["text"].get<std::string>()
                                  : base64_decode(field.at("bytes").get<std::string>());
}

struct record {
    block where;
    unsigned column = 0;
    unsigned name_line = 0;
    unsigned name_column = 0;
    std::string kind;
    std::string name;
};

// Every line must be one whole JSON object: a torn line does not parse.
std::vector<record> json_records(const std::string& out) {
    std::vector<record> records;
    for (const std::string& line : lines_of(out)) {
        const json object = json::parse(line);
        EXPECT_EQ(object.at("type"), "match");
        record r;
        r.where = {bytes_of(object.at("path")), object.at("start_line"), object.at("end_line"),
                   bytes_of(object.at("text"))};
        r.column = object.at("column");
        r.name_line = object.at("name_line");
        r.name_column = object.at("name_column");
        r.kind = object.at("kind");
        r.name = bytes_of(object.at("name"));
        records.push_back(r);
    }
    return records;
}

std::vector<std::string> source_lines(const std::string& path) {
    return lines_of(testing_support::read_file(testing_support::search_run_tree() + "/" + path));
}

// The record's column points into its line: at the snippet's first line, or for a
// reference into the line that is its snippet. Its name's place points at the name.
void expect_columns_point_at_the_match(const record& r) {
    const std::vector<std::string> lines = source_lines(r.where.path);
    const std::string line = lines.at(r.where.start_line - 1);
    ASSERT_GE(r.column, 1u);
    ASSERT_LE(r.column, line.size());
    const std::string first_line = r.where.text.substr(0, r.where.text.find('\n'));
    if (r.kind == "reference") {
        EXPECT_EQ(line.substr(line.find_first_not_of(" \t")), first_line);
    } else {
        EXPECT_EQ(line.substr(r.column - 1, first_line.size()), first_line);
    }
    ASSERT_GE(r.name_line, r.where.start_line);
    ASSERT_LE(r.name_line, r.where.end_line);
    const std::string name_line = lines.at(r.name_line - 1);
    ASSERT_GE(r.name_column, 1u);
    EXPECT_EQ(name_line.substr(r.name_column - 1, r.name.size()), r.name) << r.where.text;
}

// What --vimgrep prints for a record: the name's place and its line without leading blanks.
std::tuple<std::string, unsigned, unsigned, std::string> jump_target(const record& r) {
    const std::string line = source_lines(r.where.path).at(r.name_line - 1);
    return {r.where.path, r.name_line, r.name_column, line.substr(line.find_first_not_of(" \t"))};
}

std::vector<std::string> with(std::vector<std::string> options,
                              const std::vector<std::string>& arguments) {
    options.insert(options.end(), arguments.begin(), arguments.end());
    options.push_back(".");
    return options;
}

class output_formats : public testing::TestWithParam<testing_support::run_case> {};

TEST_P(output_formats, hold_the_blocks_of_the_default_output) {
    const auto& arguments = GetParam().arguments;
    const process_result plain =
        testing_support::search_in_run_tree(with({"--nc", "-j", "1"}, arguments));
    std::vector<block> blocks = testing_support::parse_blocks(plain.out);
    std::sort(blocks.begin(), blocks.end());

    // Several workers: no line may be torn or interleaved.
    const process_result as_json = testing_support::search_in_run_tree(with({"--json"}, arguments));
    EXPECT_EQ(as_json.status, 0);
    EXPECT_EQ(as_json.err, "");
    std::vector<record> records = json_records(as_json.out);
    std::vector<block> from_json;
    std::set<std::tuple<std::string, unsigned, unsigned, std::string>> expected_vimgrep;
    for (const record& r : records) {
        from_json.push_back(r.where);
        expect_columns_point_at_the_match(r);
        expected_vimgrep.insert(jump_target(r));
    }
    std::sort(from_json.begin(), from_json.end());
    EXPECT_EQ(from_json, blocks);

    const process_result vimgrep =
        testing_support::search_in_run_tree(with({"--vimgrep"}, arguments));
    EXPECT_EQ(vimgrep.status, 0);
    EXPECT_EQ(vimgrep.err, "");
    std::set<std::tuple<std::string, unsigned, unsigned, std::string>> vimgrep_lines;
    for (const std::string& line : lines_of(vimgrep.out)) {
        std::istringstream fields(line);
        std::string path;
        unsigned number = 0;
        unsigned column = 0;
        char colon = 0;
        std::getline(fields, path, ':');
        fields >> number >> colon >> column >> colon;
        std::string text;
        std::getline(fields, text);
        vimgrep_lines.insert({path, number, column, text});
    }
    EXPECT_EQ(vimgrep_lines, expected_vimgrep);
    EXPECT_EQ(lines_of(vimgrep.out).size(), blocks.size());

    const process_result files =
        testing_support::search_in_run_tree(with({"--files-with-matches"}, arguments));
    EXPECT_EQ(files.status, 0);
    std::vector<std::string> listed = lines_of(files.out);
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> paths;
    for (const block& b : blocks) {
        paths.push_back(b.path);
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    EXPECT_EQ(listed, paths);
}

INSTANTIATE_TEST_SUITE_P(search_run, output_formats, testing::ValuesIn(testing_support::run_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(output_formats, messages_go_to_standard_error_and_no_colour_reaches_a_terminal) {
    testing_support::process_options terminal;
    terminal.stdout_is_terminal = true;
    const process_result result = testing_support::search_in_run_tree(
        {"--verbose", "--vimgrep", "-F", "-f", "*/shapes.cpp", "vertex_count", "."}, terminal);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "./src/shapes.cpp:25:9:int vertex_count() const { return count; }\n");
    EXPECT_EQ(result.err.rfind("Checking ./src/shapes.cpp\n", 0), 0u) << result.err;
}

// Escape sequences in a source (a clipboard write, a cleared screen) or in a file name must
// not reach a terminal as such; piped output keeps every byte.
TEST(output_formats, control_characters_reach_a_terminal_only_shown) {
    testing_support::temp_tree tree;
    const std::string comment = "/* \x1b]52;c;ZXZpbA==\x07 \x9b"
                                "2J \xc2\x9b"
                                "2J \x7f caf\xc3\xa9 */";
    const std::string function = "int shown_fn() {\r\n    return 0; " + comment + "\r\n}";
    tree.write("t\x1b[2Jitle.cpp", function + "\r\n");
    const std::string path = tree.path("t\x1b[2Jitle.cpp");
    const std::string shown_path = tree.path("t^[[2Jitle.cpp");
    const std::string shown_function = "int shown_fn() {\r\n    return 0; /* ^[]52;c;ZXZpbA==^G "
                                       "<9b>2J <9b>2J ^? caf\xc3\xa9 */\r\n}";
    testing_support::process_options terminal;
    terminal.stdout_is_terminal = true;
    const struct {
        std::vector<std::string> options;
        bool on_terminal;
        std::string out;
    } cases[] = {
        {{"--nc"}, false, "\n// " + path + " (Line: 1 to 3)\n" + function + "\n\n"},
        {{"--nc"}, true, "\n// " + shown_path + " (Line: 1 to 3)\n" + shown_function + "\n\n"},
        {{"--vimgrep"}, true, shown_path + ":1:5:int shown_fn() {\n"},
        {{"--files-with-matches"}, true, shown_path + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options) + (c.on_terminal ? " on a terminal" : ""));
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.end(), {"-F", "shown_fn", tree.path()});
        const process_result result =
            testing_support::run_pyrn(arguments, c.on_terminal ? terminal : process_options{});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.out);
    }
    // In colour, no control character is left but the colours' own escapes.
    const std::string coloured =
        testing_support::run_pyrn({"-F", "shown_fn", tree.path()}, terminal).out;
    const std::string plain = std::regex_replace(coloured, std::regex("\x1b\\[[0-9;]*m"), "");
    EXPECT_EQ(plain, "\n// " + shown_path + " (Line: 1 to 3)\n" + shown_function + "\n\n");
}

// An editor jumps to the name, also where the entity starts on an earlier line, and also when
// the answer comes from the cache; a reference keeps its own place.
TEST(output_formats, vimgrep_and_json_give_the_place_of_the_name) {
    testing_support::temp_tree tree;
    tree.write("src/hash.c", "static void\n"
                             "  hash_init(int *table)\n"
                             "{\n"
                             "    *table = 0;\n"
                             "}\n"
                             "int hash_use(void) { int t; hash_init(&t); return t; }\n");
    const std::string expected_vimgrep = "./src/hash.c:2:3:hash_init(int *table)\n"
                                         "./src/hash.c:6:29:int hash_use(void) { int t; "
                                         "hash_init(&t); return t; }\n";
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    const std::string cache = tree.path("cache");
    for (const char* road : {"parse", "fill the cache", "answer from the cache"}) {
        SCOPED_TRACE(road);
        std::vector<std::string> options{"-l", "c", "--function", "--ie"};
        if (std::string(road) != "parse") {
            options.insert(options.end(), {"--cache", cache});
        }
        const process_result vimgrep =
            testing_support::run_pyrn(with(options, {"--vimgrep", "hash_init"}), in_tree);
        EXPECT_EQ(vimgrep.status, 0) << vimgrep.err;
        EXPECT_EQ(vimgrep.out, expected_vimgrep);
    }
    const process_result json = testing_support::run_pyrn(
        {"-l", "c", "--function", "--json", "hash_init", "src/hash.c"}, in_tree);
    ASSERT_EQ(json_records(json.out).size(), 1u);
    const record r = json_records(json.out).front();
    EXPECT_EQ(std::make_tuple(r.where.start_line, r.column, r.name_line, r.name_column),
              std::make_tuple(1u, 1u, 2u, 3u));
}

TEST(output_formats, json_keeps_every_byte_of_paths_and_snippets) {
    testing_support::temp_tree tree;
    const std::string big_comment = "/*" + std::string(10 << 20, 'x') + "\xff */";
    const std::string functions[] = {
        "int marker_latin(int x) { return x; /* caf\xe9 */ }",
        std::string("int marker_nul(int x) {\r\n    return x; // \0 here\r\n}", 51),
        "int marker_big() {\r\n    " + big_comment + "\r\n    return 0;\r\n}",
    };
    std::string content;
    for (const std::string& function : functions) {
        content += function + "\r\n";
    }
    tree.write("caf\xe9/bytes.cpp", content);
    const process_result result =
        testing_support::run_pyrn({"--json", "-F", "marker", tree.path()});
    EXPECT_EQ(result.status, 0);
    std::vector<record> records = json_records(result.out);
    ASSERT_EQ(records.size(), 3u);
    std::sort(records.begin(), records.end(),
              [](const record& a, const record& b) { return a.where < b.where; });
    const unsigned starts[] = {1, 2, 5};
    const char* const names[] = {"marker_latin", "marker_nul", "marker_big"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].where.path, tree.path("caf\xe9/bytes.cpp"));
        EXPECT_EQ(records[i].where.start_line, starts[i]);
        EXPECT_EQ(records[i].where.text, functions[i]) << names[i];
        EXPECT_EQ(records[i].name, names[i]);
        EXPECT_EQ(records[i].kind, "function");
    }
}

TEST(output_formats, vim_reads_the_vimgrep_lines_with_its_default_errorformat) {
    if (testing_support::run_process({"vim", "--version"}).status != 0) {
        GTEST_SKIP() << "vim is not installed (scripts/install-deps installs it)";
    }
    testing_support::temp_tree scratch;
    const process_result vimgrep =
        testing_support::search_in_run_tree({"--vimgrep", "-j", "1", "--ie", "count", "."});
    ASSERT_EQ(vimgrep.status, 0);
    scratch.write("found", vimgrep.out);
    testing_support::process_options in_tree;
    in_tree.cwd = testing_support::search_run_tree();
    const process_result vim = testing_support::run_process(
        {"vim", "-es", "-N", "-u", "NONE", "-i", "NONE", "-c", "cgetfile " + scratch.path("found"),
         "-c",
         "call writefile(map(getqflist(), {_, e -> e.valid . ':' . bufname(e.bufnr) . ':' . "
         "e.lnum . ':' . e.col . ':' . e.text}), '" +
             scratch.path("read") + "')",
         "-c", "qa!"},
        in_tree);
    ASSERT_EQ(vim.status, 0) << vim.err;
    std::vector<std::string> expected;
    for (const std::string& line : lines_of(vimgrep.out)) {
        expected.push_back("1:" + line);
    }
    EXPECT_GT(expected.size(), 10u);
    EXPECT_EQ(lines_of(testing_support::read_file(scratch.path("read"))), expected);
}

} // namespace
