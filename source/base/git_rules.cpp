#include "base/git_rules.hpp"
#include "base/git_library.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace search {

namespace fs = std::filesystem;

namespace {

// Each "**" of a pattern may stand for any number of folders: libgit2's matching tries every
// way, which costs time exponential in their count on a deep path.
constexpr int most_double_stars = 2;

// The bytes of a file that libgit2 would read, or why it must not: a named pipe or a device
// would block the read. A file that cannot be opened is left to libgit2, which says why.
std::string read_rules(const std::string& path, std::string& problem) {
    problem.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string content;
    struct stat info {};
    if (fstat(fd, &info) != 0 || (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))) {
        problem = "not a regular file";
    } else if (S_ISREG(info.st_mode)) {
        char buffer[65536];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
            content.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return content;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The first pattern of an ignore file with more "**" folders than can be matched cheaply.
std::string_view costly_pattern(std::string_view rules) {
    for (std::size_t start = 0; start < rules.size();) {
        const std::size_t end = std::min(rules.find('\n', start), rules.size());
        std::string_view line = trimmed(rules.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '!') {
            line.remove_prefix(1); // a negated pattern is matched all the same
        }
        int double_stars = 0;
        for (std::size_t from = 0; from <= line.size() && !line.empty() && line[0] != '#';) {
            const std::size_t slash = std::min(line.find('/', from), line.size());
            const std::string_view part = line.substr(from, slash - from);
            if (part.size() >= 2 && part.find_first_not_of('*') == std::string_view::npos) {
                ++double_stars;
            }
            from = slash + 1;
        }
        if (double_stars > most_double_stars) {
            return line;
        }
    }
    return {};
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// A path of git's config as git takes it: "~/" is the home folder, a relative path is below the
// folder of the file that names it.
std::string config_path(std::string_view value, const std::string& config_file) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    const char* home = std::getenv("HOME");
    if (value.substr(0, 2) == "~/" && home != nullptr) {
        return std::string(home) + std::string(value.substr(1));
    }
    if (!value.empty() && value.front() == '/') {
        return std::string(value);
    }
    return (fs::path(config_file).parent_path() / value).lexically_normal().native();
}

// The files that a git config file includes ([include] and [includeIf "..."] path).
std::vector<std::string> included_files(std::string_view config, const std::string& file) {
    std::vector<std::string> found;
    bool in_include = false;
    for (std::size_t start = 0; start < config.size();) {
        const std::size_t end = std::min(config.find('\n', start), config.size());
        std::string_view line = trimmed(config.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string section =
                lower(line.substr(1, std::min(line.find_first_of(" \t\"]"), close) - 1));
            in_include = section == "include" || section == "includeif";
            line = close == std::string_view::npos ? "" : trimmed(line.substr(close + 1));
        }
        const std::size_t equals = line.find('=');
        if (in_include && equals != std::string_view::npos &&
            lower(trimmed(line.substr(0, equals))) == "path") {
            found.push_back(config_path(trimmed(line.substr(equals + 1)), file));
        }
    }
    return found;
}

[[noreturn]] void refuse_rules(const std::string& path, const std::string& problem) {
    throw std::runtime_error(path + ": " + problem);
}

// A config file and those it includes, as deep as git follows them.
void check_config(const std::string& path, int depth = 0) {
    constexpr int deepest_include = 10;
    std::string problem;
    const std::string config = read_rules(path, problem);
    if (!problem.empty()) {
        refuse_rules(path, problem);
    }
    if (depth < deepest_include) {
        for (const std::string& included : included_files(config, path)) {
            check_config(included, depth + 1);
        }
    }
}

} // namespace

std::string ignore_file_problem(const std::string& path) {
    std::string problem;
    const std::string rules = read_rules(path, problem);
    const std::string_view costly = costly_pattern(rules);
    if (problem.empty() && !costly.empty()) {
        problem = "the pattern \"" + std::string(costly) + "\" holds more than " +
                  std::to_string(most_double_stars) + " \"**\", too costly to match";
    }
    return problem;
}

void check_ignore_file(const std::string& path) {
    const std::string problem = ignore_file_problem(path);
    if (!problem.empty()) {
        refuse_rules(path, problem);
    }
}

std::string global_excludes(git_repository* repository) {
    git_config* config = nullptr;
    std::string path;
    if (libgit2().repository_config_snapshot(&config, repository) == 0) {
        git_buf value{};
        if (libgit2().config_get_path(&value, config, "core.excludesFile") == 0) {
            path = value.ptr;
        }
        libgit2().buf_dispose(&value);
        libgit2().config_free(config);
    }
    if (!path.empty()) {
        return path;
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && *xdg != '\0') {
        return std::string(xdg) + "/git/ignore";
    }
    return home != nullptr ? std::string(home) + "/.config/git/ignore" : std::string();
}

void check_repository_files(const std::string& git_dir) {
    check_config(git_dir + "config");
    check_ignore_file(git_dir + "info/exclude");
}

} // namespace search
