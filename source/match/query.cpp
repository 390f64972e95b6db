#include "match/query.hpp"

#include "base/sse2_strstr.hpp"

#include <re2/filtered_re2.h>
#include <re2/re2.h>

#include <memory>
#include <vector>

namespace search {

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

namespace {

constexpr std::string_view scope = "::";

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_bytes(std::string_view a, std::string_view b, bool ignore_case) {
    if (!ignore_case) {
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

bool contains_bytes(std::string_view text, std::string_view piece, bool ignore_case) {
    return ignore_case ? sse2_strcasestr(text, piece) != npos
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

// What the scopes of a match must match, searched for (RE2's PartialMatch) like the rest.
std::string scopes_expression(std::string_view outer, bool exact_match) {
    const std::string group = "(?:" + std::string(outer) + ")";
    if (outer.substr(0, scope.size()) == scope) {
        return "\\A" + group + "\\z";
    }
    return exact_match ? "\\A(?:.*::)?" + group + "\\z" : group + "\\z";
}

// Compiles the two parts of a qualified pattern; when either fails (a flag group before the
// split, say), the whole pattern is compared with the whole name instead.
void prepare_split(compiled_regex& compiled, std::string_view pattern,
                   const re2::RE2::Options& options, bool exact_match) {
    std::string_view outer;
    std::string_view last;
    if (!split_expression(pattern, outer, last)) {
        return;
    }
    auto scopes = std::make_unique<re2::RE2>(scopes_expression(outer, exact_match), options);
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
void prepare_filter(compiled_regex& compiled, std::string_view piece,
                    const re2::RE2::Options& options) {
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

query::query() : compiled(std::make_unique<compiled_regex>()) {}

query::query(std::string text, query_options options)
    : pattern(std::move(text)), how(options), compiled(std::make_unique<compiled_regex>()) {
    if (how.use_regex) {
        malformed = compile();
    }
}

query::query(query&&) noexcept = default;
query& query::operator=(query&&) noexcept = default;
query::~query() = default;

bool query::equal(std::string_view a, std::string_view b) const {
    return equal_bytes(a, b, how.ignore_case);
}

bool query::contains(std::string_view text, std::string_view piece) const {
    return contains_bytes(text, piece, how.ignore_case);
}

// Whether a name's scopes end with outer: with -E at a "::" or as a whole; a leading "::"
// anchors it at the global scope.
bool query::scopes_match(std::string_view scopes, std::string_view outer) const {
    if (pattern.substr(0, scope.size()) == scope) {
        return equal(scopes, outer);
    }
    if (scopes.size() < outer.size() ||
        !equal(scopes.substr(scopes.size() - outer.size()), outer)) {
        return false;
    }
    const std::size_t before = scopes.size() - outer.size();
    return !how.exact_match || before == 0 ||
           (before >= scope.size() && scopes.substr(before - scope.size(), scope.size()) == scope);
}

bool query::is_qualified() const {
    return holds_scope(pattern);
}

bool query::name_test_applies() const {
    return !pattern.empty() && !how.text_tested;
}

// Compiles the expression and works out the literals its matches need; RE2's message for a
// malformed one.
std::string query::compile() {
    re2::RE2::Options options;
    options.set_log_errors(false);
    options.set_case_sensitive(!how.ignore_case);
    compiled->text = std::make_unique<re2::RE2>(pattern, options);
    if (!compiled->text->ok()) {
        return "Invalid regular expression: " + compiled->text->error();
    }
    // -E with a qualified name: the whole name, or its end from a "::" on.
    std::string name_pattern = pattern;
    if (how.exact_match && is_qualified()) {
        name_pattern = "(?:.*::)?(?:" + pattern + ")";
    }
    compiled->name = std::make_unique<re2::RE2>(name_pattern, options);
    if (is_qualified()) {
        prepare_split(*compiled, pattern, options, how.exact_match);
    }
    // Grouped, a pattern can fail where it compiled alone (an unclosed \Q takes the closing
    // parenthesis in); unless its two parts serve instead, it would match nothing.
    if (!compiled->name->ok() && !compiled->last) {
        return "Invalid regular expression: " + compiled->name->error();
    }
    std::string_view piece = pattern;
    std::string_view outer;
    if (name_test_applies() && is_qualified() && !split_expression(pattern, outer, piece)) {
        return {};
    }
    prepare_filter(*compiled, piece, options);
    return {};
}

bool query::passes_pre_filter(std::string_view content) const {
    if (how.use_regex) {
        if (!compiled->filtered) {
            return true;
        }
        std::vector<int> found;
        for (std::size_t i = 0; i < compiled->atom_pieces.size(); ++i) {
            if (holds_atom(content, compiled->atom_pieces[i])) {
                found.push_back(static_cast<int>(i));
            }
        }
        std::vector<int> potential;
        compiled->filter.AllPotentials(found, &potential);
        return !potential.empty();
    }
    const std::string_view needle = plain_needle();
    const std::size_t found =
        how.ignore_case ? sse2_strcasestr(content, needle) : sse2_strstr(content, needle);
    // A one-byte NUL query "occurs" at the content's end in the terminating NUL.
    return found != npos && found != content.size();
}

bool query::name_matches(std::string_view name) const {
    if (how.use_regex) {
        const re2::RE2& expression = *compiled->name;
        return how.exact_match ? re2::RE2::FullMatch(name, expression)
                               : re2::RE2::PartialMatch(name, expression);
    }
    const std::string_view wanted = pattern;
    if (!how.exact_match) {
        return contains(name, wanted);
    }
    if (equal(name, wanted)) {
        return true;
    }
    // -E Reader::open names ::io::Reader::open, not ::io::MyReader::open.
    return is_qualified() && name.size() >= wanted.size() + scope.size() &&
           equal(name.substr(name.size() - wanted.size()), wanted) &&
           name.substr(name.size() - wanted.size() - scope.size(), scope.size()) == scope;
}

bool query::qualified_name_matches(const scoped_name& name) const {
    if (how.use_regex) {
        if (!compiled->last) {
            return name_matches(name.text);
        }
        const bool last_matches = how.exact_match
                                      ? re2::RE2::FullMatch(name.last(), *compiled->last)
                                      : re2::RE2::PartialMatch(name.last(), *compiled->last);
        return last_matches && re2::RE2::PartialMatch(name.scopes(), *compiled->scopes);
    }
    const std::string_view whole = pattern;
    const std::size_t split = whole.rfind(scope);
    const std::string_view outer = whole.substr(0, split);
    const std::string_view last = whole.substr(split + scope.size());
    const bool last_matches =
        how.exact_match ? equal(name.last(), last) : contains(name.last(), last);
    return last_matches && scopes_match(name.scopes(), outer);
}

bool query::text_matches(std::string_view text) const {
    if (how.use_regex) {
        return re2::RE2::PartialMatch(text, *compiled->text);
    }
    return contains(text, pattern);
}

std::string_view query::plain_needle() const {
    std::string_view needle = pattern;
    // A file that declares open inside class Reader never spells Reader::open.
    if (is_qualified() && name_test_applies()) {
        needle = needle.substr(needle.rfind(scope) + scope.size());
    }
    return needle;
}

std::string_view query::required_bytes() const {
    if (how.use_regex || how.ignore_case) {
        return {};
    }
    return plain_needle();
}

} // namespace search
