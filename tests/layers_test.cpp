// The folders of source/ are layers: a file includes only files of its own folder or of the
// folders below it, by "folder/file" paths, and no two files include each other in a loop.

#include "process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Lowest first.
const std::vector<std::string> layers = {"base",  "core",  "output", "clang",
                                         "match", "cache", "search", "app"};

const fs::path source_root = fs::path(testing_support::test_dir()).parent_path() / "source";

int rank_of(const std::string& folder) {
    const auto at = std::find(layers.begin(), layers.end(), folder);
    return at == layers.end() ? -1 : static_cast<int>(at - layers.begin());
}

// The quoted includes of a file.
std::vector<std::string> includes_of(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> found;
    const std::string directive = "#include \"";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, directive.size(), directive) == 0) {
            found.push_back(
                line.substr(directive.size(), line.find('"', directive.size()) - directive.size()));
        }
    }
    return found;
}

// "folder/name" without the suffix: a header and its source are one module.
std::string module_of(const std::string& relative) {
    return fs::path(relative).replace_extension().native();
}

// Module graph: every module to the modules it includes.
using graph = std::map<std::string, std::set<std::string>>;

bool find_loop(const graph& edges, const std::string& at, std::vector<std::string>& path,
               std::set<std::string>& done) {
    if (std::find(path.begin(), path.end(), at) != path.end()) {
        path.push_back(at);
        return true;
    }
    if (done.count(at) != 0) {
        return false;
    }
    path.push_back(at);
    if (const auto next = edges.find(at); next != edges.end()) {
        for (const std::string& to : next->second) {
            if (find_loop(edges, to, path, done)) {
                return true;
            }
        }
    }
    path.pop_back();
    done.insert(at);
    return false;
}

TEST(layers, every_include_runs_downward_and_no_modules_include_each_other) {
    graph edges;
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source_root)) {
        const std::string suffix = entry.path().extension().native();
        if (!entry.is_regular_file() || (suffix != ".cpp" && suffix != ".hpp")) {
            continue;
        }
        ++files;
        const std::string relative = fs::relative(entry.path(), source_root).native();
        const std::string folder = relative.substr(0, relative.find('/'));
        SCOPED_TRACE(relative);
        ASSERT_NE(rank_of(folder), -1) << "a file outside the layers' folders";
        for (const std::string& included : includes_of(entry.path())) {
            const std::string target = included.substr(0, included.find('/'));
            EXPECT_TRUE(fs::is_regular_file(source_root / included)) << included;
            EXPECT_NE(rank_of(target), -1) << included << ": not a \"folder/file\" include";
            EXPECT_LE(rank_of(target), rank_of(folder)) << included << " lies above " << folder;
            if (module_of(included) != module_of(relative)) {
                edges[module_of(relative)].insert(module_of(included));
            }
        }
    }
    EXPECT_GT(files, 20u);
    std::set<std::string> done;
    for (const auto& [module, targets] : edges) {
        std::vector<std::string> path;
        if (find_loop(edges, module, path, done)) {
            std::string loop;
            for (const std::string& step : path) {
                loop += step + " -> ";
            }
            ADD_FAILURE() << "include loop: " << loop;
            break;
        }
    }
}

} // namespace
