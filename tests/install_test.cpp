#include "app/option_table.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing_support::process_result;
using testing_support::read_file;
using testing_support::run_process;
using testing_support::run_pyrn;
using testing_support::temp_tree;

// The binary is <build>/source/pyrn.
fs::path build_dir() {
    return fs::path(testing_support::pyrn_binary()).parent_path().parent_path();
}

bool in_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((fs::path(dir) / program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

// Renders a manual page as plain text with all warnings on, one output line per paragraph,
// so that texts can be searched without regard to line breaks; nothing without a renderer.
std::optional<process_result> render_man_page(const fs::path& page) {
    if (in_path("groff")) {
        return run_process(
            {"groff", "-man", "-Tutf8", "-ww", "-rLL=1000n", "-P-cbou", page.native()});
    }
    if (in_path("man")) {
        return run_process({"env", "MANWIDTH=1000", "man", "--warnings", "-l", page.native()});
    }
    return std::nullopt;
}

// Runs of blanks and line feeds become one space, as in filled text.
std::string squeeze_blanks(std::string_view text) {
    std::string result;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n' || c == '\t';
        if (!blank) {
            result += c;
        } else if (!result.empty() && result.back() != ' ') {
            result += ' ';
        }
    }
    return result;
}

bool is_name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

// The part occurs on its own, not inside a longer word or name: --class not as the start of
// --class-template, "Search for throw expression" not as the start of "... expressions".
bool contains_whole(std::string_view text, std::string_view part) {
    for (std::size_t at = text.find(part); at != std::string_view::npos;
         at = text.find(part, at + 1)) {
        const std::size_t end = at + part.size();
        if ((at == 0 || !is_name_char(text[at - 1])) &&
            (end == text.size() || !is_name_char(text[end]))) {
            return true;
        }
    }
    return false;
}

// Option name to help text, from the help listing of the built binary. A name listed twice
// (the parser's own -h entry) keeps its last, effective text.
std::map<std::string, std::string> options_of_help_listing() {
    const process_result help = run_pyrn({"-h"});
    std::map<std::string, std::string> options;
    std::istringstream lines(help.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("  -", 0) != 0) {
            continue;
        }
        const std::size_t names_end = line.find("  ", 2);
        std::string text = line.substr(line.find_first_not_of(' ', names_end));
        text = text.substr(0, std::min({text.find(" [nargs"), text.find(" [may be repeated]"),
                                        text.find_last_not_of(' ') + 1}));
        // "-h, --help"; argparse leaves out the comma after a name that reads as a number.
        std::istringstream names(line.substr(2, names_end - 2));
        for (std::string name; names >> name;) {
            if (name.back() == ',') {
                name.pop_back();
            }
            options[name] = text;
        }
    }
    return options;
}

// Where each shell looks for the completion of a command, below the prefix, and where the build
// writes it; a Debian package puts zsh's where Debian's zsh looks.
struct completion_place {
    const char* installed;
    const char* packaged;
    const char* built;
};

const completion_place completion_places[] = {
    {"share/bash-completion/completions/pyrn", "share/bash-completion/completions/pyrn",
     "completions/pyrn.bash"},
    {"share/zsh/site-functions/_pyrn", "share/zsh/vendor-completions/_pyrn", "completions/_pyrn"},
    {"share/fish/vendor_completions.d/pyrn.fish", "share/fish/vendor_completions.d/pyrn.fish",
     "completions/pyrn.fish"},
};

