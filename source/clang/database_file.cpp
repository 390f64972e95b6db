#include "clang/database_file.hpp"

#include "base/paths.hpp"
#include "base/whole_file.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace search {

namespace {

using json = nlohmann::json;

// The entries as the JSON parser hands over its events, one at a time: a list of objects of
// the keys clang knows, with scalar values but for "arguments", a list of scalars. Each check
// and reason is clang's, in clang's order, so that a database is refused as clang refuses it.
class entry_reader {
public:
    std::vector<database_entry> entries;
    std::string refusal; // set when the events stopped for a reason of the database's

    bool null() { return scalar("null"); }
    bool boolean(bool value) { return scalar(value ? "true" : "false"); }
    bool number_integer(json::number_integer_t value) { return scalar(std::to_string(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return scalar(std::to_string(value)); }
    bool number_float(json::number_float_t, const std::string& raw) { return scalar(raw); }
    bool string(std::string& value) { return scalar(std::move(value)); }
    bool binary(json::binary_t&) { return refuse("Expected string as value."); }

    bool start_array(std::size_t) {
        switch (depth) {
        case 0:
            depth = 1;
            return true;
        case 1:
            return refuse("Expected object.");
        case 2:
            if (current_key != "arguments") {
                return refuse("Expected string as value.");
            }
            nodes.emplace();
            depth = 3;
            return true;
        default:
            return refuse("Only strings are allowed in 'arguments'.");
        }
    }
    bool end_array() {
        --depth;
        return true;
    }

    bool start_object(std::size_t) {
        switch (depth) {
        case 0:
            return refuse("Expected array.");
        case 1:
            start_entry();
            depth = 2;
            return true;
        case 2:
            return refuse(current_key == "arguments" ? "Expected sequence as value."
                                                     : "Expected string as value.");
        default:
            return refuse("Only strings are allowed in 'arguments'.");
        }
    }
    bool key(std::string& name) {
        current_key = std::move(name);
        return true;
    }
    bool end_object() {
        depth = 1;
        return finish_entry();
    }

    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
        error_position = position;
        return false;
    }
    std::size_t error_position = 0;

private:
    int depth = 0; // 0 before the list, 1 in it, 2 in an entry, 3 in its "arguments"
    std::string current_key;
    database_entry entry;
    bool has_directory = false;
    bool has_file = false;
    // The "arguments" given, or the "command" as one string.
    std::optional<std::vector<std::string>> nodes;

    bool refuse(std::string reason) {
        refusal = std::move(reason);
        return false;
    }

    bool scalar(std::string value) {
        switch (depth) {
        case 0:
            return refuse("Expected array.");
        case 1:
            return refuse("Expected object.");
        case 2:
            return entry_value(std::move(value));
        default:
            nodes->push_back(std::move(value));
            return true;
        }
    }

    void start_entry() {
        entry = database_entry();
        has_directory = false;
        has_file = false;
        nodes.reset();
    }

    bool entry_value(std::string value) {
        if (current_key == "arguments") {
            return refuse("Expected sequence as value.");
        }
        if (current_key == "directory") {
            entry.directory = std::move(value);
            has_directory = true;
        } else if (current_key == "file") {
            entry.file = std::move(value);
            has_file = true;
        } else if (current_key == "command") {
            if (!nodes) { // "arguments" win over "command"
                nodes.emplace(1, std::move(value));
            }
        } else if (current_key != "output") {
            return refuse(fmt::format("Unknown key: \"{}\"", json(current_key).dump()));
        }
        return true;
    }

    bool finish_entry() {
        if (!has_file) {
            return refuse("Missing key: \"file\".");
        }
        if (!nodes) {
            return refuse("Missing key: \"command\" or \"arguments\".");
        }
        if (!has_directory) {
            return refuse("Missing key: \"directory\".");
        }
        // One argument alone is a command line, in "arguments" too.
        entry.arguments = nodes->size() == 1 ? split_command(nodes->front()) : std::move(*nodes);
        add_driver_mode(entry.arguments);
        entries.push_back(std::move(entry));
        return true;
    }

    // As clang does, the mode of the compiler's name unless the arguments name one.
    static void add_driver_mode(std::vector<std::string>& arguments) {
        if (arguments.empty()) {
            return;
        }
        const std::string_view mode = driver_mode_of(arguments.front());
        const bool named = std::any_of(arguments.begin() + 1, arguments.end(), [](const auto& arg) {
            return starts_with(arg, "--driver-mode=");
        });
        if (!mode.empty() && !named) {
            arguments.insert(arguments.begin() + 1, std::string(mode));
        }
    }
};

bool is_blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// "line L, column C" of the byte before position (the parser's count of bytes read).
std::string place_of(std::string_view content, std::size_t position) {
    const std::size_t at = std::min(position == 0 ? 0 : position - 1, content.size());
    const std::string_view before = content.substr(0, at);
    const std::size_t line_start = before.rfind('\n') + 1; // 0 when there is none
    return fmt::format("line {}, column {}", std::count(before.begin(), before.end(), '\n') + 1,
                       at - line_start + 1);
}

// The compiler names that clang knows, by their last letters, and the mode of each; in
// clang's order, which decides between those that end alike.
struct name_suffix {
    std::string_view suffix;
    std::string_view mode;
};
constexpr name_suffix name_suffixes[] = {
    {"clang", ""},
    {"clang++", "--driver-mode=g++"},
    {"clang-c++", "--driver-mode=g++"},
    {"clang-cc", ""},
    {"clang-cpp", "--driver-mode=cpp"},
    {"clang-g++", "--driver-mode=g++"},
    {"clang-gcc", ""},
    {"clang-cl", "--driver-mode=cl"},
    {"cc", ""},
    {"cpp", "--driver-mode=cpp"},
    {"cl", "--driver-mode=cl"},
    {"++", "--driver-mode=g++"},
    {"flang", "--driver-mode=flang"},
    {"flang-new", "--driver-mode=flang"},
    {"clang-dxc", "--driver-mode=dxc"},
};

const name_suffix* suffix_of(std::string_view name) {
    for (const name_suffix& known : name_suffixes) {
        if (ends_with(name, known.suffix)) {
            return &known;
        }
    }
    return nullptr;
}

} // namespace

std::string read_database_file(const std::string& file) {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) {
        throw database_error(fmt::format("{}: {}", file, std::strerror(errno)));
    }
    if (!S_ISREG(info.st_mode)) {
        throw database_error(fmt::format("{}: not a regular file", file));
    }
    std::error_code error;
    std::string content = read_whole_file(file.c_str(), error);
    if (error) {
        throw database_error(fmt::format("{}: {}", file, error.message()));
    }
    return content;
}

