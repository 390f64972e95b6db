#include "app/command_line.hpp"

#include "base/paths.hpp"
#include "base/tree_walk.hpp"
#include "core/searcher.hpp"
#include "search/directory_search.hpp"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string_view>

namespace pyrn {

namespace fs = std::filesystem;
using search::searcher;

namespace {

template <class Parser, class... Names>
void add_flag(Parser& parser, const char* help, Names... names) {
    parser.add_argument(names...).default_value(false).implicit_value(true).help(help);
}

struct kind_option {
    const char* name;
    std::initializer_list<bool*> fields;
};

// The 24 kind options with the kind fields each one sets.
const kind_option kind_options[] = {
    {"--enum", {&searcher::search_for_enum}},
    {"--struct", {&searcher::search_for_struct}},
    {"--union", {&searcher::search_for_union}},
    {"--member-function", {&searcher::search_for_member_function}},
    {"--function", {&searcher::search_for_function}},
    {"--function-template", {&searcher::search_for_function_template}},
    {"-F",
     {&searcher::search_for_function, &searcher::search_for_member_function,
      &searcher::search_for_function_template}},
    {"--class", {&searcher::search_for_class}},
    {"--class-template", {&searcher::search_for_class_template}},
    {"--class-constructor", {&searcher::search_for_class_constructor}},
    {"--class-destructor", {&searcher::search_for_class_destructor}},
    {"-C",
     {&searcher::search_for_struct, &searcher::search_for_class,
      &searcher::search_for_class_template}},
    {"--for-statement", {&searcher::search_for_for_statement}},
    {"--namespace-alias", {&searcher::search_for_namespace_alias}},
    {"--parameter-declaration", {&searcher::search_for_parameter_declaration}},
    {"--typedef", {&searcher::search_for_typedef}},
    {"--using-declaration", {&searcher::search_for_using_declaration}},
    {"--variable-declaration", {&searcher::search_for_variable_declaration}},
    {"--static-cast", {&searcher::search_for_static_cast}},
    {"--dynamic-cast", {&searcher::search_for_dynamic_cast}},
    {"--reinterpret-cast", {&searcher::search_for_reinterpret_cast}},
    {"--const-cast", {&searcher::search_for_const_cast}},
    {"-c",
     {&searcher::search_for_static_cast, &searcher::search_for_dynamic_cast,
      &searcher::search_for_reinterpret_cast, &searcher::search_for_const_cast}},
    {"--throw-expression", {&searcher::search_for_throw_expression}},
};

// The options that take a value: the word after one is its value, whatever it looks like.
bool takes_value(std::string_view word) {
    static constexpr std::string_view options[] = {
        "-f",      "--filter",       "-j",      "-I",     "--include-dir",
        "-l",      "--language",     "--std",   "-p",     "--compile-commands",
        "--cache", "--cache-remote", "--shard", "--sort", "--exclude",
        "--color", "--cache-key"};
    for (std::string_view option : options) {
        if (word == option) {
            return true;
        }
    }
    return false;
}

bool is_include_dir_name(const fs::path& path) {
    const fs::path file_name = path.filename();
    std::string_view name = file_name.native();
    std::string_view suffix = "include";
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool is_project_root(const fs::path& dir) {
    std::error_code error;
    return fs::exists(dir / ".git", error) || fs::exists(dir / "compile_commands.json", error);
}

// A working directory that a project is built from, though not a repository: a source package.
bool holds_build_file(const fs::path& dir) {
    std::error_code error;
    for (const char* name : {"CMakeLists.txt", "Makefile", "GNUmakefile", "configure",
                             "configure.ac", "meson.build", "WORKSPACE", "MODULE.bazel"}) {
        if (fs::exists(dir / name, error)) {
            return true;
        }
    }
    return false;
}

// Whether below lies strictly inside dir; both absolute and lexically normal.
bool is_inside(const fs::path& below, const fs::path& dir) {
    const auto [mismatch, rest] = std::mismatch(dir.begin(), dir.end(), below.begin(), below.end());
    return mismatch == dir.end() && rest != below.end() && !rest->empty();
}

// The folder a search of path starts from: the path, or a file's folder; absolute and normal.
fs::path search_folder(const std::string& path) {
    fs::path folder = fs::path(search::absolute_in("", path));
    std::error_code error;
    if (fs::is_regular_file(folder, error)) {
        folder = folder.parent_path();
    }
    return folder.has_filename() ? folder : folder.parent_path();
}

// Throws as the walk of the path would when the path cannot be searched.
void check_search_path(const std::string& path) {
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
        return;
    }
    const fs::directory_iterator probe(path, error);
    if (error) {
        throw fs::filesystem_error(error.message(), path, error);
    }
}

} // namespace

void configure_parser(argparse::ArgumentParser& parser) {
    parser.add_argument("query");
    parser.add_argument("path");
    add_flag(parser, "Shows help message and exits", "-h", "--help");
    add_flag(parser, "Only consider exact matches", "-E", "--exact-match");
    parser.add_argument("-f", "--filter")
        .default_value(std::string("*.*"))
        .help("Only evaluate files that match filter pattern");
    parser.add_argument("-j").scan<'d', int>().default_value(5).help("Number of threads");
    add_flag(parser, "Search for enum declaration", "--enum");
    add_flag(parser, "Search for struct declaration", "--struct");
    add_flag(parser, "Search for union declaration", "--union");
    add_flag(parser, "Search for class member function declaration", "--member-function");
    add_flag(parser, "Search for function declaration", "--function");
    add_flag(parser, "Search for function template declaration", "--function-template");
    add_flag(parser, "Search for any function or function template or class member function", "-F");
    add_flag(parser, "Search for class declaration", "--class");
    add_flag(parser, "Search for class template declaration", "--class-template");
    add_flag(parser, "Search for class constructor declaration", "--class-constructor");
    add_flag(parser, "Search for class destructor declaration", "--class-destructor");
    add_flag(parser, "Search for any class or class template or struct", "-C");
    add_flag(parser, "Search for `for` statement", "--for-statement");
    add_flag(parser, "Search for namespace alias", "--namespace-alias");
    add_flag(parser, "Search for function or method parameter", "--parameter-declaration");
    add_flag(parser, "Search for typedef declaration", "--typedef");
    add_flag(parser, "Search for using declarations, using directives, and type alias declarations",
             "--using-declaration");
    add_flag(parser, "Search for variable declaration", "--variable-declaration");
    add_flag(parser, "Request verbose output", "--verbose");
    add_flag(parser,
             "Search for expressions that refer to some value or member, e.g., function, "
             "variable, or enumerator.",
             "--ie", "--include-expressions");
    add_flag(parser, "Search for static_cast", "--static-cast");
    add_flag(parser, "Search for dynamic_cast", "--dynamic-cast");
    add_flag(parser, "Search for reinterpret_cast", "--reinterpret-cast");
    add_flag(parser, "Search for const_cast", "--const-cast");
    add_flag(parser,
             "Search for any static_cast, dynamic_cast, reinterpret_cast, orconst_cast expression",
             "-c");
    add_flag(parser, "Search for throw expression", "--throw-expression");
    add_flag(parser, "Ignore forward declarations, member function declarations, etc.", "--isl",
             "--ignore-single-line-results");
    parser.add_argument("-I", "--include-dir")
        .default_value(std::vector<std::string>{})
        .append()
        .help("Additional include directories");
    parser.add_argument("-l", "--language")
        .default_value(std::string("c++"))
        .help("Language option used by clang");
    parser.add_argument("--std")
        .default_value(std::string("c++17"))
        .help("C++ standard to be used by clang");
    add_flag(parser, "Stops pyrn from coloring the output", "--nc", "--no-color");
    auto& formats = parser.add_mutually_exclusive_group();
    add_flag(formats, "Print one JSON object per match, one per line", "--json");
    add_flag(formats, "Print path:line:column:text for each match", "--vimgrep");
    add_flag(formats, "Print only the path of each file with a match", "--files-with-matches");
    // The options from here on take exactly one value: no default value, which would let
    // the parser accept the option without one.
    parser.add_argument("-p", "--compile-commands")
        .help("Parse with the arguments of this compile_commands.json or of the one in this "
              "build directory");
    parser.add_argument("--cache").help(
        "Keep what parses find in this directory and answer later searches from it");
    add_flag(parser, "Match ASCII letters without case", "-i", "--ignore-case");
    add_flag(parser, "Take the query as a regular expression (RE2)", "--regex");
    add_flag(parser, "Follow each path of --files-with-matches with a NUL byte, not a line feed",
             "-0", "--null");
    parser.add_argument("--cache-remote")
        .help("Share the cache's entries through this Redis server, redis://HOST[:PORT][/DB], "
              "behind --cache or alone");
    parser.add_argument("--shard").help(
        "Search only the K-th of N parts of the tree, K/N with 0 <= K < N, as N jobs that "
        "fill a shared cache together");
    add_flag(parser,
             "Parse every file with all the function bodies of its headers, as --verbose does",
             "--full-parse");
    add_flag(parser,
             "Print on standard error how many files were read, parsed and answered from "
             "the cache",
             "--stats");
    parser.add_argument("--sort").help(
        "path: print the files in byte order of their paths and each file's matches in source "
        "order");
    parser.add_argument("--exclude")
        .append()
        .help("Skip the files and folders whose name or path below the search path matches "
              "this pattern");
    add_flag(parser,
             "Skip what git ignores: .gitignore files, .git/info/exclude, the global excludes "
             "file",
             "--gitignore");
    parser.add_argument("--color").help(
        "Colour the output: always, never (as --nc) or auto (on a terminal; the default)");
    add_flag(parser, "Show no progress line on a terminal", "--no-progress");
    parser.add_argument("--cache-key")
        .help("Store the cache's entries with a MAC under the secret in this file, which only you "
              "can read, and take no entry without one");
}

command_words split_command_line(int argc, char** argv) {
    command_words words;
    bool options_ended = false;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i];
        if (options_ended) {
            // argparse takes every word that begins with '-' for an option.
            words.for_parser.push_back(search::starts_with(word, "-") ? std::string() : word);
            words.after_options.push_back(std::move(word));
        } else if (i > 0 && word == "--") {
            options_ended = true;
        } else {
            const bool value_follows = i > 0 && takes_value(word) && i + 1 < argc;
            words.for_parser.push_back(word == "-0" ? "--null" : std::move(word));
            if (value_follows) {
                words.for_parser.emplace_back(argv[++i]);
            }
        }
    }
    return words;
}

