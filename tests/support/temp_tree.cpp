#include "temp_tree.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace testing_support {

namespace fs = std::filesystem;

temp_tree::temp_tree() {
    std::string pattern = (fs::temp_directory_path() / "pyrn-test-XXXXXX").native();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    base = pattern;
    // Tests may run pyrn as another user, who must be able to enter the tree.
    fs::permissions(base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

temp_tree::~temp_tree() {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(
             base, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink(error) && it->is_directory(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
    fs::remove_all(base, error);
}

std::string temp_tree::path(std::string_view relative) const {
    return relative.empty() ? base.native() : (base / relative).native();
}

void temp_tree::write(std::string_view relative, std::string_view content) const {
    fs::path file = base / relative;
    fs::create_directories(file.parent_path());
    std::ofstream stream(file, std::ios::binary);
    stream.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!stream) {
        throw std::runtime_error("cannot write " + file.native());
    }
}

void temp_tree::make_dir(std::string_view relative) const {
    fs::create_directories(base / relative);
}

void temp_tree::symlink(std::string_view target, std::string_view relative) const {
    fs::path link = base / relative;
    fs::create_directories(link.parent_path());
    fs::create_symlink(fs::path(target), link);
}

void temp_tree::set_mode(std::string_view relative, fs::perms mode) const {
    fs::permissions(base / relative, mode);
}

} // namespace testing_support
