// Searches with the project's compile_commands.json (-p) on tests/fixtures/compile_commands,
// whose code is visible only with the macros and include directories of its database.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include "clang/database_file.hpp"

#include <clang-c/CXCompilationDatabase.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

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

// A project's entries share a few lists of options: each list left out is named once, however
// many files it comes with, in the order the entries first bring it.
TEST(compile_commands, each_distinct_list_left_out_is_named_once) {
    temp_tree tree;
    nlohmann::json entries = nlohmann::json::array();
    const std::vector<std::string> shared = {"-Wall", "-fconserve-stack", "-mavx512er"};
    for (const char* name : {"one", "two", "three", "four"}) {
        const std::string file = std::string(name) + ".cpp";
        tree.write(file, std::string("int listed_") + name + "() { return 0; }\n");
        std::vector<std::string> arguments{"clang++"};
        if (std::string(name) == "three") {
            arguments.push_back("-Wextra");
        } else {
            arguments.insert(arguments.end(), shared.begin(), shared.end());
        }
        arguments.insert(arguments.end(), {"-c", file});
        entries.push_back({{"directory", tree.path()}, {"file", file}, {"arguments", arguments}});
    }
    tree.write("build/compile_commands.json", entries.dump());
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    const process_result verbose = testing_support::run_pyrn(
        {"--nc", "--verbose", "-j", "1", "-p", "build", "-F", "listed_", "."}, in_tree);
    EXPECT_EQ(verbose.status, 0);
    for (const char* name : {"one", "two", "three", "four"}) {
        EXPECT_NE(verbose.out.find(std::string("int listed_") + name), std::string::npos) << name;
    }
    EXPECT_EQ(verbose.err, "pyrn: left out the options that a parse does not need: "
                           "-Wall -fconserve-stack\n"
                           "pyrn: left out the options that a parse does not need: -Wextra\n"
                           "pyrn: left out the options that clang does not take: -mavx512er\n");
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

// clang's own reader, against which pyrn's is held: entries without "@" arguments, which it
// would expand.
std::vector<search::database_entry> entries_as_clang_reads_them(const std::string& directory) {
    CXCompilationDatabase_Error error = CXCompilationDatabase_NoError;
    CXCompilationDatabase database =
        clang_CompilationDatabase_fromDirectory(directory.c_str(), &error);
    EXPECT_NE(database, nullptr);
    std::vector<search::database_entry> entries;
    CXCompileCommands all = clang_CompilationDatabase_getAllCompileCommands(database);
    auto text = [](CXString string) {
        std::string copy = clang_getCString(string);
        clang_disposeString(string);
        return copy;
    };
    for (unsigned i = 0; i < clang_CompileCommands_getSize(all); ++i) {
        CXCompileCommand command = clang_CompileCommands_getCommand(all, i);
        search::database_entry& entry = entries.emplace_back();
        entry.directory = text(clang_CompileCommand_getDirectory(command));
        entry.file = text(clang_CompileCommand_getFilename(command));
        for (unsigned k = 0; k < clang_CompileCommand_getNumArgs(command); ++k) {
            entry.arguments.push_back(text(clang_CompileCommand_getArg(command, k)));
        }
    }
    clang_CompileCommands_dispose(all);
    clang_CompilationDatabase_dispose(database);
    return entries;
}

TEST(compile_commands, entries_are_read_as_clang_reads_them) {
    // Raw JSON of each entry's command: quotes, escapes and spaces as clang splits them, the
    // driver mode that clang adds by the compiler's name, scalars that are no strings.
    const std::vector<std::string> commands = {
        R"("command": "cc -DX=\"a b\" -DY=a\\ b '-DZ=\"q\"' a.c")",
        R"("command": "  cc   \"\" ''  a.c  ")",
        R"("command": "cc \"unterminated a.c")",
        R"("command": "cc 'unterminated a.c")",
        R"("command": "cc trailing\\")",
        R"("command": "cc \"in\\\"side\" 'sin\\gle' out\\'side a.c")",
        R"("command": "cc tab\there\nline a.c")",
        R"("command": "cc 'mixed'\"quotes\"free' 'x a.c")",
        R"("command": "")",
        R"("command": "   ")",
        R"("arguments": ["g++ -DONE_STRING a.c"])",
        R"("arguments": ["g++", "-D A B", "a.c"])",
        R"("arguments": [])",
        R"("arguments": [""])",
        R"("arguments": ["cc", 1, 18446744073709551615, -7, 1.50, 2e10, true, false, null])",
        R"("arguments": ["a.c", "a.c"], "command": "ignored")",
        R"("command": "first", "command": "second")",
        R"("command": "cc a.c", "output": "a.o")",
        R"("command": "cc a.c")",
    };
    const std::vector<std::string> compilers = {"clang-cl",
                                                "cl",
                                                "cpp",
                                                "clang-cpp",
                                                "flang",
                                                "flang-new",
                                                "clang-dxc",
                                                "g++",
                                                "c++",
                                                "/usr/bin/x86_64-linux-gnu-g++-12",
                                                "x86_64-linux-gnu-gcc",
                                                "clang++-19",
                                                "clang++3.5",
                                                "clang++-tot",
                                                "g++.exe",
                                                "gcc-ar",
                                                "clang-tidy",
                                                "nvcc",
                                                "ccache",
                                                "foo-clang-cl",
                                                "x86_64-pc-linux-gnu-clang-cpp",
                                                "-g++",
                                                "x-",
                                                "c++-",
                                                "clang+",
                                                "clang-19",
                                                "",
                                                "/"};
    std::string database = "[";
    for (const std::string& command : commands) {
        database += R"({"directory": "/tmp", "file": "a.c", )" + command + "},";
    }
    for (const std::string& compiler : compilers) {
        const nlohmann::json entry = {
            {"directory", "dir"}, {"file", "../b.c"}, {"arguments", {compiler, "-c", "b.c"}}};
        database += entry.dump() + ",";
    }
    database +=
        R"({"directory": "/tmp", "file": "c.c", "arguments": ["g++", "--driver-mode=gcc"]},)";
    database += R"({"directory": 5, "file": null, "command": "cc c.c"}])";
    temp_tree build;
    build.write("compile_commands.json", database);
    const std::vector<search::database_entry> ours =
        search::parse_database(build.path("compile_commands.json"), database);
    const std::vector<search::database_entry> clangs = entries_as_clang_reads_them(build.path());
    ASSERT_EQ(ours.size(), clangs.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(i < commands.size() ? commands[i]
                                         : testing::PrintToString(clangs[i].arguments));
        EXPECT_EQ(ours[i].directory, clangs[i].directory);
        EXPECT_EQ(ours[i].file, clangs[i].file);
        EXPECT_EQ(ours[i].arguments, clangs[i].arguments);
    }
}

