#include "base/paths.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace search {

namespace fs = std::filesystem;

const std::string& working_directory() {
    static const std::string directory = [] {
        std::string path(4096, '\0');
        while (getcwd(path.data(), path.size()) == nullptr) {
            if (errno != ERANGE) {
                return std::string();
            }
            path.resize(path.size() * 2);
        }
        path.resize(std::strlen(path.c_str()));
        return path;
    }();
    return directory;
}

// A working directory that cannot be named is asked for again, so that the error is thrown.
std::string joined(const std::string& directory, std::string_view path) {
    if (!path.empty() && path[0] == '/') {
        return std::string(path);
    }
    const std::string& base = directory.empty() ? working_directory() : directory;
    return ((base.empty() ? fs::current_path() : fs::path(base)) / path).native();
}

std::string absolute_in(const std::string& directory, std::string_view path) {
    return fs::path(joined(directory, path)).lexically_normal().native();
}

bool starts_with(std::string_view text, std::string_view start) {
    return text.compare(0, start.size(), start) == 0;
}

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace search
