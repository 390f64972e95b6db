// The folders of source/ are layers, as ARCHITECTURE.md draws them: a file includes only files
// of its own folder or of the folders its row allows, by "folder/file" paths; each folder's
// library links the same folders; and no two files include each other in a loop.

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

const fs::path project_root = fs::path(testing_support::test_dir()).parent_path();
const fs::path source_root = project_root / "source";

// Each folder to the folders it may include.
using layer_map = std::map<std::string, std::set<std::string>>;

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text + " ") {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    return words;
}

// The table of ARCHITECTURE.md's Folders section: "| `folder/` | owns | may include |", highest
// folder first; "everything below" and "nothing" say what they say.
layer_map read_map() {
    std::ifstream in(project_root / "ARCHITECTURE.md");
    std::vector<std::pair<std::string, std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 3, "| `") != 0) {
            continue;
        }
        const std::size_t name_end = line.find("/`", 3);
        const std::size_t last_bar = line.rfind(" |");
        const std::size_t allowed_start = line.rfind("| ", last_bar - 1);
        if (name_end == std::string::npos || allowed_start == std::string::npos) {
            continue;
        }
        rows.emplace_back(line.substr(3, name_end - 3),
                          line.substr(allowed_start + 2, last_bar - allowed_start - 2));
    }
    layer_map map;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::set<std::string>& allowed = map[rows[i].first];
        if (rows[i].second == "everything below") {
            for (std::size_t below = i + 1; below < rows.size(); ++below) {
                allowed.insert(rows[below].first);
            }
        } else if (rows[i].second != "nothing") {
            for (const std::string& word : words_of(rows[i].second)) {
                allowed.insert(word);
            }
        }
    }
    return map;
}

const layer_map& layers() {
    static const layer_map map = read_map();
    return map;
}

bool allows(const std::string& folder, const std::string& target) {
    const auto row = layers().find(folder);
    return folder == target || (row != layers().end() && row->second.count(target) != 0);
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
        ASSERT_EQ(layers().count(folder), 1u) << "a file outside the layers' folders";
        for (const std::string& included : includes_of(entry.path())) {
            const std::string target = included.substr(0, included.find('/'));
            EXPECT_TRUE(fs::is_regular_file(source_root / included)) << included;
            EXPECT_EQ(layers().count(target), 1u) << included << ": not a \"folder/file\" include";
            EXPECT_TRUE(allows(folder, target))
                << included << ": " << folder << " may not include it";
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

// "target_link_libraries(pyrn_FOLDER PUBLIC pyrn_A pyrn_B ...)" in source/CMakeLists.txt, each
// library's program-own links, over as many lines as it takes.
layer_map read_links() {
    std::ifstream in(source_root / "CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    layer_map links;
    const std::string call = "target_link_libraries(pyrn_";
    for (std::size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
        const std::string arguments =
            text.substr(at + call.size(), text.find(')', at) - at - call.size());
        const std::vector<std::string> words = words_of(arguments);
        if (words.size() < 2 || words[1] != "PUBLIC") {
            continue;
        }
        std::set<std::string>& linked = links[words[0]];
        for (std::size_t i = 2; i < words.size(); ++i) {
            if (words[i].compare(0, 5, "pyrn_") == 0) {
                linked.insert(words[i].substr(5));
            }
        }
    }
    return links;
}

TEST(layers, each_folders_library_links_what_the_map_allows) {
    const layer_map links = read_links();
    ASSERT_EQ(layers().size(), 8u);
    for (const auto& [folder, allowed] : layers()) {
        SCOPED_TRACE(folder);
        ASSERT_EQ(links.count(folder), 1u) << "no library links pyrn_" << folder;
        EXPECT_EQ(links.at(folder), allowed);
    }
}

} // namespace