TEST(compile_commands, databases_are_refused_as_clang_refuses_them) {
    temp_tree build;
    const std::string entry = R"({"directory": "/", "file": "a.c", "command": "cc a.c")";
    const struct {
        std::string content;
        std::string reason;
    } cases[] = {
        {"", "Expected array."},
        {" \n", "Expected array."},
        {"5", "Expected array."},
        {"[1]", "Expected object."},
        {"[[]]", "Expected object."},
        {"[" + entry + "}, 1]", "Expected object."},
        {R"([{"directory": "/", "command": "cc a.c"}])", "Missing key: \"file\"."},
        {R"([{"directory": "/", "file": "a.c"}])", "Missing key: \"command\" or \"arguments\"."},
        {R"([{"file": "a.c", "command": "cc a.c"}])", "Missing key: \"directory\"."},
        {"[" + entry + R"(, "foo": 1}])", "Unknown key: \"\"foo\"\""},
        {R"([{"directory": "/", "file": "a.c", "arguments": "cc a.c"}])",
         "Expected sequence as value."},
        {R"([{"directory": "/", "file": "a.c", "arguments": {}}])", "Expected sequence as value."},
        {R"([{"directory": "/", "file": "a.c", "arguments": ["cc", ["x"]]}])",
         "Only strings are allowed in 'arguments'."},
        {R"([{"directory": "/", "file": "a.c", "command": ["cc"]}])", "Expected string as value."},
        {R"([{"directory": {}, "file": "a.c", "command": "cc"}])", "Expected string as value."},
        // Not JSON; clang's reader takes some of this for YAML, pyrn names the place.
        {"[{\"directory\": ", "not valid JSON at line 1, column 16"},
        {"[\n" + entry + "},\n]", "not valid JSON at line 3, column 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        build.write("build/compile_commands.json", c.content);
        const process_result result =
            search({"--nc", "-p", build.path("build"), "-F", "turbo", "."});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err,
                  "pyrn: " + build.path("build/compile_commands.json") + ": " + c.reason + "\n");
    }
    // Only a regular file is read: a FIFO would hold the search, a device never end.
    build.make_dir("fifo");
    ASSERT_EQ(mkfifo(build.path("fifo/compile_commands.json").c_str(), 0600), 0);
    build.make_dir("folder/compile_commands.json");
    for (const std::string folder : {"fifo", "folder"}) {
        const process_result result =
            search({"--nc", "-p", build.path(folder), "-F", "turbo", "."});
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "pyrn: " + build.path(folder + "/compile_commands.json") +
                                  ": not a regular file\n");
    }
}

