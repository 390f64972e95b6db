#include "clang/compile_database.hpp"

#include "base/messages.hpp"
#include "base/paths.hpp"
#include "core/source_files.hpp"
#include "clang/clang_handles.hpp"
#include "clang/entry_options.hpp"

#include <clang-c/Index.h>

#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unordered_set>

namespace search {

namespace {

namespace fs = std::filesystem;

std::string normal(const fs::path& path) {
    return path.lexically_normal().native();
}

// How --verbose names an option it leaves out: without its value, which may be anything the
// database holds ("-fplugin" for -fplugin=x.so, "-D" for -DX=1, "@..." for a response file).
// Values apart and other inputs are not named.
std::string option_name(std::string_view arg) {
    static constexpr std::string_view joined_values[] = {
        "-include-pch", "-include", "-imacros",    "-isystem", "-iquote", "-idirafter",
        "-isysroot",    "-iprefix", "-iframework", "-D",       "-U",      "-I",
        "-L",           "-l",       "-B",          "-F",       "-x"};
    if (starts_with(arg, "@")) {
        return "@...";
    }
    if (!starts_with(arg, "-")) {
        return {};
    }
    for (std::string_view option : joined_values) {
        if (starts_with(arg, option)) {
            return std::string(option);
        }
    }
    return std::string(arg.substr(0, arg.find_first_of("=,")));
}

std::string names_of(const std::vector<std::string>& arguments) {
    std::string names;
    for (const std::string& arg : arguments) {
        const std::string name = option_name(arg);
        if (!name.empty()) {
            names += names.empty() ? "" : " ";
            names += name;
        }
    }
    return names;
}

// Keeps in command the arguments of an entry (the compiler first) that a parse takes, and
// returns the others but the source file and the outputs, which every entry names.
std::vector<std::string> take_parse_options(const std::vector<std::string>& arguments,
                                            compile_command& command) {
    std::vector<std::string> left_out;
    for (std::size_t k = 1; k < arguments.size();) {
        if (const std::size_t length = parse_option_length(arguments, k)) {
            for (std::size_t end = k + length; k < end; ++k) {
                command.arguments.push_back(capped_limit(arguments[k]));
            }
        } else if (const std::size_t outputs = output_option_length(arguments, k)) {
            k += outputs;
        } else {
            const std::string& arg = arguments[k];
            const bool is_source =
                !starts_with(arg, "-") && absolute_in(command.directory, arg) == command.file;
            if (!is_source) {
                left_out.push_back(arg);
            }
            k += option_span(arguments, k); // with its value, which is no option of its own
        }
    }
    return left_out;
}

// One line for each distinct set of options left out.
void say_left_out(const std::vector<std::string>& left_out, std::unordered_set<std::string>& said) {
    const std::string names = names_of(left_out);
    if (!names.empty() && said.insert(names).second) {
        report("left out the options that a parse does not need: " + names);
    }
}

// The directory of an absolute normal path, "/" for one at the root; "" for a bare name.
std::string_view parent_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The path without the last suffix of its name ("dir/stem"), as a header finds its source by.
std::string stem_key(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    const bool no_suffix = dot == std::string_view::npos || dot == 0 || name == "..";
    std::string key(path.substr(0, path.size() - name.size()));
    key += no_suffix ? name : name.substr(0, dot);
    return key;
}

std::size_t depth(std::string_view path) {
    std::size_t slashes = 0;
    for (char c : path) {
        slashes += c == '/';
    }
    return slashes;
}

// One option of an argument list, with its value apart: options are removed whole.
struct option_group {
    std::size_t start;
    std::size_t length;
};

std::vector<option_group> groups_of(const std::vector<std::string>& arguments) {
    std::vector<option_group> groups;
    for (std::size_t i = 0; i < arguments.size();) {
        const std::size_t length = std::max<std::size_t>(parse_option_length(arguments, i), 1);
        groups.push_back({i, length});
        i += length;
    }
    return groups;
}

// Options that no parse refuses: macros, include directories, the working directory, and the
// language, which decides what the others mean.
bool is_never_refused(std::string_view option) {
    static constexpr std::string_view never[] = {"-D",
                                                 "-U",
                                                 "-I",
                                                 "-isystem",
                                                 "-iquote",
                                                 "-idirafter",
                                                 "-working-directory=",
                                                 "-x",
                                                 "--driver-mode="};
    return std::any_of(std::begin(never), std::end(never),
                       [&](std::string_view start) { return starts_with(option, start); });
}

// The target first: whether -march or -mabi is taken depends on it.
bool is_target(std::string_view option) {
    return option == "-target" || starts_with(option, "--target=");
}

// What a parse of an empty stand-in for a file says of the arguments kept: whether libclang
// made a unit at all, and the options that its driver's diagnostics quote (unknown,
// unsupported or unused ones).
struct probe_result {
    bool parsed = false;
    std::vector<std::string> quoted;
};

// An option that has the parse read a file: /dev/zero, a named pipe or a file that crashes
// libclang would take the search itself down, since the probes run in its own process.
bool reads_a_file(std::string_view option) {
    return starts_with(option, "-include") || starts_with(option, "-imacros");
}

probe_result probe(CXIndex index, const std::vector<std::string>& arguments,
                   const std::vector<char>& kept, const std::string& file) {
    std::vector<const char*> list;
    for (const option_group& group : groups_of(arguments)) {
        if (!kept[group.start] || reads_a_file(arguments[group.start])) {
            continue;
        }
        for (std::size_t i = group.start; i < group.start + group.length; ++i) {
            list.push_back(arguments[i].c_str());
        }
    }
    CXUnsavedFile empty{file.c_str(), "", 0};
    CXTranslationUnit parsed = nullptr;
    clang_parseTranslationUnit2(index, file.c_str(), list.data(), static_cast<int>(list.size()),
                                &empty, 1, 0, &parsed);
    const unit_handle unit(parsed);
    probe_result result;
    result.parsed = unit != nullptr;
    const unsigned count = unit ? clang_getNumDiagnostics(unit.get()) : 0;
    for (unsigned i = 0; i < count; ++i) {
        const diagnostic_handle diagnostic(clang_getDiagnostic(unit.get(), i));
        CXFile where = nullptr;
        clang_getExpansionLocation(clang_getDiagnosticLocation(diagnostic.get()), &where, nullptr,
                                   nullptr, nullptr);
        const std::string text = owned_text(clang_getDiagnosticSpelling(diagnostic.get()));
        // Driver diagnostics have no place in a file and quote the option first.
        const std::size_t open = text.find("'-");
        const std::size_t close = open == std::string::npos ? open : text.find('\'', open + 1);
        if (where == nullptr && close != std::string::npos) {
            result.quoted.push_back(text.substr(open + 1, close - open - 1));
        }
    }
    return result;
}

// Whether a diagnostic quotes the option: as it is, or by its name alone ("-mcpu=").
bool is_quoted(const std::vector<std::string>& quoted, std::string_view option) {
    return std::any_of(quoted.begin(), quoted.end(), [&](const std::string& text) {
        return text == option || (ends_with(text, "=") && starts_with(option, text));
    });
}

void mark(std::vector<char>& marks, const option_group& group, char value) {
    std::fill_n(marks.begin() + static_cast<std::ptrdiff_t>(group.start), group.length, value);
}

// When libclang makes no unit at all of the arguments (an unknown target, CPU or standard),
// no diagnostic names the culprit: each option that a parse may refuse is tried alone, the
// target first, added to those that it never refuses and those taken before.
std::vector<char> refused_one_by_one(CXIndex index, const std::vector<std::string>& arguments,
                                     const std::vector<option_group>& groups,
                                     const std::string& file) {
    std::vector<char> refused(arguments.size(), 0);
    std::vector<char> kept(arguments.size(), 0);
    std::vector<const option_group*> tried;
    for (const option_group& group : groups) {
        const std::string& option = arguments[group.start];
        if (is_never_refused(option)) {
            mark(kept, group, 1);
        } else {
            tried.insert(is_target(option) ? tried.begin() : tried.end(), &group);
        }
    }
    if (!probe(index, arguments, kept, file).parsed) {
        return refused; // not the options' doing
    }
    for (const option_group* group : tried) {
        mark(kept, *group, 1);
        const probe_result result = probe(index, arguments, kept, file);
        if (!result.parsed || is_quoted(result.quoted, arguments[group->start])) {
            mark(kept, *group, 0);
            mark(refused, *group, 1);
        }
    }
    return refused;
}

// The arguments that clang refuses, by position: those its driver's diagnostics quote in a
// parse of an empty stand-in for file with them all, or, when it makes no unit of them, those
// found one by one.
std::vector<char> options_clang_refuses(const std::vector<std::string>& arguments,
                                        const std::string& file) {
    const index_handle index(clang_createIndex(0, 0));
    const std::vector<option_group> groups = groups_of(arguments);
    const probe_result all =
        probe(index.get(), arguments, std::vector<char>(arguments.size(), 1), file);
    if (!all.parsed) {
        return refused_one_by_one(index.get(), arguments, groups, file);
    }
    std::vector<char> refused(arguments.size(), 0);
    for (const option_group& group : groups) {
        if (is_quoted(all.quoted, arguments[group.start])) {
            mark(refused, group, 1);
        }
    }
    return refused;
}

bool is_c(std::string_view language) {
    return language == "c" || language == "c-header";
}

// The standard of a C entry means nothing to a C++ parse, and the other way round: libclang
// would refuse the file outright.
void drop_standard(std::vector<std::string>& arguments) {
    std::vector<std::string> kept;
    kept.reserve(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "-std" || arg == "--std") {
            ++i; // and its value
        } else if (!starts_with(arg, "-std=") && !starts_with(arg, "--std=")) {
            kept.push_back(arg);
        }
    }
    arguments.swap(kept);
}
// The options whose value is a path, longest first so that none is taken for a shorter one.
constexpr std::string_view path_options[] = {"-isystem", "-iquote",  "-idirafter",
                                             "-include", "-imacros", "-I"};

// The value's length in arg when arg is a path option with its value joined, else 0 (and
// apart set when the value is the next argument).
std::size_t path_option_length(std::string_view arg, bool& apart) {
    for (std::string_view option : path_options) {
        if (arg == option) {
            apart = true;
            return option.size();
        }
        if (starts_with(arg, option)) {
            apart = false;
            return option.size();
        }
    }
    return 0;
}

// The arguments with every relative path of a path option made absolute in directory.
std::vector<std::string> anchored_in(const std::string& directory,
                                     const std::vector<std::string>& arguments) {
    std::vector<std::string> anchored;
    anchored.reserve(arguments.size() + 8);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        bool apart = false;
        const std::size_t option = path_option_length(arg, apart);
        if (option == 0 || (apart && i + 1 == arguments.size())) {
            anchored.push_back(arg);
        } else if (apart) {
            anchored.push_back(arg);
            anchored.push_back(joined(directory, arguments[++i]));
        } else {
            anchored.push_back(arg.substr(0, option) + joined(directory, arg.substr(option)));
        }
    }
    return anchored;
}

} // namespace

