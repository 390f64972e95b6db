// Nothing missing, nothing twice, on tests/fixtures/fidelity: declarations whose first tokens a
// macro wrote, cursors that the visit reaches twice, and qualified queries. Each search runs
// in every output format, then again answered from a warm cache, against one golden file.
// PYRN_UPDATE_GOLDEN=1 rewrites the golden files from the actual output.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing_support::process_result;

struct fidelity_case {
    const char* name;
    const char* file;
    std::vector<std::string> arguments; // the query comes last
};

std::ostream& operator<<(std::ostream& out, const fidelity_case& c) {
    return out << c.name;
}

const fidelity_case cases[] = {
    // The snippet, the column and the cache's record start at the macro that opens the
    // declaration; a function whose name a macro wrote stays out.
    {"macro_prefixed_c", "prefixed.c", {"-l", "c", "-F", "_function"}},
    {"macro_prefixed_alloc_func", "prefixed.c", {"-l", "c", "-F", "-E", "curl_dbg_malloc"}},
    {"macro_prefixed_cuda_kernels", "kernel.cu", {"-F", "kernel"}},
    // A tag inside its typedef or inside a field, and the fields inside it, print once.
    {"repeated_tags", "typedefs.c", {"-l", "c", "--struct", "--enum", "--union", ""}},
    {"repeated_fields", "typedefs.c", {"-l", "c", "--struct", "--ie", ""}},
    {"repeated_text_search", "typedefs.c", {"-l", "c", "point"}},
    // The method and its callers, not its parameters and locals; -E keeps the references.
    {"qualified_callers", "cache.cpp", {"--ie", "--member-function", "Cache::Get"}},
    {"qualified_exact_callers", "cache.cpp", {"--ie", "-E", "--member-function", "ns::Cache::Get"}},
    {"qualified_regex_callers",
     "cache.cpp",
     {"--ie", "-E", "--regex", "--member-function", "ns::Cache::Get(All)?"}},
    // A leading "::" anchors at the global scope.
    {"qualified_anchored", "cache.cpp", {"--ie", "-F", "::Cache::Get"}},
    {"qualified_anchored_without_case", "cache.cpp", {"-i", "--ie", "-F", "::NS::cache::get"}},
    // References, casts and loops written as a macro's argument, each once however often the
    // macro expands it; nothing that a macro's body or a pasted name makes.
    {"macro_argument_references", "macro_arguments.cpp", {"--ie", "--function", "level"}},
    {"macro_argument_casts", "macro_arguments.cpp", {"-c", "level"}},
    {"macro_argument_loops", "macro_arguments.cpp", {"--for-statement", "step"}},
    {"macro_body_references", "macro_arguments.cpp", {"--ie", "--function", "_"}},
    // A range-for's hidden __begin1 and the operators it calls; anonymous records.
    {"implied_references", "implicit.cpp", {"--ie", "--function", "e"}},
    {"implied_operators", "implicit.cpp", {"--ie", "--function", "operator"}},
    {"records_without_names", "implicit.cpp", {"-C", "--enum", "--union", ""}},
    {"no_made_up_names", "implicit.cpp", {"-C", "--enum", "--union", "unnamed"}},
    // CUDA by its suffix: kernels with launch bounds, and launches with their arguments.
    {"cuda_kernels", "launch.cu", {"-F", "kernel"}},
    {"cuda_launches", "launch.cu", {"--ie", "--function", "values"}},
    // Partial specializations are class templates, by their own option, by -C and by default.
    {"partial_specializations", "kinds.cpp", {"--class-template", "Box"}},
    {"partial_specializations_among_classes", "kinds.cpp", {"-C", "Box"}},
    {"partial_specializations_by_default", "kinds.cpp", {"Box"}},
    // The opt-in kinds: enumerators, the file's own macros (the whole directive), lambdas by
    // their text, namespaces (a nested definition is one, found by each of its names).
    {"enum_constants", "kinds.cpp", {"--enum-constant", "box"}},
    {"macro_definitions", "kinds.cpp", {"--macro", "BOX"}},
    {"lambdas", "kinds.cpp", {"--lambda", "box"}},
    {"namespaces", "kinds.cpp", {"--namespace", ""}},
    {"nested_namespace_by_inner_name", "kinds.cpp", {"--namespace", "-E", "inner_box"}},
};

std::vector<std::string> arguments(const fidelity_case& c,
                                   const std::vector<std::string>& options) {
    std::vector<std::string> all{"-j", "1", "-f", std::string("./") + c.file};
    all.insert(all.end(), options.begin(), options.end());
    all.insert(all.end(), c.arguments.begin(), c.arguments.end());
    all.push_back(".");
    return all;
}

const std::string fixture_dir = testing_support::test_dir() + "/fixtures/fidelity";

// With a cache, the search must be answered from it: the dynamic loader, asked to list what it
// loads, must not load libclang.
process_result search(const fidelity_case& c, const std::string& format, const std::string& cache) {
    if (cache.empty()) {
        const process_result result =
            testing_support::run_pyrn(arguments(c, {format}), {fixture_dir});
        EXPECT_EQ(result.err, "");
        return result;
    }
    std::vector<std::string> argv{"env", "LD_DEBUG=files", testing_support::pyrn_binary()};
    for (std::string& argument : arguments(c, {format, "--cache", cache})) {
        argv.push_back(std::move(argument));
    }
    const process_result result = testing_support::run_process(argv, {fixture_dir});
    EXPECT_EQ(result.err.find("libclang"), std::string::npos) << "parsed instead";
    return result;
}

// The outputs of the four formats, one after the other under their options.
std::string every_format(const fidelity_case& c, const std::string& cache = "") {
    std::string all;
    for (const char* format : {"--nc", "--json", "--vimgrep", "--files-with-matches"}) {
        const process_result result = search(c, format, cache);
        EXPECT_EQ(result.status, 0) << format;
        all += std::string("== ") + format + "\n" + result.out;
    }
    return all;
}

class fidelity : public testing::TestWithParam<fidelity_case> {};

TEST_P(fidelity, every_format_and_a_warm_cache_give_the_golden_output) {
    const fidelity_case& c = GetParam();
    const std::string fresh = every_format(c);
    EXPECT_EQ(fresh, testing_support::golden("fidelity/" + std::string(c.name) + ".out", fresh));
    testing_support::temp_tree cache;
    testing_support::run_pyrn(arguments(c, {"--files-with-matches", "--cache", cache.path("c")}),
                              {fixture_dir});
    EXPECT_EQ(every_format(c, cache.path("c")), fresh);
}

INSTANTIATE_TEST_SUITE_P(fixtures, fidelity, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<fidelity_case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
