#include "app/completion_scripts.hpp"

#include "app/option_table.hpp"

#include <stdexcept>
#include <string_view>
#include <vector>

namespace pyrn {

namespace {

const char* const bash_script =
    R"(# bash completion for pyrn, written by the build from the option table
# (source/app/option_table.cpp): options, their values, and files and directories for the path.
# Needs nothing from the bash-completion package, so it also works when sourced by hand.

# Offers the directories that start with the word, quoted and with a trailing slash.
_pyrn_directories() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$1")
}

# Offers the files and directories that start with the word.
_pyrn_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

# Offers the words of the list that start with the word being completed.
_pyrn_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

_pyrn() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    case $prev in
@VALUES@    esac

    # The first positional argument is the query (free text), the second the directory or file;
    # after "--" every word is positional.
    local i positionals=0 options_ended=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        if ((options_ended)); then
            ((positionals++))
            continue
        fi
        case ${COMP_WORDS[i]} in
        @TAKING_VALUE@)
            ((i++)) # the option's value is not a positional argument
            ;;
        --) options_ended=1 ;;
        -*) ;;
        *) ((positionals++)) ;;
        esac
    done

    if [[ $cur == -* ]] && ((!options_ended)); then
        _pyrn_words '@OPTIONS@' "$cur"
        return 0
    fi
    if ((positionals == 1)); then
        _pyrn_files "$cur"
    fi
    return 0
}

complete -F _pyrn pyrn
)";

const char* const zsh_script = R"(#compdef pyrn
# zsh completion for pyrn, written by the build from the option table
# (source/app/option_table.cpp): options with their help texts, their values, and files and
# directories for the path.

_arguments -S \
@OPTIONS@    '1:query: ' \
    '2:path:_files'
)";

const char* const fish_script =
    R"(# fish completion for pyrn, written by the build from the option table
# (source/app/option_table.cpp): options with their help texts, their values, and files and
# directories for the path.

# The number of positional arguments (query, path) before the word being completed; after
# "--" every word is one.
function __pyrn_positionals
    set -l words (commandline -opc)
    set -l count 0
    set -l skip 0
    set -l options_ended 0
    for word in $words[2..-1]
        if test $options_ended -eq 1
            set count (math $count + 1)
        else if test $skip -eq 1
            set skip 0
        else if test "$word" = --
            set options_ended 1
        else if contains -- $word @TAKING_VALUE@
            set skip 1 # the option's value is not a positional argument
        else if not string match -q -- '-*' $word
            set count (math $count + 1)
        end
    end
    echo $count
end

complete -c pyrn -f
complete -c pyrn -n 'test (__pyrn_positionals) -eq 1' -F

@OPTIONS@)";

// Option names and offered words go into the scripts unquoted or in single quotes.
void check_plain(std::string_view text, std::string_view allowed_punctuation) {
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') ||
                           allowed_punctuation.find(c) != std::string_view::npos;
        if (!plain) {
            throw std::invalid_argument("a completion cannot offer \"" + std::string(text) + "\"");
        }
    }
}

std::vector<std::string_view> names_of(const option_row& row) {
    std::vector<std::string_view> names;
    for (std::string_view name : row.names) {
        if (!name.empty()) {
            check_plain(name, "-");
            names.push_back(name);
        }
    }
    return names;
}

std::string join(const std::vector<std::string_view>& words, std::string_view between) {
    std::string joined;
    for (std::string_view word : words) {
        joined += (joined.empty() ? "" : std::string(between)) + std::string(word);
    }
    return joined;
}

// The names of every option that takes a value.
std::vector<std::string_view> names_taking_values() {
    std::vector<std::string_view> names;
    for (const option_row& row : all_options()) {
        if (row.value.kind != takes::nothing) {
            for (std::string_view name : names_of(row)) {
                names.push_back(name);
            }
        }
    }
    return names;
}

std::string_view words_of(const option_row& row) {
    check_plain(row.value.words, " +-:/.");
    return row.value.words;
}

// Items joined by between, or by line_break where a line would pass column 96; the first
// item starts at first_column.
std::string wrapped(const std::vector<std::string_view>& items, std::size_t first_column,
                    std::string_view between, std::string_view line_break) {
    std::string text;
    std::size_t column = first_column;
    for (std::string_view item : items) {
        if (!text.empty() && column + between.size() + item.size() > 96) {
            text += line_break;
            column = line_break.size() - line_break.rfind('\n') - 1;
        } else if (!text.empty()) {
            text += between;
            column += between.size();
        }
        text += item;
        column += item.size();
    }
    return text;
}

// bash: the case of the option before the word being completed, by what its value is.
std::string bash_value_case(value_hint hint, const char* action) {
    std::vector<std::string_view> names;
    for (const option_row& row : all_options()) {
        if (row.value.kind != takes::nothing && row.value.hint == hint) {
            for (std::string_view name : names_of(row)) {
                names.push_back(name);
            }
        }
    }
    if (names.empty()) {
        return "";
    }
    return "    " + join(names, " | ") + ")\n" + action + "        return 0\n        ;;\n";
}

