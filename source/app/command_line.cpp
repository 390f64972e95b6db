#include "app/command_line.hpp"

#include "app/option_table.hpp"
#include "base/paths.hpp"
#include "base/tree_walk.hpp"
#include "search/directory_search.hpp"

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

bool is_include_dir_name(const fs::path& path) {
    const fs::path file_name = path.filename();
    std::string_view name = file_name.native();
    std::string_view suffix = "include";
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

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

std::vector<std::string> discover_include_dirs(const std::string& root) {
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
    search::walk_tree(root_path, visit, stop_at_root, search::walk_settings());
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
