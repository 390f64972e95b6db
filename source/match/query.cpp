#include "match/query.hpp"

#include "base/sse2_strstr.hpp"
#include "core/searcher.hpp"
#include "match/kinds.hpp"

#include <re2/filtered_re2.h>
#include <re2/re2.h>

#include <memory>
#include <vector>

namespace search {

namespace {

using s = searcher;

constexpr std::string_view scope = "::";

// A --regex query, compiled once before any worker exists and only read afterwards.
struct compiled_regex {
    std::unique_ptr<re2::RE2> name; // -E: the whole name, or a qualified name's end
    std::unique_ptr<re2::RE2> text;
    // A qualified pattern split at its last "::": the part before it, searched for in the
    // scopes, and the part after it, in the last component. Null when it cannot be split.
    std::unique_ptr<re2::RE2> scopes;
    std::unique_ptr<re2::RE2> last;
    re2::FilteredRE2 filter;
    // For each of the filter's atoms, the pieces of it that a file holding it holds.
    std::vector<std::vector<std::string>> atom_pieces;
    bool filtered = false; // false: every file may hold a match
};

compiled_regex& regex() {
    static compiled_regex compiled;
    return compiled;
}

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal(std::string_view a, std::string_view b) {
    if (!s::ignore_case) {
        return a == b;
    }
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folded(a[i]) != folded(b[i])) {
            return false;
        }
    }
    return true;
}

bool contains(std::string_view text, std::string_view piece) {
    return s::ignore_case ? sse2_strcasestr(text, piece) != npos
                          : text.find(piece) != std::string_view::npos;
}

bool holds_scope(std::string_view text) {
    return text.find(scope) != std::string_view::npos;
}

// Splits a pattern at its last "::" that stands outside groups and classes into the part before
// it and the part after it, when everything a match of the expression needs of a qualified
// name's last component is in the part after it; else false.
bool split_expression(std::string_view pattern, std::string_view& outer, std::string_view& last) {
    int depth = 0;
    bool in_class = false;
    std::size_t split = std::string_view::npos;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            ++i;
        } else if (in_class) {
            in_class = c != ']';
        } else if (c == '[') {
            in_class = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '|' && depth == 0) {
            return false; // an alternative before the split would be lost
        } else if (depth == 0 && pattern.compare(i, scope.size(), scope) == 0) {
            split = i;
        }
    }
    if (split == std::string_view::npos) {
        return false;
    }
    outer = pattern.substr(0, split);
    last = pattern.substr(split + scope.size());
    return !holds_scope(last);
}

// Whether a name's scopes end with outer: with -E at a "::" or as a whole; a leading "::"
// anchors it at the global scope.
bool scopes_match(std::string_view scopes, std::string_view outer) {
    if (s::query.substr(0, scope.size()) == scope) {
        return equal(scopes, outer);
    }
    if (scopes.size() < outer.size() ||
        !equal(scopes.substr(scopes.size() - outer.size()), outer)) {
        return false;
    }
    const std::size_t before = scopes.size() - outer.size();
    return !s::exact_match || before == 0 ||
           (before >= scope.size() && scopes.substr(before - scope.size(), scope.size()) == scope);
}

// What the scopes of a match must match, searched for (RE2's PartialMatch) like the rest.
std::string scopes_expression(std::string_view outer) {
    const std::string group = "(?:" + std::string(outer) + ")";
    if (outer.substr(0, scope.size()) == scope) {
        return "\\A" + group + "\\z";
    }
    return s::exact_match ? "\\A(?:.*::)?" + group + "\\z" : group + "\\z";
}

// Compiles the two parts of a qualified pattern; when either fails (a flag group before the
// split, say), the whole pattern is compared with the whole name instead.
void prepare_split(std::string_view pattern, const re2::RE2::Options& options) {
    std::string_view outer;
    std::string_view last;
    if (!split_expression(pattern, outer, last)) {
        return;
    }
    compiled_regex& compiled = regex();
    auto scopes = std::make_unique<re2::RE2>(scopes_expression(outer), options);
    auto last_part = std::make_unique<re2::RE2>(last, options);
    if (scopes->ok() && last_part->ok()) {
        compiled.scopes = std::move(scopes);
        compiled.last = std::move(last_part);
    }
}

bool has_non_ascii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

// RE2 lowers the Kelvin sign to k and the long s to s in its atoms: where the expression names
// them (as such, by an escape, in a class beyond ASCII), a file need not hold those letters.
std::string letters_for_non_ascii(std::string_view pattern) {
    constexpr std::string_view kelvin_sign = "\xE2\x84\xAA";
    constexpr std::string_view long_s = "\xC5\xBF";
    const bool may_name_any =
        pattern.find("\\x") != std::string_view::npos ||
        (pattern.find('[') != std::string_view::npos && has_non_ascii(pattern));
    std::string letters;
    if (may_name_any || pattern.find(kelvin_sign) != std::string_view::npos) {
        letters += 'k';
    }
    if (may_name_any || pattern.find(long_s) != std::string_view::npos) {
        letters += 's';
    }
    return letters;
}