void take_words_after_options(const command_words& words, std::string& query, std::string& path) {
    const std::vector<std::string>& after = words.after_options;
    if (!after.empty()) {
        path = after.back();
    }
    if (after.size() >= 2) {
        query = after[after.size() - 2];
    }
}

std::string value_of(const argparse::ArgumentParser& parser, std::string_view name) {
    return parser.present<std::string>(name).value_or(std::string());
}

bool choose_colour(const argparse::ArgumentParser& parser, bool stdout_is_terminal,
                   std::string& error) {
    const std::string when = value_of(parser, "--color");
    if (!when.empty() && parser.get<bool>("--no-color")) {
        error = "Argument '--color' not allowed with '--no-color'";
        return false;
    }
    if (when == "always") {
        return true;
    }
    if (when.empty() || when == "auto") {
        return stdout_is_terminal && !parser.get<bool>("--no-color");
    }
    if (when != "never") {
        error = "Invalid argument \"" + when + "\" for '--color': expected always, never or auto";
    }
    return false;
}

void check_sort_key(const argparse::ArgumentParser& parser, std::string& error) {
    const std::string key = value_of(parser, "--sort");
    if (!key.empty() && key != "path") {
        error = "Invalid argument \"" + key + "\" for '--sort': expected path";
    }
}

