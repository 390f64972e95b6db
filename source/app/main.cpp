#include "app/command_line.hpp"
#include "base/standard_streams.hpp"
#include "base/worker_process.hpp"
#include "search/parse_worker.hpp"

int main(int argc, char** argv) {
    // A parse worker that the search started: its own set-up, no command line.
    if (argc > 1 && argv[1] == search::worker_mode_word) {
        return search::serve_parse_requests(argc, argv);
    }
    search::allow_parse_workers();
    // Before anything is opened: a closed descriptor 1 or 2 would be the next file's number.
    if (!search::open_standard_streams()) {
        return 2;
    }
    return pyrn::run(argc, argv);
}
