#include "clang/compile_database.hpp"

#include "base/messages.hpp"
#include "base/paths.hpp"
#include "core/source_files.hpp"
#include "clang/clang_handles.hpp"
#include "clang/entry_options.hpp"

#include <clang-c/CXCompilationDatabase.h>
#include <clang-c/Index.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unordered_set>

namespace search {

namespace {

namespace fs = std::filesystem;

// Runs body with standard error sent to a temporary file and returns what was written there:
// libclang writes its reasons for refusing a database to standard error, and they belong in
// the one line that names the database. Only called before any worker thread exists.
template <class Body> std::string capture_stderr(Body body) {
    std::FILE* capture = std::tmpfile();
    if (capture == nullptr) {
        body();
        return {};
    }
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(fileno(capture), 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    std::rewind(capture);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, capture)) > 0;) {
        text.append(buffer, got);
    }
    std::fclose(capture);
    return text;
}

// The JSON reader's own words from what libclang wrote, e.g. "Expected array.".
std::string refusal_reason(const std::string& captured) {
    constexpr std::string_view prefix = "json-compilation-database: ";
    const std::size_t at = captured.find(prefix);
    if (at == std::string::npos) {
        return "not a valid compilation database";
    }
    const std::size_t start = at + prefix.size();
    return captured.substr(start, captured.find('\n', start) - start);
}

std::string normal(const fs::path& path) {
    return path.lexically_normal().native();
}

// Keeps in command the arguments of an entry (the compiler first) that a parse takes, and
// returns the others but the source file and the outputs, which every entry names.
std::vector<std::string> take_parse_options(const std::vector<std::string>& arguments,
                                            compile_command& command) {
    std::vector<std::string> left_out;
    for (std::size_t k = 1; k < arguments.size();) {
        if (const std::size_t length = parse_option_length(arguments, k)) {
            const auto first = arguments.begin() + static_cast<std::ptrdiff_t>(k);
            command.arguments.insert(command.arguments.end(), first,
                                     first + static_cast<std::ptrdiff_t>(length));
            k += length;
        } else if (const std::size_t outputs = output_option_length(arguments, k)) {
            k += outputs;
        } else {
            const std::string& arg = arguments[k++];
            const bool is_source =
                !starts_with(arg, "-") && absolute_in(command.directory, arg) == command.file;
            if (!is_source) {
                left_out.push_back(arg);
            }
        }
    }
    return left_out;
}

// One line for each distinct set of options left out.
void say_left_out(const std::vector<std::string>& left_out, std::unordered_set<std::string>& said) {
    if (left_out.empty()) {
        return;
    }
    std::string list = fmt::format("{}", fmt::join(left_out, " "));
    if (said.insert(list).second) {
        report("left out the options that a parse does not need: " + list);
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

// The options among arguments that clang reports about (unknown, unsupported or unused), as
// found by a parse of an empty stand-in for file with them.
std::vector<std::string> options_clang_refuses(const std::vector<std::string>& arguments,
                                               const std::string& file) {
    std::vector<const char*> list;
    for (const std::string& arg : arguments) {
        list.push_back(arg.c_str());
    }
    CXUnsavedFile empty{file.c_str(), "", 0};
    const index_handle index(clang_createIndex(0, 0));
    const unit_handle unit(clang_parseTranslationUnit(index.get(), file.c_str(), list.data(),
                                                      static_cast<int>(list.size()), &empty, 1, 0));
    std::vector<std::string> refused;
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
            refused.push_back(text.substr(open + 1, close - open - 1));
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
    if (std::FILE* readable = std::fopen(file.c_str(), "rb")) {
        std::fclose(readable);
    } else if (errno == ENOENT && fs::is_directory(status)) {
        throw database_error(fmt::format("{}: no compile_commands.json in this directory", path));
    } else {
        throw database_error(fmt::format("{}: {}", file.native(), std::strerror(errno)));
    }
    return file.native();
}

std::vector<database_entry> compile_database::read_entries(const std::string& file) {
    const std::string directory = normal(fs::absolute(file).parent_path());
    CXCompilationDatabase_Error failure = CXCompilationDatabase_NoError;
    database_handle loaded;
    const std::string said = capture_stderr([&] {
        loaded.reset(clang_CompilationDatabase_fromDirectory(directory.c_str(), &failure));
    });
    if (!loaded || failure != CXCompilationDatabase_NoError) {
        throw database_error(fmt::format("{}: {}", file, refusal_reason(said)));
    }
    const commands_handle all(clang_CompilationDatabase_getAllCompileCommands(loaded.get()));
    std::vector<database_entry> entries;
    for (unsigned i = 0, n = clang_CompileCommands_getSize(all.get()); i < n; ++i) {
        CXCompileCommand command = clang_CompileCommands_getCommand(all.get(), i);
        database_entry& entry = entries.emplace_back();
        entry.directory = owned_text(clang_CompileCommand_getDirectory(command));
        entry.file = owned_text(clang_CompileCommand_getFilename(command));
        for (unsigned k = 0, count = clang_CompileCommand_getNumArgs(command); k < count; ++k) {
            entry.arguments.push_back(owned_text(clang_CompileCommand_getArg(command, k)));
        }
    }
    return entries;
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
    std::string key;
    for (const std::string& arg : arguments) {
        key += arg;
        key += '\0';
    }
    std::vector<std::string> refused;
    {
        const std::lock_guard<std::mutex> hold(unknown_lock);
        auto found = unknown_by_list.find(key);
        if (found == unknown_by_list.end()) {
            found = unknown_by_list.emplace(key, options_clang_refuses(arguments, file)).first;
            if (verbose && !found->second.empty()) {
                report(fmt::format("left out the options that clang does not take: {}",
                                   fmt::join(found->second, " ")));
            }
        }
        refused = found->second;
    }
    std::vector<std::string> kept;
    for (const std::string& arg : arguments) {
        if (std::find(refused.begin(), refused.end(), arg) == refused.end()) {
            kept.push_back(arg);
        }
    }
    return kept;
}

} // namespace search