// A response file ("@file") is an argument like any other that a parse does not take: never
// read, so neither its options nor its bytes reach the parse or the terminal, and a FIFO named
// there does not hold the search.
TEST(compile_commands, response_files_are_never_read) {
    temp_tree tree;
    tree.write("main.cpp", "#ifdef FROM_RESPONSE_FILE\nint secret_visible() { return 0; }\n"
                           "#endif\nint secret_always() { return 1; }\n");
    tree.write("options.rsp", "-DFROM_RESPONSE_FILE -fsecret-value=hunter2\n");
    ASSERT_EQ(mkfifo(tree.path("pipe.rsp").c_str(), 0600), 0);
    tree.write(
        "build/compile_commands.json",
        R"([{"directory": ")" + tree.path() +
            R"(", "file": "main.cpp", )"
            R"("command": "clang++ @options.rsp @pipe.rsp -Wall -fplugin=x.so -c main.cpp"}])");
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    const process_result result = testing_support::run_pyrn(
        {"--nc", "--verbose", "-p", "build", "-F", "secret_", "."}, in_tree);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Checking ./main.cpp\n\n// ./main.cpp (Line: 4 to 4)\n"
                          "int secret_always() { return 1; }\n\n");
    EXPECT_EQ(result.err, "pyrn: left out the options that a parse does not need: "
                          "@... @... -Wall -fplugin\n");
}

// The commands kept in a shared cache are those of one checkout: another with the same bytes
// in its database (directories named relative to it) has its own.
TEST(compile_commands, another_checkout_never_takes_the_kept_commands) {
    temp_tree places;
    for (const char* checkout : {"first", "second"}) {
        places.write(std::string(checkout) + "/src/main.cpp",
                     "#include \"api.h\"\n#ifdef HAVE_TURBO\nint turbo_visible() { return 0; }\n"
                     "#endif\nint turbo_always() { return 1; }\n");
        places.write(std::string(checkout) + "/build/compile_commands.json",
                     R"([{"directory": "..", "file": "src/main.cpp", )"
                     R"("arguments": ["clang++", "-Iinclude", "-c", "src/main.cpp"]}])");
    }
    places.write("first/include/api.h", "#define HAVE_TURBO 1\n");
    places.write("second/include/api.h", "// no turbo here\n");
    auto search_in = [&](const std::string& checkout, bool cached) {
        std::vector<std::string> arguments{"--nc", "-p", "build", "-F", "turbo_", "."};
        if (cached) {
            arguments.insert(arguments.begin(), {"--cache", places.path("cache")});
        }
        testing_support::process_options in_checkout;
        in_checkout.cwd = places.path(checkout);
        return testing_support::run_pyrn(arguments, in_checkout);
    };
    const std::string first = search_in("first", false).out;
    const std::string second = search_in("second", false).out;
    EXPECT_EQ(testing_support::parse_blocks(first).size(), 2u);
    EXPECT_EQ(testing_support::parse_blocks(second).size(), 1u);
    for (int round = 0; round < 2; ++round) { // filling the cache, then answered from it
        EXPECT_EQ(search_in("first", true).out, first);
        EXPECT_EQ(search_in("second", true).out, second);
    }
}

