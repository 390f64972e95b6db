#pragma once

// The files that libgit2 reads for a repository's ignore rules, judged before it reads them: one
// that is not a regular file (a named pipe would block the read for ever) or that holds a
// pattern too costly to match is refused.

#include <string>

struct git_repository;

namespace search {

// Why libgit2 must not read the ignore file at path; empty when it may, or when the file cannot
// be opened, which libgit2 then reports itself.
std::string ignore_file_problem(const std::string& path);

// Throws std::runtime_error, naming the file, when libgit2 must not read the ignore file at path.
void check_ignore_file(const std::string& path);

// Throws std::runtime_error, naming the file, when libgit2 must not read what it reads on opening
// the repository whose git folder is git_dir (its config, with the files that includes) or its
// info/exclude.
void check_repository_files(const std::string& git_dir);

// The repository's file of global ignore rules: core.excludesFile, or where git looks without it.
std::string global_excludes(git_repository* repository);

} // namespace search
