#include "cache/file_dependencies.hpp"

#include "base/paths.hpp"
#include "clang/clang_handles.hpp"
#include "clang/file_arguments.hpp"

#include <filesystem>
#include <unordered_set>

namespace search {

namespace {

// Where the arguments make clang look for includes: the directories of -I, -isystem, -iquote
// and -idirafter, in the working directory of -working-directory, and the system's own.
std::vector<std::string> include_directories(const std::vector<const char*>& arguments,
                                             std::string& working_dir) {
    static constexpr std::string_view options[] = {"-I", "-isystem", "-iquote", "-idirafter"};
    std::vector<std::string_view> given;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
        constexpr std::string_view working = "-working-directory=";
        if (arg.compare(0, working.size(), working) == 0) {
            working_dir = arg.substr(working.size());
        }
        for (std::string_view option : options) {
            if (arg == option && i + 1 < arguments.size()) {
                given.emplace_back(arguments[++i]);
            } else if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0) {
                given.push_back(arg.substr(option.size()));
            }
        }
    }
    std::vector<std::string> dirs;
    for (std::string_view dir : given) {
        dirs.push_back(joined(working_dir, dir));
    }
    for (std::string_view argument : system_include_arguments) {
        dirs.emplace_back(argument.substr(2)); // without the -I
    }
    return dirs;
}

// The name in a diagnostic "'name' file not found", or nothing.
std::string_view missing_include(std::string_view text) {
    constexpr std::string_view tail = "' file not found";
    const std::size_t end = text.find(tail);
    if (text.empty() || text[0] != '\'' || end == std::string_view::npos) {
        return {};
    }
    return text.substr(1, end - 1);
}

void add_inclusion(CXFile file, CXSourceLocation*, unsigned depth, CXClientData data) {
    // Depth 0 is the searched file itself, judged by its content; the CUDA host header exists
    // only in the parse.
    std::string name = owned_text(clang_getFileName(file));
    if (depth > 0 && name != cuda_host_header_path) {
        static_cast<std::vector<std::string>*>(data)->push_back(std::move(name));
    }
}

} // namespace

file_dependencies dependencies_of(CXTranslationUnit unit,
                                  const std::vector<const char*>& arguments) {
    std::string working_dir;
    const std::vector<std::string> dirs = include_directories(arguments, working_dir);
    std::vector<std::string> named;
    clang_getInclusions(unit, &add_inclusion, &named);
    file_dependencies found;
    std::unordered_set<std::string> seen;
    for (const std::string& path : named) {
        std::string absolute = joined(working_dir, path);
        if (seen.insert(absolute).second) {
            found.included.push_back(std::move(absolute));
        }
    }
    for (unsigned i = 0, count = clang_getNumDiagnostics(unit); i < count; ++i) {
        const diagnostic_handle diagnostic(clang_getDiagnostic(unit, i));
        const std::string text = owned_text(clang_getDiagnosticSpelling(diagnostic.get()));
        CXFile where = nullptr;
        clang_getExpansionLocation(clang_getDiagnosticLocation(diagnostic.get()), &where, nullptr,
                                   nullptr, nullptr);
        const std::string_view name = missing_include(text);
        if (name.empty()) {
            continue;
        }
        std::vector<std::string> places = dirs;
        if (where != nullptr) {
            const std::string including = joined(working_dir, owned_text(clang_getFileName(where)));
            places.insert(places.begin(), std::filesystem::path(including).parent_path().native());
        }
        for (const std::string& dir : places) {
            found.absent.push_back(joined(dir, name));
        }
    }
    return found;
}

} // namespace search