std::string language_of(const std::vector<std::string>& arguments, std::string_view file) {
    std::string language;
    bool as_cpp = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "-x" && i + 1 < arguments.size()) {
            language = arguments[++i];
        } else if (arg.size() > 2 && arg.compare(0, 2, "-x") == 0) {
            language = arg.substr(2);
        }
        as_cpp = as_cpp || arg == "--driver-mode=g++";
    }
    return !language.empty() ? language : std::string(language_of_suffix(file, as_cpp));
}

std::string compile_database::file_of(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) {
        throw database_error(fmt::format("{}: {}", path, error.message()));
    }
    fs::path file = path;
    if (fs::is_directory(status)) {
        file /= "compile_commands.json";
    } else if (file.filename() != "compile_commands.json") {
        throw database_error(fmt::format("{}: not a file named compile_commands.json", path));
    }
    // Not blocking on a FIFO; read_database_file takes only a regular file.
    if (const int readable = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); readable >= 0) {
        close(readable);
    } else if (errno == ENOENT && fs::is_directory(status)) {
        throw database_error(fmt::format("{}: no compile_commands.json in this directory", path));
    } else {
        throw database_error(fmt::format("{}: {}", file.native(), std::strerror(errno)));
    }
    return file.native();
}

database_commands compile_database::commands_of(const std::string& file,
                                                std::vector<database_entry> entries, bool verbose) {
    const std::string directory = normal(fs::absolute(file).parent_path());
    database_commands found;
    std::unordered_map<std::string, bool> existing_dirs;
    std::unordered_set<std::string> said_left_out;
    for (database_entry& entry : entries) {
        compile_command command;
        command.directory = absolute_in(directory, entry.directory);
        command.file = absolute_in(command.directory, entry.file);
        std::vector<std::string>& arguments = entry.arguments;
        auto dir = existing_dirs.try_emplace(command.directory, false);
        if (dir.second) {
            std::error_code error;
            dir.first->second = fs::is_directory(command.directory, error);
            if (!dir.first->second) {
                found.absent_directories.push_back(command.directory);
            }
        }
        // An entry without arguments or whose directory is gone stands for nothing.
        if (arguments.empty() || !dir.first->second) {
            continue;
        }
        const std::vector<std::string> left_out = take_parse_options(arguments, command);
        if (verbose) {
            say_left_out(left_out, said_left_out);
        }
        command.language = language_of(command.arguments, command.file);
        found.commands.push_back(std::move(command));
    }
    return found;
}

