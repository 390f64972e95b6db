#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

// A directory tree built by a test under the system's temporary directory, removed again
// (permissions restored first) when the object goes.
class temp_tree {
public:
    temp_tree();
    ~temp_tree();
    temp_tree(const temp_tree&) = delete;
    temp_tree& operator=(const temp_tree&) = delete;

    const std::filesystem::path& root() const { return base; }
    std::string path(std::string_view relative = "") const;

    // Creates the file with the content, and its parent directories.
    void write(std::string_view relative, std::string_view content) const;
    void make_dir(std::string_view relative) const;
    void symlink(std::string_view target, std::string_view relative) const;
    void set_mode(std::string_view relative, std::filesystem::perms mode) const;

private:
    std::filesystem::path base;
};

} // namespace testing_support
