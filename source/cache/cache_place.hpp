#pragma once

// Where a cache may live. Whoever can write a cache decides what a search prints, so it is used
// only in a directory that no one but the user can change, in files no one else can write.

#include <string>

namespace search {

// Why a place was refused, for the line "pyrn: SUBJECT: REASON".
struct refusal {
    std::string subject;
    std::string reason;
};

// The name of the database in a cache directory, and of SQLite's files beside it.
inline constexpr const char* database_name = "cursors.sqlite";

// Creates dir (0700) with its parents, and the database (0600), when they are missing, unless a
// symbolic link on the way to dir lies in a sticky folder that others can write and belongs to
// neither the user nor that folder's owner. Returns the database's path below dir's real path
// when dir belongs to the user and no one else can write it, every directory above it belongs to
// the user or root and no one else can write it (unless it is sticky, as /tmp), and the database
// and SQLite's files beside it, those that exist, are regular files of the user that no one else
// can write. Otherwise returns nothing and says why.
std::string private_database_path(const std::string& dir, refusal& why);

// Another database named name beside database, a path that private_database_path returned, made
// and checked as that one is; dir is the directory as given, for what is said.
std::string private_database_beside(const std::string& database, const std::string& dir,
                                    const char* name, refusal& why);

} // namespace search