TEST(install, puts_binary_man_page_and_completions_under_the_prefix) {
    temp_tree prefix;
    const process_result install =
        run_process({"cmake", "--install", build_dir().native(), "--prefix", prefix.path()});
    ASSERT_EQ(install.status, 0) << install.out << install.err;

    const fs::path page = prefix.root() / "share/man/man1/pyrn.1";
    ASSERT_TRUE(fs::is_regular_file(page));
    EXPECT_EQ(read_file(page.native()), read_file((build_dir() / "docs/pyrn.1").native()));
    for (const completion_place& place : completion_places) {
        const fs::path completion = prefix.root() / place.installed;
        ASSERT_TRUE(fs::is_regular_file(completion)) << completion;
        EXPECT_EQ(read_file(completion.native()), read_file((build_dir() / place.built).native()));
    }

    const std::string installed = (prefix.root() / "bin/pyrn").native();
    const process_result version = run_process({installed, "--version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "0.6.0\n");

    const std::string fixture = testing_support::test_dir() + "/fixtures/cli";
    const process_result search = run_process({installed, "--nc", "-F", "answer", fixture});
    EXPECT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(search.err, "");
    ASSERT_FALSE(search.out.empty());
    EXPECT_EQ(search.out.back(), '\n');

    const std::optional<process_result> rendered = render_man_page(page);
    if (!rendered) {
        std::cout << "neither groff nor man found: the manual page was not rendered\n";
        return;
    }
    EXPECT_EQ(rendered->status, 0);
    EXPECT_EQ(rendered->err, "") << "warnings while rendering the manual page";
    EXPECT_NE(rendered->out.find("EXIT STATUS"), std::string::npos);
}

TEST(package, names_the_runtime_libraries_and_works_when_unpacked) {
    if (!in_path("cpack") || !in_path("dpkg-deb")) {
        GTEST_SKIP() << "cpack or dpkg-deb not found";
    }
    temp_tree out;
    const process_result pack = run_process(
        {"cpack", "--config", (build_dir() / "CPackConfig.cmake").native(), "-B", out.path()});
    ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
    std::string deb;
    for (const fs::directory_entry& entry : fs::directory_iterator(out.root())) {
        if (entry.path().extension() == ".deb") {
            deb = entry.path().native();
        }
    }
    ASSERT_FALSE(deb.empty()) << pack.out;

    const process_result fields = run_process({"dpkg-deb", "-f", deb, "Package", "Depends"});
    EXPECT_EQ(fields.status, 0) << fields.err;
    EXPECT_EQ(fields.out.rfind("Package: pyrn\n", 0), 0u) << fields.out;
    for (const char* library :
         {"libclang1-19", "libsqlite3-0", "libxxhash0", "liblz4-1", "libgit2-1.5", "libc6"}) {
        EXPECT_TRUE(contains_whole(fields.out, library)) << library << " in " << fields.out;
    }
    // The C++ runtime and RE2 are named when the binary loads them, and only then.
    const std::string root = out.path("root");
    ASSERT_EQ(run_process({"dpkg-deb", "-x", deb, root}).status, 0);
    const process_result loaded = run_process({"ldd", root + "/usr/bin/pyrn"});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    for (const auto& [library, package] :
         {std::pair("libstdc++.so", "libstdc++6"), std::pair("libre2.so", "libre2-9")}) {
        const bool loads = loaded.out.find(library) != std::string::npos;
        EXPECT_EQ(loads, PYRN_STATIC_RUNTIME == 0) << loaded.out;
        EXPECT_EQ(contains_whole(fields.out, package), loads) << package << " in " << fields.out;
    }

    const process_result page =
        run_process({"gzip", "-dc", root + "/usr/share/man/man1/pyrn.1.gz"});
    EXPECT_EQ(page.out, read_file((build_dir() / "docs/pyrn.1").native()));
    for (const completion_place& place : completion_places) {
        EXPECT_EQ(read_file(root + "/usr/" + place.packaged),
                  read_file((build_dir() / place.built).native()));
    }
    const std::string fixture = testing_support::test_dir() + "/fixtures/cli";
    const process_result search =
        run_process({root + "/usr/bin/pyrn", "--nc", "-F", "answer", fixture});
    EXPECT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(search.out, run_pyrn({"--nc", "-F", "answer", fixture}).out);
}

TEST(man_page, documents_every_option_with_its_help_text_and_the_version) {
    const std::optional<process_result> rendered = render_man_page(build_dir() / "docs/pyrn.1");
    if (!rendered) {
        GTEST_SKIP() << "neither groff nor man found";
    }
    const std::string page = squeeze_blanks(rendered->out);
    const auto options = options_of_help_listing();
    ASSERT_GE(options.size(), 40u);
    for (const auto& [name, help] : options) {
        EXPECT_TRUE(contains_whole(page, name)) << name;
        EXPECT_TRUE(contains_whole(page, help)) << name << ": " << help;
    }
    std::string version = run_pyrn({"--version"}).out;
    version.pop_back();
    EXPECT_NE(page.find("pyrn " + version), std::string::npos) << "version " << version;
}

// What the completion offers for the words of a command line, the last being completed.
std::string complete(const std::vector<std::string>& words, const std::string& cwd) {
    std::vector<std::string> argv{
        "bash", "-c",
        "source \"$1\"; shift; COMP_WORDS=(\"$@\"); "
        "COMP_CWORD=$(($# - 1)); _pyrn; "
        "[ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\\n' \"${COMPREPLY[@]}\"",
        "bash", (build_dir() / "completions/pyrn.bash").native()};
    argv.insert(argv.end(), words.begin(), words.end());
    testing_support::process_options options;
    options.cwd = cwd;
    const process_result result = run_process(argv, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
}

struct completion_case {
    std::vector<std::string> words;
    std::string offered;
};

TEST(bash_completion, offers_options_values_and_directories_where_they_belong) {
    temp_tree tree;
    tree.make_dir("src");
    tree.make_dir("srv/deep");
    tree.write("src.cpp", "int x;\n");
    const completion_case cases[] = {
        {{"pyrn", "--exa"}, "--exact-match\n"},
        {{"pyrn", "-F", "--no"}, "--no-color\n--no-progress\n"},
        {{"pyrn", "sr"}, ""},                               // the query is free text
        {{"pyrn", "-F", "q", "sr"}, "src\nsrc.cpp\nsrv\n"}, // the path: a directory or a file
        {{"pyrn", "-I", "inc", "q", "sr"}, "src\nsrc.cpp\nsrv\n"}, // "inc" is the value of -I
        {{"pyrn", "-j", "4", "--enum", "q", "sr"}, "src\nsrc.cpp\nsrv\n"},
        {{"pyrn", "--sort", "path", "--exclude", "b", "q", "sr"}, "src\nsrc.cpp\nsrv\n"},
        {{"pyrn", "--color", ""}, "always\nnever\nauto\n"},
        {{"pyrn", "--sort", ""}, "path\n"},
        {{"pyrn", "--exclude", "sr"}, ""},
        {{"pyrn", "q", "src", "sr"}, ""}, // no third argument
        {{"pyrn", "-I", "sr"}, "src\nsrv\n"},
        {{"pyrn", "--include-dir", "srv/"}, "srv/deep\n"},
        {{"pyrn", "-j", ""}, ""},
        {{"pyrn", "-f", ""}, ""},
        {{"pyrn", "-l", "cu"}, "cuda\n"},
        {{"pyrn", "--std", "c++2"}, "c++20\nc++23\nc++2c\n"},
        {{"pyrn", "--", "--ex"}, ""},                        // after "--" no option
        {{"pyrn", "--", "-q", "sr"}, "src\nsrc.cpp\nsrv\n"}, // the path after a query with a dash
    };
    for (const completion_case& c : cases) {
        std::string line;
        for (const std::string& word : c.words) {
            line += " '" + word + "'";
        }
        EXPECT_EQ(complete(c.words, tree.path()), c.offered) << line;
    }
}

// Each completion offers exactly the options of the help listing; fish and zsh show their
// help texts.
std::map<std::string, std::string> options_offered_by_bash() {
    std::map<std::string, std::string> offered;
    std::istringstream lines(complete({"pyrn", "-"}, ""));
    for (std::string line; std::getline(lines, line);) {
        offered[line] = "";
    }
    return offered;
}

std::map<std::string, std::string> options_offered_by_fish() {
    std::map<std::string, std::string> offered;
    const std::string script =
        "source " + (build_dir() / "completions/pyrn.fish").native() + "; complete -C'pyrn -'";
    const process_result result = run_process({"fish", "--no-config", "-c", script});
    EXPECT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        offered[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return offered;
}

// The option lines of the _arguments call, read as text:
// '(exclusions)*'{-a,--bb}'[help]:...' or '-a[help]:...'. zsh itself only checks the syntax.
std::map<std::string, std::string> options_offered_by_zsh() {
    const std::string file = (build_dir() / "completions/_pyrn").native();
    const process_result syntax = run_process({"zsh", "-n", file});
    EXPECT_EQ(syntax.status, 0) << syntax.err;
    std::map<std::string, std::string> offered;
    std::istringstream lines(read_file(file));
    for (std::string line; std::getline(lines, line);) {
        for (std::size_t at; (at = line.find("'\\''")) != std::string::npos;) {
            line.replace(at, 4, "'");
        }
        const std::size_t open = line.find('[');
        if (line.rfind("    '", 0) != 0 || open == std::string::npos) {
            continue;
        }
        std::string help; // up to the first ']' that no backslash escapes
        for (std::size_t i = open + 1; i < line.size() && line[i] != ']'; ++i) {
            i += line[i] == '\\' && i + 1 < line.size() ? 1 : 0;
            help += line[i];
        }
        const std::size_t brace = line.find('{');
        std::string names;
        if (brace != std::string::npos && brace < open) {
            names = line.substr(brace + 1, line.find('}') - brace - 1);
        } else {
            names = line.substr(line.find_last_of("')*", open - 1) + 1);
            names = names.substr(0, names.find('['));
        }
        std::istringstream each(names);
        for (std::string name; std::getline(each, name, ',');) {
            offered[name] = help;
        }
    }
    return offered;
}

TEST(completions, offer_exactly_the_options_of_the_help_listing_with_their_help) {
    const auto listed = options_of_help_listing();
    std::set<std::string> listed_names;
    for (const auto& entry : listed) {
        listed_names.insert(entry.first);
    }
    const struct {
        const char* shell;
        std::map<std::string, std::string> (*offered)();
        bool with_help;
    } shells[] = {
        {"bash", options_offered_by_bash, false},
        {"fish", options_offered_by_fish, true},
        {"zsh", options_offered_by_zsh, true},
    };
    for (const auto& shell : shells) {
        SCOPED_TRACE(shell.shell);
        if (!in_path(shell.shell)) {
            ADD_FAILURE() << shell.shell << " is not installed (scripts/install-deps installs it)";
            continue;
        }
        const auto offered = shell.offered();
        std::set<std::string> offered_names;
        for (const auto& [name, help] : offered) {
            offered_names.insert(name);
            if (shell.with_help && listed.count(name) != 0) {
                EXPECT_EQ(help, listed.at(name)) << name;
            }
        }
        EXPECT_EQ(offered_names, listed_names);
    }
}

// fish completes the values of the options and the path like bash.
TEST(fish_completion, offers_values_and_files_where_they_belong) {
    if (!in_path("fish")) {
        GTEST_SKIP() << "fish is not installed (scripts/install-deps installs it)";
    }
    temp_tree tree;
    tree.make_dir("src");
    tree.write("src.cpp", "int x;\n");
    const completion_case cases[] = {
        {{"pyrn sr"}, ""},                     // the query is free text
        {{"pyrn -F q sr"}, "src.cpp\nsrc/\n"}, // the path: a file or a directory
        {{"pyrn -j 4 --sort path q sr"}, "src.cpp\nsrc/\n"},
        {{"pyrn q src.cpp sr"}, ""}, // no third argument
        {{"pyrn -I sr"}, "src/\n"},
        {{"pyrn --color "}, "always\nauto\nnever\n"},
        {{"pyrn --sort "}, "path\n"},
        {{"pyrn --exclude sr"}, ""},
    };
    for (const completion_case& c : cases) {
        const std::string script = "source " + (build_dir() / "completions/pyrn.fish").native() +
                                   "; complete -C'" + c.words.front() + "' | cut -f1";
        testing_support::process_options in_tree;
        in_tree.cwd = tree.path();
        const process_result result = run_process({"fish", "--no-config", "-c", script}, in_tree);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.offered) << c.words.front();
    }
}

// The written files name every option of the table, the version that argparse adds included.
TEST(written_docs, name_every_option_of_the_table_with_its_help) {
    const std::string bash = read_file((build_dir() / "completions/pyrn.bash").native());
    const std::string zsh = read_file((build_dir() / "completions/_pyrn").native());
    const std::string fish = read_file((build_dir() / "completions/pyrn.fish").native());
    const std::optional<process_result> rendered = render_man_page(build_dir() / "docs/pyrn.1");
    const std::string page = rendered ? squeeze_blanks(rendered->out) : "";
    for (const pyrn::option_row& row : pyrn::all_options()) {
        for (std::string_view name : row.names) {
            if (name.empty()) {
                continue;
            }
            const std::string fish_name = (name.size() == 2 ? "-s " : "-l ") +
                                          std::string(name.substr(name.size() == 2 ? 1 : 2));
            EXPECT_TRUE(contains_whole(bash, name)) << name;
            EXPECT_TRUE(contains_whole(zsh, name)) << name;
            EXPECT_TRUE(contains_whole(fish, fish_name)) << name;
            EXPECT_TRUE(!rendered || contains_whole(page, name)) << name;
        }
        EXPECT_TRUE(!rendered || contains_whole(page, row.help)) << row.help;
    }
}

// The manual page's template places the entries of every group of options exactly once.
TEST(written_docs, a_template_that_misplaces_the_options_is_refused) {
    const std::string groups = "@options general@\n@options kinds@\n@options parsing@\n"
                               "@options walk@\n@options output@\n@options query@\n"
                               "@options build@\n";
    const struct {
        std::string page_template;
        int status;
        std::string err;
    } cases[] = {
        {groups + "@options cache@\n@kind options@\n", 0, ""},
        {groups, 1, "pyrn_write_docs: the options of cache must be placed once\n"},
        {groups + "@options cache@\n@options kinds@\n", 1,
         "pyrn_write_docs: the options of kinds must be placed once\n"},
        {groups + "@options cache@\n@options nothing@\n", 1,
         "pyrn_write_docs: no option group nothing\n"},
        {groups + "@options cache@\n@kinds@\n", 1, "pyrn_write_docs: unknown marker @kinds@\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page_template);
        temp_tree out;
        out.write("pyrn.1.in", c.page_template);
        const process_result written =
            run_process({PYRN_WRITE_DOCS, out.path("pyrn.1.in"), out.path()});
        EXPECT_EQ(written.status, c.status);
        EXPECT_EQ(written.err, c.err);
        if (c.status == 0) {
            EXPECT_EQ(read_file(out.path("completions/_pyrn")),
                      read_file((build_dir() / "completions/_pyrn").native()));
        }
    }
}

} // namespace