// A file whose entry, or whose stand-in's, holds options that libclang refuses outright is
// parsed without them, as is every other file; options are removed whole, by their place.
TEST(compile_commands, options_that_clang_refuses_are_left_out_and_the_search_goes_on) {
    temp_tree tree;
    tree.write("src/own.cpp", "#ifdef WITH_X\nint refused_with_x() { return 0; }\n#endif\n"
                              "int refused_own() { return 1; }\n");
    tree.write("src/stand_in.cpp", "int refused_stand_in() { return 2; }\n");
    const std::vector<std::vector<std::string>> cases = {
        {"--target=bogus-none-none"},
        {"-march=bogus"},
        {"-mtune=bogus"},
        {"-std=bogus"},
        {"-std=c11"},
        {"-faligned-new=bogus"},
        {"-stdlib=bogus"},
        {"-target", "bogus", "-march=bogus", "-std=c11"},
        // The value of -D is no option of its own: removing "-mavx512er" wherever it stands
        // would leave a -D that defines "-DWITH_X".
        {"-mavx512er", "-D", "-mavx512er"},
    };
    const std::vector<block> expected = {
        {"./src/own.cpp", 2, 2, "int refused_with_x() { return 0; }"},
        {"./src/own.cpp", 4, 4, "int refused_own() { return 1; }"},
        {"./src/stand_in.cpp", 1, 1, "int refused_stand_in() { return 2; }"},
    };
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    for (const auto& options : cases) {
        SCOPED_TRACE(testing::PrintToString(options));
        std::vector<std::string> arguments{"clang++"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {"-DWITH_X", "-c", "src/own.cpp"});
        const nlohmann::json entry = {
            {"directory", tree.path()}, {"file", "src/own.cpp"}, {"arguments", arguments}};
        tree.write("build/compile_commands.json", nlohmann::json::array({entry}).dump());
        EXPECT_EQ(sorted_blocks(testing_support::run_pyrn(
                      {"--nc", "-p", "build", "-F", "refused_", "."}, in_tree)),
                  expected);
    }
    // --verbose names the options left out, without their values, once for the file and its
    // stand-in.
    const nlohmann::json entry = {
        {"directory", tree.path()},
        {"file", "src/own.cpp"},
        {"arguments", {"clang++", "-target", "bogus", "-march=bogus", "-std=c11", "src/own.cpp"}}};
    tree.write("build/compile_commands.json", nlohmann::json::array({entry}).dump());
    const process_result verbose = testing_support::run_pyrn(
        {"--nc", "--verbose", "-p", "build", "-F", "refused_", "."}, in_tree);
    EXPECT_EQ(verbose.err, "pyrn: left out the options that clang does not take: -target -march "
                           "-std\n");
}

