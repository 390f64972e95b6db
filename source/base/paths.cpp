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

namespace {

// The lexically normal form of an absolute path with no ".." that ends in a name, made in place
// of std::filesystem's: the paths of a tree and of its includes, compared by the thousand.
bool normal_by_hand(std::string& path) {
    if (path.size() < 2 || path[0] != '/' || path[1] == '/' || path.back() == '/') {
        return false;
    }
    std::string normal;
    normal.reserve(path.size());
    for (std::size_t slash = 0; slash < path.size();) {
        std::size_t end = path.find('/', slash + 1);
        end = end == std::string::npos ? path.size() : end;
        const std::string_view name(path.data() + slash + 1, end - slash - 1);
        if (name == ".." || (name == "." && end == path.size())) {
            return false;
        }
        if (!name.empty() && name != ".") {
            normal += '/';
            normal += name;
        }
        slash = end;
    }
    path = std::move(normal);
    return true;
}

} // namespace

std::string absolute_in(const std::string& directory, std::string_view path) {
    std::string whole = joined(directory, path);
    if (normal_by_hand(whole)) {
        return whole;
    }
    return fs::path(whole).lexically_normal().native();
}

bool starts_with(std::string_view text, std::string_view start) {
    return text.compare(0, start.size(), start) == 0;
}

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace search
