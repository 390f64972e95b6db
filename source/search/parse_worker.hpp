#pragma once

// libclang parses in worker processes, one per thread of the pool at most, each started when
// its thread first needs a parse. A worker gets a file's path, arguments and bytes, and sends
// back the file's cursor records; the search decides on them as on the cache's. A worker that
// crashes, runs past the time limit of a parse or out of memory is replaced, and the file is
// named on standard error.

#include "cache/parse_messages.hpp"

#include <string_view>

namespace search {

struct file_arguments;

// The hidden mode's main: serves requests until the search closes the channel.
int serve_parse_requests(int argc, char** argv);

// Lets the search start parse workers: only a binary whose main serves them (by
// serve_parse_requests) may, since a worker is that binary run again. Without, files are
// parsed in the search's own process. Before the search starts.
void allow_parse_workers() noexcept;

enum class worker_answer {
    replied,    // in reply
    lost,       // the worker crashed, ran too long or out of memory: named and counted
    unavailable // no worker could be started: the file is to be parsed here
};

// Parses the file in this thread's worker, through its indexing session when indexed, with the
// parse's dependencies when dependencies is set.
worker_answer parse_in_worker(std::string_view path, const file_arguments& arguments, bool indexed,
                              std::string_view content, bool dependencies, parse_reply& reply);

} // namespace search
