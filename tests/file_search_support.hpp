#pragma once

// Helpers for the tests that call the file search in-process: the search settings, set and
// restored per test, and standard output captured around a call.

#include "core/searcher.hpp"
#include "output.hpp"
#include "process.hpp"
#include "search/file_search.hpp"

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
                      std::vector<const char*> options = {"-x", "c++", "-std=c++17"})
        : query(std::move(query_text)) {
        searcher::query = query;
        searcher::clang_options = std::move(options);
        searcher::verbose = false;
        searcher::exact_match = false;
        searcher::ignore_single_line_results = false;
        searcher::use_color = false;
        searcher::kinds = search::kind_choice();
    }
    ~settings() {
        searcher::query = {};
        searcher::clang_options.clear();
    }
    settings(const settings&) = delete;
    settings& operator=(const settings&) = delete;

private:
    std::string query;
};

// Searches one file in-process, as a task would, and returns its standard output.
inline std::string search_file(const std::string& path) {
    return capture_stdout([&] { search::search_file_task(path); });
}

} // namespace file_search_testing