search::output_format chosen_format(const argparse::ArgumentParser& parser) {
    if (parser.get<bool>("--json")) {
        return search::output_format::json;
    }
    if (parser.get<bool>("--vimgrep")) {
        return search::output_format::vimgrep;
    }
    if (parser.get<bool>("--files-with-matches")) {
        return search::output_format::files;
    }
    return search::output_format::blocks;
}

void apply_kind_options(const argparse::ArgumentParser& parser) {
    bool some_kind_given = false;
    for (const kind_option& option : kind_options) {
        some_kind_given = some_kind_given || parser.get<bool>(option.name);
    }
    for (const kind_option& option : kind_options) {
        for (bool* field : option.fields) {
            *field = !some_kind_given;
        }
    }
    for (const kind_option& option : kind_options) {
        if (parser.get<bool>(option.name)) {
            for (bool* field : option.fields) {
                *field = true;
            }
        }
    }
    searcher::include_expressions = parser.get<bool>("--include-expressions");
}

std::vector<std::string> discover_include_dirs(const std::string& root) {
    return discover_include_dirs(root, search::walk_settings());
}

std::vector<std::string> discover_include_dirs(const std::string& root,
                                               const search::walk_options& options) {
    std::vector<std::string> arguments;
    std::error_code error;
    if (fs::is_regular_file(root, error)) {
        return arguments; // a file as the path: nothing below it
    }
    auto visit = [&](const fs::directory_entry& entry) {
        std::error_code error; // an entry whose status cannot be had is no directory
        if (is_include_dir_name(entry.path()) && fs::is_directory(entry.path(), error)) {
            arguments.push_back("-I" + entry.path().native());
        }
    };
    // A folder below the root that cannot be read is the search's to report, once, and to
    // skip; only a root that cannot be read ends the start-up.
    const fs::path root_path(root);
    auto stop_at_root = [&](const fs::path& path, const std::error_code& error) {
        if (path == root_path) {
            throw fs::filesystem_error(error.message(), path, error);
        }
        return true;
    };
    search::walk_tree(root_path, visit, stop_at_root, options);
    return arguments;
}

