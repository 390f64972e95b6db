#pragma once

// Helpers for the tests that call the file search in-process: the search settings, set and
// restored per test, and standard output captured around a call.

#include "output.hpp"
#include "process.hpp"
#include "search/file_search.hpp"
#include "search/searcher.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace file_search_testing {

using search::searcher;

inline std::string fixture(const std::string& name) {
    return testing_support::test_dir() + "/fixtures/file_search/" + name;
}

using testing_support::capture_stdout;
using testing_support::read_file;

// The settings a plain "pyrn query path" run has, with the query and language given.
class settings {
public:
    explicit settings(std::string query_text,
                      std::vector<const char*> options = {"-x", "c++", "-std=c++17"}) {
        searcher::settings = search::search_settings();
        searcher::settings.rules.query = search::query(std::move(query_text), {});
        searcher::settings.clang_options = std::move(options);
    }
    ~settings() { searcher::settings = search::search_settings(); }
    settings(const settings&) = delete;
    settings& operator=(const settings&) = delete;
};

// Searches one file in-process, as a task would, and returns its standard output.
inline std::string search_file(const std::string& path) {
    return capture_stdout([&] { search::search_file_task(path); });
}

} // namespace file_search_testing