std::unique_ptr<compile_database>
compile_database::from_commands(std::vector<compile_command> commands,
                                std::vector<std::string> includes, bool verbose) {
    auto database = std::make_unique<compile_database>();
    database->include_arguments = std::move(includes);
    database->verbose = verbose;
    database->commands = std::move(commands);
    for (std::size_t at = 0; at < database->commands.size(); ++at) {
        database->index(at);
    }
    return database;
}

void compile_database::index(std::size_t at) {
    const compile_command& command = commands[at];
    by_file.emplace(command.file, at);
    if (!is_header_path(command.file)) {
        by_stem.emplace(stem_key(command.file), at);
    }
    const std::size_t own_depth = depth(command.file);
    for (std::string_view dir = parent_of(command.file); dir.size() > 1; dir = parent_of(dir)) {
        auto [nearest, added] = by_dir.emplace(dir, at);
        if (!added && own_depth < depth(commands[nearest->second].file)) {
            nearest->second = at;
        }
    }
}

const compile_command* compile_database::entry_for(const std::string& file, bool& stand_in) const {
    stand_in = false;
    if (auto own = by_file.find(file); own != by_file.end()) {
        return &commands[own->second];
    }
    stand_in = true;
    if (is_header_path(file)) {
        if (auto source = by_stem.find(stem_key(file)); source != by_stem.end()) {
            return &commands[source->second];
        }
    }
    for (std::string_view dir = parent_of(file); dir.size() > 1; dir = parent_of(dir)) {
        if (auto nearest = by_dir.find(std::string(dir)); nearest != by_dir.end()) {
            return &commands[nearest->second];
        }
    }
    return nullptr;
}