std::optional<std::string> project_around(const std::string& path) {
    const fs::path folder = search_folder(path);
    const fs::path here = fs::current_path().lexically_normal();
    const bool below_here = is_inside(folder, here);
    if (is_project_root(folder) || (!below_here && (folder == here || is_inside(here, folder)))) {
        return std::nullopt;
    }
    for (fs::path dir = folder.parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
        if (below_here && dir == here) {
            break;
        }
        if (is_project_root(dir)) {
            return below_here ? dir.lexically_relative(here).native() : dir.native();
        }
    }
    if (below_here && (is_project_root(here) || holds_build_file(here))) {
        return std::string(".");
    }
    return std::nullopt;
}

std::vector<std::string> include_dirs_for(const std::string& path) {
    const std::optional<std::string> project = project_around(path);
    if (!project) {
        return discover_include_dirs(path);
    }
    check_search_path(path);
    // The whole project's folders, whatever the search leaves out below the path: its ignore
    // rules and patterns speak of paths below it.
    search::walk_options in_order = search::walk_settings();
    in_order.filter = nullptr;
    const fs::path searched = fs::path(search::absolute_in("", path));
    std::vector<std::string> arguments;
    for (std::string& argument : discover_include_dirs(*project, in_order)) {
        if (fs::path(search::absolute_in("", argument.substr(2))) != searched) {
            arguments.push_back(std::move(argument));
        }
    }
    return arguments;
}

std::vector<const char*> build_clang_options(const std::string& language,
                                             const std::string& std_argument,
                                             const std::vector<std::string>& include_arguments) {
    std::vector<const char*> options{"-x", language.c_str()};
    if (language == "c++") {
        options.push_back(std_argument.c_str());
    }
    for (const std::string& argument : include_arguments) {
        options.push_back(argument.c_str());
    }
    return options;
}

} // namespace pyrn
