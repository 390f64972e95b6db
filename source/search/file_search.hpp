#pragma once

// The road of one file: read, pre-filter, answer from the cache or parse, decide, report.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

struct stat;

namespace search {

class held_output;

// The body of one file task: reads the file and searches it, holding its output on standard
// output in held when that is given. Failures are reported on standard error and end only
// this file's search. A file whose bytes' hash is known, unchanged since, is not read when the
// cache's entry for those bytes could hold no match.
void search_file_task(const std::string& path, held_output* held = nullptr,
                      std::optional<std::uint64_t> known_hash = {}) noexcept;

} // namespace search