// The atoms are lowered by Unicode's rules ("Éclair" gives "éclair"), the pre-filter folds
// ASCII letters only: it looks for the runs of ASCII bytes between the others and the letters
// that may stand for them, each of which a file holding the atom holds in some case.
std::vector<std::string> ascii_pieces(std::string_view atom, std::string_view cuts) {
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : atom) {
        const bool cut =
            static_cast<unsigned char>(c) >= 0x80 || cuts.find(c) != std::string_view::npos;
        if (!cut) {
            piece += c;
        } else if (!piece.empty()) {
            pieces.push_back(std::move(piece));
            piece.clear();
        }
    }
    if (!piece.empty()) {
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

// What the pre-filter asks of a file: the literals the piece of the expression needs.
void prepare_filter(std::string_view piece, const re2::RE2::Options& options) {
    compiled_regex& compiled = regex();
    int id = 0;
    if (compiled.filter.Add(piece, options, &id) != re2::RE2::NoError) {
        return;
    }
    std::vector<std::string> atoms;
    compiled.filter.Compile(&atoms);
    const std::string cuts = letters_for_non_ascii(piece);
    for (const std::string& atom : atoms) {
        compiled.atom_pieces.push_back(ascii_pieces(atom, cuts));
    }
    compiled.filtered = !atoms.empty();
}

bool holds_atom(std::string_view content, const std::vector<std::string>& pieces) {
    for (const std::string& piece : pieces) {
        if (sse2_strcasestr(content, piece) == npos) {
            return false;
        }
    }
    return true;
}

} // namespace

bool is_qualified_query() {
    return holds_scope(s::query);
}

bool name_test_applies() {
    return !s::query.empty() && !text_test_enabled();
}

bool prepare_query(std::string& error) {
    if (!s::use_regex) {
        return true;
    }
    re2::RE2::Options options;
    options.set_log_errors(false);
    options.set_case_sensitive(!s::ignore_case);
    const std::string pattern(s::query);
    compiled_regex& compiled = regex();
    compiled.text = std::make_unique<re2::RE2>(pattern, options);
    if (!compiled.text->ok()) {
        error = "Invalid regular expression: " + compiled.text->error();
        return false;
    }
    // -E with a qualified name: the whole name, or its end from a "::" on.
    std::string name_pattern = pattern;
    if (s::exact_match && is_qualified_query()) {
        name_pattern = "(?:.*::)?(?:" + pattern + ")";
    }
    compiled.name = std::make_unique<re2::RE2>(name_pattern, options);
    if (is_qualified_query()) {
        prepare_split(pattern, options);
    }
    // Grouped, a pattern can fail where it compiled alone (an unclosed \Q takes the closing
    // parenthesis in); unless its two parts serve instead, it would match nothing.
    if (!compiled.name->ok() && !compiled.last) {
        error = "Invalid regular expression: " + compiled.name->error();
        return false;
    }
    std::string_view piece = pattern;
    std::string_view outer;
    if (name_test_applies() && is_qualified_query() && !split_expression(pattern, outer, piece)) {
        return true;
    }
    prepare_filter(piece, options);
    return true;
}

namespace {

// The bytes a file must hold when the query is no expression.
std::string_view plain_needle() {
    std::string_view needle = s::query;
    // A file that declares open inside class Reader never spells Reader::open.
    if (is_qualified_query() && name_test_applies()) {
        needle = needle.substr(needle.rfind(scope) + scope.size());
    }
    return needle;
}

} // namespace

bool passes_pre_filter(std::string_view content) {
    if (s::use_regex) {
        const compiled_regex& compiled = regex();
        if (!compiled.filtered) {
            return true;
        }
        std::vector<int> found;
        for (std::size_t i = 0; i < compiled.atom_pieces.size(); ++i) {
            if (holds_atom(content, compiled.atom_pieces[i])) {
                found.push_back(static_cast<int>(i));
            }
        }
        std::vector<int> potential;
        compiled.filter.AllPotentials(found, &potential);
        return !potential.empty();
    }
    const std::string_view needle = plain_needle();
    const std::size_t found =
        s::ignore_case ? sse2_strcasestr(content, needle) : sse2_strstr(content, needle);
    // A one-byte NUL query "occurs" at the content's end in the terminating NUL.
    return found != npos && found != content.size();
}

bool name_matches(std::string_view name) {
    if (s::use_regex) {
        const re2::RE2& pattern = *regex().name;
        return s::exact_match ? re2::RE2::FullMatch(name, pattern)
                              : re2::RE2::PartialMatch(name, pattern);
    }
    const std::string_view query = s::query;
    if (!s::exact_match) {
        return contains(name, query);
    }
    if (equal(name, query)) {
        return true;
    }
    // -E Reader::open names ::io::Reader::open, not ::io::MyReader::open.
    return is_qualified_query() && name.size() >= query.size() + scope.size() &&
           equal(name.substr(name.size() - query.size()), query) &&
           name.substr(name.size() - query.size() - scope.size(), scope.size()) == scope;
}

bool qualified_name_matches(const scoped_name& name) {
    if (s::use_regex) {
        const compiled_regex& compiled = regex();
        if (!compiled.last) {
            return name_matches(name.text);
        }
        const bool last_matches = s::exact_match
                                      ? re2::RE2::FullMatch(name.last(), *compiled.last)
                                      : re2::RE2::PartialMatch(name.last(), *compiled.last);
        return last_matches && re2::RE2::PartialMatch(name.scopes(), *compiled.scopes);
    }
    const std::size_t split = s::query.rfind(scope);
    const std::string_view outer = s::query.substr(0, split);
    const std::string_view last = s::query.substr(split + scope.size());
    const bool last_matches =
        s::exact_match ? equal(name.last(), last) : contains(name.last(), last);
    return last_matches && scopes_match(name.scopes(), outer);
}

bool text_matches(std::string_view text) {
    if (s::use_regex) {
        return re2::RE2::PartialMatch(text, *regex().text);
    }
    return contains(text, s::query);
}

std::string_view required_bytes() {
    if (s::use_regex || s::ignore_case) {
        return {};
    }
    return plain_needle();
}

} // namespace search
