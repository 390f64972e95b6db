#include "app/manual_page.hpp"

#include "app/option_table.hpp"

#include <array>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pyrn {

namespace {

// The groups by the names the template's markers give them.
const std::array<std::pair<std::string_view, option_group>, 8> group_names = {{
    {"general", option_group::general},
    {"kinds", option_group::kinds},
    {"parsing", option_group::parsing},
    {"walk", option_group::walk},
    {"output", option_group::output},
    {"query", option_group::query},
    {"build", option_group::build},
    {"cache", option_group::cache},
}};

// Plain text as roff shows it: dashes, quotes and backslashes escaped, so that they come out
// as ASCII, and a leading dot kept from reading as a request.
std::string roff_text(std::string_view text) {
    std::string roff = !text.empty() && (text[0] == '.' || text[0] == '\'') ? "\\&" : "";
    for (char c : text) {
        switch (c) {
        case '\\':
            roff += "\\e";
            break;
        case '-':
            roff += "\\-";
            break;
        case '\'':
            roff += "\\(aq";
            break;
        case '`':
            roff += "\\(ga";
            break;
        default:
            roff += c;
        }
    }
    return roff;
}

// An option name in bold, never broken at its dashes.
std::string bold_name(std::string_view name) {
    return "\\%" + roff_text(name);
}

// ".BR a ," ... ".B y", "and", ".B z": names as a sentence lists them.
std::string name_list(const std::vector<std::string_view>& names, bool with_and) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        const bool before_and = with_and && i + 2 == names.size();
        if (last || before_and) {
            list += ".B " + bold_name(names[i]) + "\n" + (before_and ? "and\n" : "");
        } else {
            list += ".BR " + bold_name(names[i]) + " ,\n";
        }
    }
    return list;
}

std::size_t kind_count(const option_row& row) {
    std::size_t count = 0;
    for (bool search::kind_choice::*field : row.kinds) {
        count += field != nullptr ? 1 : 0;
    }
    return count;
}

// The kind options that choose one kind, or those that choose several.
std::vector<std::string_view> kind_options(bool groups) {
    std::vector<std::string_view> names;
    for (const option_row& row : all_options()) {
        if (is_kind_option(row) && (kind_count(row) > 1) == groups) {
            names.push_back(row.names[1].empty() ? row.names[0] : row.names[1]);
        }
    }
    return names;
}

std::string kind_option_list() {
    return name_list(kind_options(false), false) + "and the groups\n" +
           name_list(kind_options(true), true);
}

// ".BR \%\-f ", " \-\-filter " \fIpattern\fP"", ".BI \%\-j " n"", ".B \%\-\-verbose".
std::string entry_head(const option_row& row) {
    const bool has_value = row.value.kind != takes::nothing;
    const std::string value = " \\fI" + roff_text(row.value.name) + "\\fP";
    if (row.names[1].empty()) {
        return has_value
                   ? ".BI " + bold_name(row.names[0]) + " \" " + roff_text(row.value.name) + "\""
                   : ".B " + bold_name(row.names[0]);
    }
    return ".BR " + bold_name(row.names[0]) + " \", \" " + roff_text(row.names[1]) +
           (has_value ? " \"" + value + "\"" : "");
}

// For a group of kinds: the single kind options it stands for.
std::string same_as(const option_row& group) {
    std::vector<std::string> names;
    for (const option_row& row : all_options()) {
        for (bool search::kind_choice::*field : group.kinds) {
            if (field != nullptr && is_kind_option(row) && kind_count(row) == 1 &&
                row.kinds[0] == field) {
                names.push_back(bold_name(row.names[0]));
            }
        }
    }
    std::string sentence = "The same as\n.B";
    for (const std::string& name : names) {
        sentence += " " + name;
    }
    return sentence + "\ntogether.\n";
}

// What the kind table says of a kind option.
std::string kind_notes(const option_row& row) {
    if (!is_kind_option(row)) {
        return "";
    }
    if (kind_count(row) > 1) {
        return same_as(row);
    }
    const search::kind_row* kind = search::row_of(row.kinds[0]);
    std::string notes = kind != nullptr && kind->text_tested
                            ? "A text\\-matched kind: it switches every kind to the text test.\n"
                            : "";
    // The kinds that a search without kind options leaves out are those chosen by no default.
    if (!(search::kind_choice{}.*row.kinds[0])) {
        notes += "Searched only when asked for: a search without kind options leaves it out.\n";
    }
    return notes;
}

std::string entry(const option_row& row) {
    std::string help = roff_text(row.help);
    if (help.empty() || help.back() != '.') {
        help += '.';
    }
    std::string text = ".TP\n" + entry_head(row) + "\n" + help + "\n";
    if (!row.manual.empty()) {
        text += std::string(row.manual) + "\n";
    }
    return text + kind_notes(row);
}

std::string entries(option_group group) {
    std::string text;
    for (const option_row& row : all_options()) {
        if (row.group == group) {
            text += entry(row);
        }
    }
    return text;
}

option_group group_named(std::string_view name) {
    for (const auto& [group_name, group] : group_names) {
        if (group_name == name) {
            return group;
        }
    }
    throw std::invalid_argument("no option group " + std::string(name));
}

// The template's line, or what its marker stands for; notes each group placed.
std::string expand(std::string_view line, std::vector<option_group>& placed) {
    const std::string_view options_marker = "@options ";
    if (line == "@kind options@") {
        return kind_option_list();
    }
    if (line.substr(0, options_marker.size()) == options_marker && line.back() == '@') {
        const std::string_view name =
            line.substr(options_marker.size(), line.size() - options_marker.size() - 1);
        placed.push_back(group_named(name));
        return entries(placed.back());
    }
    if (!line.empty() && line[0] == '@') {
        throw std::invalid_argument("unknown marker " + std::string(line));
    }
    return std::string(line) + "\n";
}

void check_groups_placed(const std::vector<option_group>& placed) {
    for (const auto& [name, group] : group_names) {
        std::size_t count = 0;
        for (option_group each : placed) {
            count += each == group ? 1 : 0;
        }
        if (count != 1 && !entries(group).empty()) {
            throw std::invalid_argument("the options of " + std::string(name) +
                                        " must be placed once");
        }
    }
}

} // namespace

std::string manual_page(std::string_view page_template) {
    std::string page;
    std::vector<option_group> placed;
    while (!page_template.empty()) {
        const std::size_t end = page_template.find('\n');
        page += expand(page_template.substr(0, end), placed);
        page_template.remove_prefix(end == std::string_view::npos ? page_template.size() : end + 1);
    }
    check_groups_placed(placed);
    return page;
}

} // namespace pyrn
