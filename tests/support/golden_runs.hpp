#pragma once

// The whole runs on tests/fixtures/search_run whose outputs are kept under
// tests/golden/search_run: one table for every test that compares another road or format with
// them.

#include "process.hpp"

#include <string>
#include <vector>

namespace testing_support {

inline std::string search_run_tree() {
    return test_dir() + "/fixtures/search_run";
}

// The order in which a directory lists its entries is the file system's: each file is
// searched on its own (selected by the filter) and the outputs are joined in this order.
inline const char* const search_run_files[] = {"./src/shapes.cpp", "./src/util.h",
                                               "./src/kernels/scale.cu", "./lib/include/config.h"};

struct run_case {
    const char* name;
    std::vector<std::string> arguments; // query and options; the path is "."
};

inline const run_case run_cases[] = {
    // Without a kind option every kind is searched by its text, nested matches included.
    {"text_search", {"count"}},
    {"functions_by_name", {"-F", "count"}},
    {"classes_exact", {"-C", "-E", "polygon"}},
    {"references", {"--function", "--ie", "count"}},
    {"casts_and_throws", {"-c", "--throw-expression", "double"}},
    {"declarations",
     {"--enum", "--union", "--typedef", "--using-declaration", "--namespace-alias", ""}},
    {"constructors_and_destructors", {"--class-constructor", "--class-destructor", "polygon"}},
    {"multi_line_only", {"--isl", "-F", ""}},
    {"nothing_found", {"-F", "no_such_function"}},
};

// pyrn run in the fixture tree with the arguments.
inline process_result search_in_run_tree(const std::vector<std::string>& arguments,
                                         const process_options& options = {}) {
    process_options in_tree = options;
    in_tree.cwd = search_run_tree();
    return run_pyrn(arguments, in_tree);
}

} // namespace testing_support