std::vector<std::string> compile_database::arguments_for(const std::string& file) const {
    bool stand_in = false;
    const compile_command* entry = entry_for(file, stand_in);
    if (entry == nullptr) {
        return {};
    }
    // Relative paths of the entry mean its directory. libclang would honour
    // -working-directory by moving the whole process there, under every other file's search.
    std::vector<std::string> arguments = anchored_in(entry->directory, entry->arguments);
    arguments.insert(arguments.end(), include_arguments.begin(), include_arguments.end());
    if (stand_in) {
        const std::string_view language = is_header_path(file) ? header_language(entry->language)
                                                               : language_of_suffix(file, false);
        if (is_c(language) != is_c(entry->language)) {
            drop_standard(arguments);
        }
        arguments.push_back("-x");
        arguments.emplace_back(language);
    }
    return arguments;
}

std::vector<std::string>
compile_database::without_unknown_options(const std::vector<std::string>& arguments,
                                          const std::string& file) const {
    // Without a -x, the file's suffix gives the language that the options are taken for.
    std::string key = language_of(arguments, file);
    for (const std::string& arg : arguments) {
        key += '\0';
        key += arg;
    }
    std::vector<char> refused;
    {
        const std::lock_guard<std::mutex> hold(unknown_lock);
        auto found = unknown_by_list.find(key);
        if (found == unknown_by_list.end()) {
            found = unknown_by_list.emplace(key, options_clang_refuses(arguments, file)).first;
            say_refused(arguments, found->second);
        }
        refused = found->second;
    }
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!refused[i]) {
            kept.push_back(arguments[i]);
        }
    }
    return kept;
}

void compile_database::say_refused(const std::vector<std::string>& arguments,
                                   const std::vector<char>& refused) const {
    std::vector<std::string> options;
    for (const option_group& group : groups_of(arguments)) {
        if (refused[group.start]) {
            options.push_back(arguments[group.start]);
        }
    }
    const std::string names = names_of(options);
    if (verbose && !names.empty() && said_refused.insert(names).second) {
        report("left out the options that clang does not take: " + names);
    }
}

} // namespace search
