#include "app/command_line.hpp"
#include "base/standard_streams.hpp"
#include "base/worker_process.hpp"
#include "search/parse_worker.hpp"

#include <malloc.h>

int main(int argc, char** argv) {
    // A parse worker that the search started: its own set-up, no command line.
    if (argc > 1 && argv[1] == search::worker_mode_word) {
        return search::serve_parse_requests(argc, argv);
    }
    search::allow_parse_workers();
    // A warm search reads a cache entry of some hundred KiB per file: from the heap, and kept
    // there when freed, their pages are taken once, not mapped and faulted in for each.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    // Before anything is opened: a closed descriptor 1 or 2 would be the next file's number.
    if (!search::open_standard_streams()) {
        return 2;
    }
    return pyrn::run(argc, argv);
}
