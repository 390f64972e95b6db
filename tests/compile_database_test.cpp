// Searches with the project's compile_commands.json (-p) on tests/fixtures/compile_commands,
// whose code is visible only with the macros and include directories of its database.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using testing_support::block;
using testing_support::process_result;
using testing_support::temp_tree;

const std::string project = testing_support::test_dir() + "/fixtures/compile_commands";

process_result search(const std::vector<std::string>& arguments) {
    testing_support::process_options in_project;
    in_project.cwd = project;
    return testing_support::run_pyrn(arguments, in_project);
}

std::vector<block> sorted_blocks(const process_result& result) {
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<block> blocks = testing_support::parse_blocks(result.out);
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

// A database of one entry for src/app.cpp, built with GCC.
std::string database_with(const std::string& entry) {
    return "[{\"directory\": \"" + project + "\", \"file\": \"src/app.cpp\", " + entry + "}]";
}

const std::string gcc_entry = database_with(
    R"("arguments": ["g++", "-DWITH_TURBO", "-Ivendor/api", "-fconserve-stack", "-mavx512er", )"
    R"("-c", )"
    R"("src/app.cpp", "-o", "build/app.o", "-MD", "-MF", "build/app.d"])");

TEST(compile_commands, finds_what_only_the_database_makes_visible) {
    temp_tree build;
    build.write("compile_commands.json", gcc_entry);
    // Its own entry for app.cpp, the source's for app.h, the nearest entry for unbuilt.cpp.
    const std::vector<block> turbo = {
        {"./src/app.cpp", 5, 5, "int turbo_speed(int gear) { return gear * 2; }"},
        {"./src/app.h", 4, 6, "struct turbo_settings {\n    int boost;\n}"},
        {"./src/other/unbuilt.cpp", 2, 2, "int turbo_unbuilt() { return 1; }"},
    };
    EXPECT_EQ(sorted_blocks(search({"--nc", "-p", build.path(), "-F", "-C", "turbo", "."})), turbo);
    EXPECT_EQ(search({"--nc", "-F", "-C", "turbo", "."}).out, "\n");

    // w.size() names its member only when widget.h is found.
    const std::vector<block> size = {
        {"./src/app.cpp", 8, 8, "int widget_total(const widget& w) { return w.size() + 1; }"}};
    const std::vector<std::string> references{"--nc", "--function", "--ie", "size", "."};
    std::vector<std::string> with_database{"-p", build.path("compile_commands.json")};
    with_database.insert(with_database.end(), references.begin(), references.end());
    EXPECT_EQ(sorted_blocks(search(with_database)), size);
    EXPECT_EQ(search(references).out, "\n");

    // An entry in another directory: its relative paths are its directory's, those of -I on
    // the command line the working directory's.
    temp_tree elsewhere;
    elsewhere.write(
        "compile_commands.json",
        "[{\"directory\": \"" + project +
            "/src\", \"file\": \"app.cpp\", \"command\": \"cc -DWITH_TURBO app.cpp\"}]");
    with_database = {"-p", elsewhere.path(), "-I", "vendor/api"};
    with_database.insert(with_database.end(), references.begin(), references.end());
    EXPECT_EQ(sorted_blocks(search(with_database)), size);
}

TEST(compile_commands, options_left_out_are_named_when_verbose) {
    temp_tree build;
    build.write("compile_commands.json", gcc_entry);
    const process_result verbose =
        search({"--nc", "--verbose", "-p", build.path(), "-F", "turbo_speed", "."});
    EXPECT_EQ(verbose.status, 0);
    // GCC's own option is no language flag; clang 19 no longer knows a target feature.
    EXPECT_EQ(verbose.err, "pyrn: left out the options that a parse does not need: "
                           "-fconserve-stack\n"
                           "pyrn: left out the options that clang does not take: -mavx512er\n");
    EXPECT_NE(verbose.out.find("int turbo_speed(int gear)"), std::string::npos) << verbose.out;
}

// A cloned project that ships the programs clang's driver runs to ask for the GPU's
// architecture, and a header that only its owner may read.
void write_hostile_project(const temp_tree& project) {
    for (const char* tool : {"tools/nvptx-arch", "tools/amdgpu-arch"}) {
        project.write(tool, "#!/bin/sh\ntouch \"$0.ran\"\necho sm_70\n");
        project.set_mode(tool, std::filesystem::perms::owner_all);
    }
    project.write("tools/options.rsp", "-fopenmp --offload-arch=native -Btools/\n");
    project.write("mod/m.h", "int open_module();\n");
    project.write("mod/module.modulemap", "module m { header \"m.h\" export * }\n");
    project.write("secret.h", "int open_secret();\n");
    project.set_mode("secret.h", std::filesystem::perms::owner_read);
    project.write("main.cpp", "#include \"mod/m.h\"\n#ifdef CLEAN\nint open_clean();\n#endif\n"
                              "int open_main() { return 0; }\n");
    project.write("src/other.cpp", "int open_other() { return 1; }\n"); // takes main's entry
    project.make_dir("home");
}

std::set<std::string> files_below(const std::string& root) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        files.insert(entry.path().native());
    }
    return files;
}

