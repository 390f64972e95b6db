#include "base/paths.hpp"

#include <filesystem>

namespace search {

namespace fs = std::filesystem;

std::string joined(const std::string& directory, std::string_view path) {
    if (!path.empty() && path[0] == '/') {
        return std::string(path);
    }
    return ((directory.empty() ? fs::current_path() : fs::path(directory)) / path).native();
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