std::string bash_value_cases() {
    std::string cases =
        bash_value_case(value_hint::none, "        # nothing to offer\n") +
        bash_value_case(value_hint::directory, "        _pyrn_directories \"$cur\"\n") +
        bash_value_case(value_hint::file, "        _pyrn_files \"$cur\"\n");
    for (const option_row& row : all_options()) {
        if (row.value.kind != takes::nothing && row.value.hint == value_hint::words) {
            cases += "    " + join(names_of(row), " | ") + ")\n        _pyrn_words '" +
                     std::string(words_of(row)) + "' \"$cur\"\n        return 0\n        ;;\n";
        }
    }
    return cases;
}

std::vector<std::string_view> every_name() {
    std::vector<std::string_view> names;
    for (const option_row& row : all_options()) {
        for (std::string_view name : names_of(row)) {
            names.push_back(name);
        }
    }
    return names;
}

// Text in single quotes for zsh's _arguments: a quote closes, adds itself and reopens; the
// brackets of the help are escaped, and so are the colons of a value's message and action.
std::string zsh_quoted(std::string_view text, std::string_view escaped) {
    std::string quoted;
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            if (c == '\\' || escaped.find(c) != std::string_view::npos) {
                quoted += '\\';
            }
            quoted += c;
        }
    }
    return quoted;
}

// The names that one option excludes: its other name, the others of its exclusive group, its
// conflicts. A repeated option excludes nothing.
std::string zsh_exclusions(const option_row& row) {
    if (row.conflicts == "*") {
        return "(- *)";
    }
    if (row.value.kind == takes::texts) {
        return "";
    }
    std::vector<std::string_view> names;
    if (names_of(row).size() > 1) {
        names = names_of(row);
    }
    if (!row.exclusive_group.empty()) {
        for (const option_row& other : all_options()) {
            if (other.exclusive_group == row.exclusive_group) {
                for (std::string_view name : names_of(other)) {
                    names.push_back(name);
                }
            }
        }
    }
    if (!row.conflicts.empty()) {
        check_plain(row.conflicts, "- ");
        names.push_back(row.conflicts);
    }
    return names.empty() ? "" : "(" + join(names, " ") + ")";
}

std::string zsh_value(const option_value& value) {
    if (value.kind == takes::nothing) {
        return "";
    }
    std::string action = " ";
    if (value.hint == value_hint::directory) {
        action = "_directories";
    } else if (value.hint == value_hint::file) {
        action = "_files";
    } else if (value.hint == value_hint::words) {
        action = "(" + zsh_quoted(value.words, ":") + ")";
    }
    return ":" + zsh_quoted(value.name, ":") + ":" + action;
}

// '(exclusions)'{-a,--bb}'[help]:name:action' or '(exclusions)--bb[help]:name:action'.
std::string zsh_line(const option_row& row) {
    const std::vector<std::string_view> names = names_of(row);
    std::string prefix = zsh_exclusions(row);
    if (row.value.kind == takes::texts) {
        prefix += "*";
    }
    std::string line = "    '" + prefix;
    if (names.size() > 1) {
        line += "'{" + join(names, ",") + "}'";
    } else {
        line += std::string(names.front());
    }
    return line + "[" + zsh_quoted(row.help, "[]") + "]" + zsh_value(row.value) + "' \\\n";
}

// Text in fish's single quotes, where a backslash escapes a quote or a backslash.
std::string fish_quoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "'";
}

std::string fish_value(const option_value& value) {
    if (value.kind == takes::nothing) {
        return "";
    }
    switch (value.hint) {
    case value_hint::none:
        return " -x";
    case value_hint::directory:
        return " -x -a '(__fish_complete_directories)'";
    case value_hint::file:
        return " -r -F";
    case value_hint::words:
        return " -x -a " + fish_quoted(value.words);
    }
    return "";
}

std::string fish_line(const option_row& row) {
    std::string line = "complete -c pyrn";
    for (std::string_view name : names_of(row)) {
        const bool long_name = name.size() > 2 && name[1] == '-';
        const bool short_name = name.size() == 2;
        line += long_name ? " -l " : short_name ? " -s " : " -o ";
        line += name.substr(long_name ? 2 : 1);
    }
    return line + fish_value(row.value) + " -d " + fish_quoted(row.help) + "\n";
}

} // namespace

std::string fill_in(std::string text, const std::string& marker, const std::string& with) {
    const std::size_t at = text.find(marker);
    if (at == std::string::npos || text.find(marker, at + 1) != std::string::npos) {
        throw std::invalid_argument("expected " + marker + " once");
    }
    return text.replace(at, marker.size(), with);
}

std::string bash_completion() {
    std::string script = fill_in(bash_script, "@VALUES@", bash_value_cases());
    script = fill_in(script, "@TAKING_VALUE@",
                     wrapped(names_taking_values(), 8, " | ", " | \\\n            "));
    return fill_in(script, "@OPTIONS@", wrapped(every_name(), 21, " ", "\n            "));
}

std::string zsh_completion() {
    std::string lines;
    for (const option_row& row : all_options()) {
        lines += zsh_line(row);
    }
    return fill_in(zsh_script, "@OPTIONS@", lines);
}

std::string fish_completion() {
    std::string lines;
    for (const option_row& row : all_options()) {
        lines += fish_line(row);
    }
    const std::string script =
        fill_in(fish_script, "@TAKING_VALUE@", join(names_taking_values(), " "));
    return fill_in(script, "@OPTIONS@", lines);
}

} // namespace pyrn