std::vector<database_entry> parse_database(const std::string& file, std::string_view content) {
    if (is_blank(content)) {
        throw database_error(file + ": Expected array.");
    }
    entry_reader events;
    // Not strict: like clang, the first value is the database, whatever follows it.
    if (!json::sax_parse(content, &events, json::input_format_t::json, false)) {
        throw database_error(
            fmt::format("{}: {}", file,
                        !events.refusal.empty()
                            ? events.refusal
                            : "not valid JSON at " + place_of(content, events.error_position)));
    }
    return std::move(events.entries);
}

std::vector<std::string> split_command(std::string_view command) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const std::size_t end = command.size();
    for (;;) {
        while (i < end && command[i] == ' ') {
            ++i;
        }
        if (i == end) {
            return arguments;
        }
        std::string& arg = arguments.emplace_back();
        while (i < end && command[i] != ' ') {
            const char quote = command[i];
            if (quote == '"' || quote == '\'') {
                for (++i; i < end && command[i] != quote; ++i) {
                    if (quote == '"' && command[i] == '\\' && ++i == end) {
                        break;
                    }
                    arg += command[i];
                }
                i += i < end; // the closing quote
            } else {
                if (command[i] == '\\' && ++i == end) {
                    break;
                }
                arg += command[i++];
            }
        }
    }
}

std::string_view driver_mode_of(std::string_view program) {
    std::string_view name = program.substr(program.rfind('/') + 1);
    const name_suffix* known = suffix_of(name);
    if (known == nullptr && ends_with(name, ".exe")) {
        name.remove_suffix(4);
        known = suffix_of(name);
    }
    if (known == nullptr) { // clang++3.5
        name = name.substr(0, name.find_last_not_of("0123456789.") + 1);
        known = suffix_of(name);
    }
    if (known == nullptr) { // clang++-tot
        name = name.substr(0, name.rfind('-'));
        known = suffix_of(name);
    }
    return known != nullptr ? known->mode : std::string_view();
}

} // namespace search