// A line break in a value that clang writes among the predefined lines would start a directive
// of the database's own (#include "/dev/zero", #pragma clang __debug crash): such an option is
// refused whole.
TEST(compile_commands, values_that_would_add_directives_are_refused) {
    temp_tree tree;
    tree.write("main.cpp", "#ifdef SMUGGLED\nint smuggled_in() { return 0; }\n#endif\n"
                           "int smuggled_not() { return 1; }\n");
    tree.write("real.h", "// an include that exists\n");
    const struct {
        std::vector<std::string> options;
        std::string name; // as --verbose names it
    } cases[] = {
        {{"-DA\n#define SMUGGLED 1"}, "-D"},
        {{"-D", "A\n#define SMUGGLED 1"}, "-D"},
        {{"-DA\r#define SMUGGLED 1"}, "-D"},
        {{"-UA\n#define SMUGGLED 1"}, "-U"},
        {{"-U", "A\n#define SMUGGLED 1"}, "-U"},
        {{"-include", "real.h\"\n#define SMUGGLED 1\n//"}, "-include"},
        {{"-imacros", "real.h\"\n#define SMUGGLED 1\n//"}, "-imacros"},
    };
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        std::vector<std::string> arguments{"clang++"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.insert(arguments.end(), {"-c", "main.cpp"});
        const nlohmann::json entry = {
            {"directory", tree.path()}, {"file", "main.cpp"}, {"arguments", arguments}};
        tree.write("build/compile_commands.json", nlohmann::json::array({entry}).dump());
        const process_result result = testing_support::run_pyrn(
            {"--nc", "--verbose", "-p", "build", "-F", "smuggled_", "."}, in_tree);
        EXPECT_EQ(result.out, "Checking ./main.cpp\n\n// ./main.cpp (Line: 4 to 4)\n"
                              "int smuggled_not() { return 1; }\n\n");
        EXPECT_EQ(result.err,
                  "pyrn: left out the options that a parse does not need: " + c.name + "\n");
    }
}

// Limits above clang's defaults are lowered to them: a bracket depth of a million lets a deep
// nest of brackets overflow the stack, a step count of 2^31 holds a constant evaluation for
// hours. The search answers as with the defaults.
TEST(compile_commands, limits_above_clangs_defaults_are_lowered_to_them) {
    temp_tree tree;
    const std::string deep(100000, '(');
    tree.write("deep.cpp",
               "int limit_deep() { return " + deep + "1" + std::string(deep.size(), ')') + "; }\n");
    tree.write("spin.cpp",
               "constexpr long spin(long n) {\n    long s = 0;\n"
               "    for (long i = 0; i < n; ++i) s += i;\n    return s;\n}\n"
               "static_assert(spin(2000000000) != 1);\nint limit_spin() { return 2; }\n");
    const struct {
        std::string file;
        std::string option;
    } cases[] = {
        {"deep.cpp", "-fbracket-depth=1000000"},
        {"deep.cpp", "-fbracket-depth=99999999999999999999999"}, // more than clang reads
        {"spin.cpp", "-fconstexpr-steps=2147483647"},
    };
    testing_support::process_options in_tree;
    in_tree.cwd = tree.path();
    std::map<std::string, std::string> by_default;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const nlohmann::json entry = {{"directory", tree.path()},
                                      {"file", c.file},
                                      {"arguments", {"clang++", c.option, "-c", c.file}}};
        tree.write("build/compile_commands.json", nlohmann::json::array({entry}).dump());
        const process_result with_limit =
            testing_support::run_pyrn({"--nc", "-p", "build", "-F", "limit_", c.file}, in_tree);
        auto plain = by_default.find(c.file);
        if (plain == by_default.end()) {
            plain =
                by_default
                    .emplace(
                        c.file,
                        testing_support::run_pyrn({"--nc", "-F", "limit_", c.file}, in_tree).out)
                    .first;
        }
        EXPECT_FALSE(with_limit.timed_out);
        EXPECT_EQ(with_limit.status, 0) << with_limit.err;
        EXPECT_EQ(with_limit.out, plain->second);
    }
}

TEST(headers, are_parsed_as_headers_so_an_include_cycle_keeps_their_declarations) {
    const process_result result = search({"--nc", "--member-function", "next_number", "cycle"});
    EXPECT_EQ(result.out, "\n// cycle/first.h (Line: 7 to 7)\n"
                          "int next_number() const { return value + 1; }\n\n");
}

} // namespace
