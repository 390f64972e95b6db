// A search of a folder inside a project takes the project's include folders, as a search of the
// whole project does: it prints the whole search's output cut to the folder. The project is the
// nearest folder above holding .git or compile_commands.json or, below the working directory, the
// working directory when it holds a build file.
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::block;

std::vector<block> sorted(std::vector<block> blocks) {
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

std::vector<block> search(const std::string& cwd, const std::string& path) {
    testing_support::process_options in;
    in.cwd = cwd;
    const testing_support::process_result result =
        testing_support::run_pyrn({"--nc", "-l", "c", "-F", "count", path}, in);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return testing_support::parse_blocks(result.out);
}

// The blocks below folder/, with the folder's spelling changed.
std::vector<block> cut_to(const std::vector<block>& blocks, const std::string& folder,
                          const std::string& spelled) {
    std::vector<block> cut;
    for (block found : blocks) {
        if (found.path.rfind(folder, 0) == 0) {
            found.path = spelled + found.path.substr(folder.size());
            cut.push_back(found);
        }
    }
    return cut;
}

TEST(subfolder, prints_the_whole_projects_output_cut_to_it) {
    testing_support::temp_tree project;
    project.write("include/config.h", "#define WITH_COUNT 1\n");
    project.write("lib/count.c", "#include \"config.h\"\n#if WITH_COUNT\n"
                                 "int count_all(void) { return 1; }\n#endif\n");
    project.write("lib/deeper/count_more.c", "int count_more(void) { return 2; }\n");
    project.write("app/main.c", "int count_main(void) { return 0; }\n");
    project.write("Makefile", "all:\n");

    const std::vector<block> whole = search(project.path(), ".");
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(sorted(search(project.path(), "lib")), sorted(cut_to(whole, "./lib/", "lib/")));
    EXPECT_EQ(search(project.path(), "lib/count.c"), cut_to(whole, "./lib/count.c", "lib/count.c"));

    // From elsewhere, the folder above that holds .git is the project.
    const std::string lib = project.path("lib");
    const std::vector<block> unmarked = search("/", lib);
    EXPECT_EQ(unmarked, (std::vector<block>{{lib + "/deeper/count_more.c", 1, 1,
                                             "int count_more(void) { return 2; }"}}));
    project.make_dir(".git");
    EXPECT_EQ(sorted(search("/", lib)), sorted(cut_to(whole, "./lib/", lib + "/")));
}

// Include folders found by the walk come in the sorted walk's order whatever the listings' order:
// of headers of one name, the first folder's is found, with --sort path and without.
TEST(include_folders, come_in_one_order_with_and_without_sort_path) {
    testing_support::temp_tree tree;
    for (char folder = 'a'; folder <= 'h'; ++folder) {
        tree.write(std::string(1, folder) + "/include/which.h",
                   std::string("#define WHICH '") + folder + "'\n");
    }
    tree.write("main.cpp",
               "#include \"which.h\"\n#if WHICH == 'a'\nint probe_first() { return 1; }\n"
               "#else\nint probe_other() { return 2; }\n#endif\n");
    testing_support::process_options in;
    in.cwd = tree.path();
    const std::vector<std::vector<std::string>> orders{{}, {"--sort", "path"}};
    for (const std::vector<std::string>& order : orders) {
        std::vector<std::string> arguments{"--nc", "-F", "probe_", "."};
        arguments.insert(arguments.begin(), order.begin(), order.end());
        const testing_support::process_result result = testing_support::run_pyrn(arguments, in);
        EXPECT_EQ(result.out, "\n// ./main.cpp (Line: 3 to 3)\nint probe_first() { return 1; }\n\n")
            << testing::PrintToString(order);
    }
}

} // namespace
