#include "cache/cache_place.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace search {

namespace {

namespace fs = std::filesystem;

constexpr mode_t others_write = S_IWGRP | S_IWOTH;

bool refuse(refusal& why, std::string subject, std::string reason) {
    why = {std::move(subject), std::move(reason)};
    return false;
}

bool make_directory(const std::string& dir, refusal& why) {
    std::error_code error;
    const fs::path parent = fs::path(dir).parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, error); // a failure shows in the mkdir below
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return refuse(why, dir, std::strerror(errno));
    }
    return true;
}

// The names of path, last first.
std::vector<std::string> names_of(const std::string& path) {
    std::vector<std::string> names;
    for (const fs::path& name : fs::path(path)) {
        if (name != "/" && !name.empty()) {
            names.push_back(name.native());
        }
    }
    std::reverse(names.begin(), names.end());
    return names;
}

// Follows dir name by name as the kernel does, and every symbolic link on the way: one in a
// sticky folder that others can write (as /tmp) is followed only when it belongs to the user or
// to the folder's owner, as the kernel's protected_symlinks has it, since whoever owns it can
// point it elsewhere at any time. The real path alone cannot tell.
bool has_trusted_links(const std::string& dir, refusal& why) {
    constexpr int most_links = 40; // as the kernel: ELOOP beyond
    std::vector<std::string> pending = names_of(dir);
    std::string at = !dir.empty() && dir.front() == '/' ? "/" : ".";
    for (int links = 0; !pending.empty();) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        const std::string next = at == "/" ? "/" + name : at + "/" + name;
        struct stat entry {};
        if (lstat(next.c_str(), &entry) != 0) {
            // What is missing is made as folders, no links.
            return errno == ENOENT || refuse(why, dir, std::strerror(errno));
        }
        if (!S_ISLNK(entry.st_mode)) {
            at = next;
            continue;
        }
        struct stat folder {};
        if (++links > most_links || stat(at.c_str(), &folder) != 0) {
            return refuse(why, dir, std::strerror(links > most_links ? ELOOP : errno));
        }
        const bool shared_sticky = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH);
        if (shared_sticky && entry.st_uid != geteuid() && entry.st_uid != folder.st_uid) {
            return refuse(why, dir,
                          next + " is a symbolic link of another user in a sticky folder");
        }
        std::error_code error;
        const std::string target = fs::read_symlink(next, error).native();
        if (error) {
            return refuse(why, dir, error.message());
        }
        if (!target.empty() && target.front() == '/') {
            at = "/";
        }
        for (std::string& target_name : names_of(target)) {
            pending.push_back(std::move(target_name)); // before the names after the link
        }
    }
    return true;
}

std::string real_path(const std::string& dir, refusal& why) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(dir.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) {
        refuse(why, dir, std::strerror(errno));
        return {};
    }
    return resolved.get();
}

bool is_private_directory(const std::string& real, const std::string& dir, refusal& why) {
    struct stat info {};
    if (lstat(real.c_str(), &info) != 0) {
        return refuse(why, dir, std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        return refuse(why, dir, std::strerror(ENOTDIR));
    }
    if (info.st_uid != geteuid()) {
        return refuse(why, dir, "it belongs to another user");
    }
    if ((info.st_mode & others_write) != 0) {
        return refuse(why, dir, "other users can write to it");
    }
    if (access(real.c_str(), W_OK | X_OK) != 0) {
        return refuse(why, dir, std::strerror(errno));
    }
    return true;
}

// Whoever can write a directory above can rename the cache away and put another in its place;
// in a sticky directory (/tmp) only the owner of an entry can.
bool has_safe_ancestors(const std::string& real, const std::string& dir, refusal& why) {
    for (fs::path above = fs::path(real).parent_path();; above = above.parent_path()) {
        struct stat info {};
        if (lstat(above.c_str(), &info) != 0) {
            return refuse(why, dir, std::strerror(errno));
        }
        const bool trusted_owner = info.st_uid == geteuid() || info.st_uid == 0;
        const bool others_can_replace =
            (info.st_mode & others_write) != 0 && (info.st_mode & S_ISVTX) == 0;
        if (!trusted_owner || others_can_replace) {
            return refuse(why, dir, "another user can change " + above.native());
        }
        if (!above.has_relative_path()) {
            return true;
        }
    }
}

// The database and SQLite's files beside it, those that exist, taken as they are: a link is
// not followed anywhere.
bool are_private_files(const std::string& database, const std::string& shown, refusal& why) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string path = database + suffix;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                continue;
            }
            return refuse(why, shown + suffix, std::strerror(errno));
        }
        const char* problem = nullptr;
        if (S_ISLNK(info.st_mode)) {
            problem = "it is a symbolic link";
        } else if (!S_ISREG(info.st_mode)) {
            problem = "it is not a regular file";
        } else if (info.st_uid != geteuid()) {
            problem = "it belongs to another user";
        } else if ((info.st_mode & others_write) != 0) {
            problem = "other users can write to it";
        }
        if (problem != nullptr) {
            return refuse(why, shown + suffix, problem);
        }
    }
    return true;
}

// SQLite would create it readable by everyone; its files beside it take its mode.
bool create_database(const std::string& database, const std::string& shown, refusal& why) {
    const int fd =
        ::open(database.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    // Already there (checked above), or made by another pyrn just now in a directory that
    // only this user can write.
    return errno == EEXIST || refuse(why, shown, std::strerror(errno));
}

} // namespace

std::string private_database_path(const std::string& dir, refusal& why) {
    // Nothing is made through a link that someone else can point elsewhere.
    if (!has_trusted_links(dir, why) || !make_directory(dir, why)) {
        return {};
    }
    const std::string real = real_path(dir, why);
    if (real.empty() || !is_private_directory(real, dir, why) ||
        !has_safe_ancestors(real, dir, why)) {
        return {};
    }
    const std::string database = (fs::path(real) / database_name).native();
    const std::string shown = (fs::path(dir) / database_name).native();
    if (!are_private_files(database, shown, why) || !create_database(database, shown, why)) {
        return {};
    }
    return database;
}

std::string private_database_beside(const std::string& database, const std::string& dir,
                                    const char* name, refusal& why) {
    const std::string beside = (fs::path(database).parent_path() / name).native();
    const std::string shown = (fs::path(dir) / name).native();
    if (!are_private_files(beside, shown, why) || !create_database(beside, shown, why)) {
        return {};
    }
    return beside;
}

} // namespace search