TEST(compile_commands, entries_neither_run_programs_nor_write_files) {
    temp_tree project;
    write_hostile_project(project);
    const struct {
        std::vector<std::string> hostile;
        std::vector<std::string> clean; // what a parse takes of it
    } cases[] = {
        {{"-fopenmp", "--offload-arch=native", "-Btools/"}, {"-fopenmp"}},
        {{"-fopenmp", "--offload-arch=native", "--nvptx-arch-tool=tools/nvptx-arch",
          "--amdgpu-arch-tool=tools/amdgpu-arch"},
         {"-fopenmp"}},
        {{"-x", "cuda", "--cuda-gpu-arch=native", "-Btools/"}, {"-x", "cuda"}},
        {{"@tools/options.rsp"}, {}},
        {{"-Wp,-MD,deps.d"}, {}},
        {{"--write-dependencies", "--output=out"}, {}},
        {{"-H", "-Xclang", "-header-include-file", "-Xclang", "headers.txt"}, {}},
        {{"-fmodules", "-fmodules-cache-path=modules"}, {}},
        {{"-fmodules"}, {}}, // into $HOME/.cache
        {{"-include", "secret.h", "-Xclang", "-module-dependency-dir", "-Xclang", "copies"},
         {"-include", "secret.h"}},
        {{"-fplugin=tools/plugin.so", "-Xclang", "-load", "-Xclang", "tools/plugin.so"}, {}},
    };
    std::map<std::vector<std::string>, std::vector<block>> clean_runs;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.hostile));
        auto search_with = [&](const std::vector<std::string>& options) {
            std::vector<std::string> arguments{"clang++", "-DCLEAN"};
            arguments.insert(arguments.end(), options.begin(), options.end());
            arguments.insert(arguments.end(), {"-c", "main.cpp", "-o", "main.o"});
            const nlohmann::json entry = {
                {"directory", project.path()}, {"file", "main.cpp"}, {"arguments", arguments}};
            project.write("build/compile_commands.json", nlohmann::json::array({entry}).dump());
            testing_support::process_options in_project;
            in_project.cwd = project.path();
            return sorted_blocks(testing_support::run_process(
                {"env", "HOME=" + project.path("home"), testing_support::pyrn_binary(), "--nc",
                 "-p", "build", "open", "."},
                in_project));
        };
        auto known = clean_runs.find(c.clean);
        if (known == clean_runs.end()) {
            known = clean_runs.emplace(c.clean, search_with(c.clean)).first;
        }
        const std::vector<block>& clean = known->second;
        EXPECT_EQ(clean.size(), 5u); // main's two, the module's, the secret's, other's
        const std::set<std::string> files = files_below(project.path());
        EXPECT_EQ(search_with(c.hostile), clean);
        EXPECT_EQ(files_below(project.path()), files);
    }
}

TEST(compile_commands, unusable_databases_end_the_run_with_one_line) {
    temp_tree build;
    build.make_dir("empty");
    build.write("bad_json/compile_commands.json", "[{\"directory\": ");
    build.write("not_a_list/compile_commands.json", "{\"directory\": \"/\"}");
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {build.path("missing"), build.path("missing") + ": No such file or directory"},
        {build.path("empty"), build.path("empty") + ": no compile_commands.json in this directory"},
        {build.path("bad_json"), build.path("bad_json/compile_commands.json") + ": "},
        {build.path("not_a_list/compile_commands.json"),
         build.path("not_a_list/compile_commands.json") + ": Expected array."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const process_result result = search({"--nc", "-p", c.path, "-F", "turbo", "."});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("pyrn: " + c.message, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

TEST(compile_commands, entries_without_arguments_or_directory_fall_back_to_the_guessed_flags) {
    temp_tree build;
    build.write("compile_commands.json",
                "[{\"directory\": \"" + project +
                    "\", \"file\": \"src/app.cpp\", \"arguments\": []},"
                    "{\"directory\": \"" +
                    build.path("gone") + "\", \"file\": \"" + project +
                    "/src/other/unbuilt.cpp\", \"arguments\": [\"cc\", \"-DWITH_TURBO\"]}]");
    const std::vector<std::string> query{"--nc", "-F", "-C", "t", "."};
    std::vector<std::string> with_database{"-p", build.path()};
    with_database.insert(with_database.end(), query.begin(), query.end());
    const std::vector<block> guessed = sorted_blocks(search(query));
    EXPECT_FALSE(guessed.empty());
    EXPECT_EQ(sorted_blocks(search(with_database)), guessed);
}

// A file of the other language borrows no standard from its stand-in: libclang refuses a C file
// with -std=c++17, and a C++ file with -std=c11, and the whole search would end.
TEST(compile_commands, a_stand_in_of_the_other_language_lends_no_standard) {
    temp_tree tree;
    tree.write("cpp/app.cpp", "int lent_app() { return 0; }\n");
    tree.write("cpp/util.c", "int lent_util(void) { return 1; }\n");
    tree.write("c/tool.c", "int lent_tool(void) { return 2; }\n");
    tree.write("c/extra.cpp", "int lent_extra() { return 3; }\n");
    const nlohmann::json entries = {{{"directory", tree.path("cpp")},
                                     {"file", "app.cpp"},
                                     {"arguments", {"clang++", "-std=c++17", "-c", "app.cpp"}}},
                                    {{"directory", tree.path("c")},
                                     {"file", "tool.c"},
                                     {"arguments", {"clang", "-std=c11", "-c", "tool.c"}}}};
    tree.write("build/compile_commands.json", entries.dump());
    const process_result result =
        testing_support::run_pyrn({"--nc", "-p", tree.path("build"), "-F", "lent_", tree.path()});
    std::vector<std::string> found;
    for (const block& b : sorted_blocks(result)) {
        found.push_back(b.text);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"int lent_app() { return 0; }",
                                               "int lent_extra() { return 3; }",
                                               "int lent_tool(void) { return 2; }",
                                               "int lent_util(void) { return 1; }"}));
}

TEST(headers, are_parsed_as_headers_so_an_include_cycle_keeps_their_declarations) {
    const process_result result = search({"--nc", "--member-function", "next_number", "cycle"});
    EXPECT_EQ(result.out, "\n// cycle/first.h (Line: 7 to 7)\n"
                          "int next_number() const { return value + 1; }\n\n");
}

} // namespace
