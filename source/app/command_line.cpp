#include "app/command_line.hpp"

#include "app/option_table.hpp"
#include "base/paths.hpp"
#include "base/tree_walk.hpp"
#include "search/directory_search.hpp"
#include "search/searcher.hpp"

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace pyrn {

namespace fs = std::filesystem;

namespace {

template <class Parser> argparse::Argument& add_names(Parser& parser, const option_row& row) {
    return row.names[1].empty() ? parser.add_argument(row.names[0])
                                : parser.add_argument(row.names[0], row.names[1]);
}

// The calls on argparse that give an option what its row says it takes.
void configure(argparse::Argument& argument, const option_row& row) {
    const option_value& value = row.value;
    switch (value.kind) {
    case takes::nothing:
        argument.default_value(false).implicit_value(true);
        break;
    case takes::text:
        if (value.fallback != nullptr) {
            argument.default_value(std::string(value.fallback));
        }
        break;
    case takes::number:
        argument.scan<'d', int>();
        if (value.fallback != nullptr) {
            argument.default_value(std::stoi(value.fallback));
        }
        break;
    case takes::texts:
        if (value.fallback != nullptr) {
            argument.default_value(std::vector<std::string>{});
        }
        argument.append();
        break;
    }
    argument.help(std::string(row.help));
}

bool given(const argparse::ArgumentParser& parser, const option_row& row) {
    return parser.get<bool>(row.names[0]);
}

// The options that take a value: the word after one is its value, whatever it looks like.
bool takes_value(std::string_view word) {
    const option_row* row = find_option(word);
    return row != nullptr && row->value.kind != takes::nothing;
}

bool is_include_dir_name(std::string_view name) {
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
} // namespace

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

void configure_parser(argparse::ArgumentParser& parser) {
    parser.add_argument("query");
    parser.add_argument("path");
    argparse::ArgumentParser::MutuallyExclusiveGroup* group = nullptr;
    std::string_view group_name;
    for (const option_row& row : all_options()) {
        if (row.from_parser) {
            continue;
        }
        if (row.exclusive_group.empty()) {
            configure(add_names(parser, row), row);
            continue;
        }
        // argparse keeps its groups in a vector: a group is used only while it is the last.
        if (row.exclusive_group != group_name) {
            group = &parser.add_mutually_exclusive_group();
            group_name = row.exclusive_group;
        }
        configure(add_names(*group, row), row);
    }
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

search::kind_choice chosen_kinds(const argparse::ArgumentParser& parser) {
    bool some_kind_given = false;
    for (const option_row& row : all_options()) {
        some_kind_given = some_kind_given || (is_kind_option(row) && given(parser, row));
    }
    search::kind_choice choice;
    if (some_kind_given) {
        for (const search::kind_row& kind : search::kind_rows) {
            if (!kind.expression) {
                choice.*kind.field = false;
            }
        }
    }
    for (const option_row& row : all_options()) {
        if (chooses_kinds(row) && given(parser, row)) {
            for (bool search::kind_choice::*field : row.kinds) {
                if (field != nullptr) {
                    choice.*field = true;
                }
            }
        }
    }
    return choice;
}

std::string include_option(std::string_view dir) {
    return std::string("-I").append(dir);
}

std::vector<std::string> include_options(const std::vector<std::string>& dirs, bool absolute) {
    std::vector<std::string> options;
    for (const std::string& dir : dirs) {
        options.push_back(include_option(absolute ? fs::absolute(dir).native() : dir));
    }
    return options;
}

namespace {

void add_if_include_dir(const search::walk_entry& entry, std::vector<std::string>& arguments) {
    std::error_code error; // an entry whose status cannot be had is no directory
    if (is_include_dir_name(entry.name()) && fs::is_directory(entry.path(), error)) {
        arguments.push_back(include_option(entry.path()));
    }
}

} // namespace

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
    auto visit = [&](const search::walk_entry& entry) { add_if_include_dir(entry, arguments); };
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

namespace {

// The "-I" arguments in the order of a sorted walk, which puts a folder's path with a '/' after
// it: the order, and the header an include finds first, do not depend on --sort path or on the
// order of the folders' listings.
bool before_in_walk(std::string_view a, std::string_view b) {
    const auto [in_a, in_b] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    const auto x = static_cast<unsigned char>(in_a == a.end() ? '/' : *in_a);
    const auto y = static_cast<unsigned char>(in_b == b.end() ? '/' : *in_b);
    // Equal up to here: one of the two ended, and the shorter one comes first.
    return x != y ? x < y : a.size() < b.size();
}

std::vector<std::string> in_walk_order(std::vector<std::string> arguments) {
    std::sort(arguments.begin(), arguments.end(),
              [](const std::string& a, const std::string& b) { return before_in_walk(a, b); });
    return arguments;
}

std::vector<std::string> unordered_include_dirs_for(const std::string& path,
                                                    std::optional<search::tree_listing>* listed) {
    const std::optional<std::string> project = project_around(path);
    std::error_code error;
    if (!project && listed != nullptr && !fs::is_regular_file(path, error)) {
        // The search's own walk: a second one would cost as much again.
        std::vector<std::string> arguments;
        *listed = search::searcher::list_tree(
            path, [&](const search::walk_entry& entry) { add_if_include_dir(entry, arguments); });
        return arguments;
    }
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

} // namespace

std::vector<std::string> include_dirs_for(const std::string& path,
                                          std::optional<search::tree_listing>* listed) {
    return in_walk_order(unordered_include_dirs_for(path, listed));
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
