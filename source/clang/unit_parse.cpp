#include "clang/unit_parse.hpp"

#include "base/messages.hpp"
#include "base/progress_line.hpp"
#include "clang/file_arguments.hpp"

#include <cstring>
#include <string>

namespace search {

namespace {

// KeepGoing: go on after fatal errors such as a missing include. IgnoreNonErrorsFromIncludedFiles:
// no warnings from headers. The indexing call takes neither.
constexpr unsigned parse_flags =
    CXTranslationUnit_KeepGoing | CXTranslationUnit_IgnoreNonErrorsFromIncludedFiles;
static_assert(parse_flags == 0x4200);

unsigned flags_with(unit_extras extras) {
    const unsigned record = CXTranslationUnit_DetailedPreprocessingRecord;
    return parse_flags | (extras.macro_definitions ? record : 0u);
}

// Without implicit instantiations the unit holds only what precedes the first of them.
constexpr unsigned index_options =
    CXIndexOpt_SkipParsedBodiesInSession | CXIndexOpt_IndexImplicitTemplateInstantiations;

// What the indexing call's callbacks saw of one unit.
struct index_watch {
    bool include_missing = false;
};

// A missing include is a fatal error, which dooms the unit: the indexing stops at the next
// declaration instead of parsing the rest for nothing.
int stop_after_missing_include(CXClientData data, void*) {
    return static_cast<const index_watch*>(data)->include_missing ? 1 : 0;
}

CXIdxClientFile note_include(CXClientData data, const CXIdxIncludedFileInfo* included) {
    if (included->file == nullptr) {
        static_cast<index_watch*>(data)->include_missing = true;
    }
    return nullptr;
}

// libclang 19 frees the unsaved files of an indexing call before the unit it hands back, which
// still reads them: the file is read from disk, and the bytes read must be those searched.
bool read_as(CXTranslationUnit unit, const char* source, std::string_view content) {
    std::size_t size = 0;
    const char* read = clang_getFileContents(unit, clang_getFile(unit, source), &size);
    return read != nullptr && std::string_view(read, size) == content;
}

bool has_fatal_error(CXTranslationUnit unit) {
    for (unsigned i = 0, count = clang_getNumDiagnostics(unit); i < count; ++i) {
        const diagnostic_handle diagnostic(clang_getDiagnostic(unit, i));
        if (clang_getDiagnosticSeverity(diagnostic.get()) == CXDiagnostic_Fatal) {
            return true;
        }
    }
    return false;
}

// The notes that libclang makes up from where a diagnostic is (the include stack, the macro
// expansions, the modules); printing a unit's diagnostics, libclang leaves them out.
bool is_place_note(CXDiagnostic note) {
    static constexpr std::string_view made_up[] = {"in file included from ",
                                                   "expanded from macro '",
                                                   "expanded from here",
                                                   "(skipping ",
                                                   "in module '",
                                                   "while building module '"};
    const clang_text spelling(clang_getDiagnosticSpelling(note));
    for (std::string_view start : made_up) {
        if (spelling.view().substr(0, start.size()) == start) {
            return true;
        }
    }
    return false;
}

// Adds the diagnostic's line, then those of its notes, as libclang formats them.
void add_diagnostic(std::vector<std::string>& lines, CXDiagnostic diagnostic, bool is_note) {
    if (is_note && is_place_note(diagnostic)) {
        return;
    }
    const clang_text line(
        clang_formatDiagnostic(diagnostic, clang_defaultDiagnosticDisplayOptions()));
    lines.emplace_back(line.view());
    const CXDiagnosticSet notes = clang_getChildDiagnostics(diagnostic);
    for (unsigned i = 0, count = clang_getNumDiagnosticsInSet(notes); i < count; ++i) {
        const diagnostic_handle note(clang_getDiagnosticInSet(notes, i));
        add_diagnostic(lines, note.get(), true);
    }
}

bool takes_cuda_host_header(const std::vector<const char*>& arguments) {
    for (const char* argument : arguments) {
        if (std::strcmp(argument, cuda_host_header_path) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

void add_diagnostic_lines(CXTranslationUnit unit, std::vector<std::string>& lines) {
    for (unsigned i = 0, count = clang_getNumDiagnostics(unit); i < count; ++i) {
        const diagnostic_handle diagnostic(clang_getDiagnostic(unit, i));
        add_diagnostic(lines, diagnostic.get(), false);
    }
}

// libclang's own printing would send a file's name to a terminal as it is.
void print_diagnostic_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        append_line(text, stderr, line);
    }
    if (!text.empty()) {
        const progress_line::pause off_the_terminal(false);
        write_text(stderr, text);
    }
}

parsed_unit parse_in_full(const char* source, const std::vector<const char*>& arguments,
                          std::string_view content, bool verbose, unit_extras extras) {
    parsed_unit parsed;
    parsed.own_index.reset(clang_createIndex(0, 0));
    // The bytes read in place of the file: the parse sees exactly what was hashed and what
    // snippets are cut from, whatever the file holds by now.
    CXUnsavedFile unsaved[] = {{source, content.data(), static_cast<unsigned long>(content.size())},
                               {cuda_host_header_path, cuda_host_header.data(),
                                static_cast<unsigned long>(cuda_host_header.size())}};
    const unsigned unsaved_count = takes_cuda_host_header(arguments) ? 2 : 1;
    CXTranslationUnit made = nullptr;
    const CXErrorCode error = clang_parseTranslationUnit2(
        parsed.own_index.get(), source, arguments.data(), static_cast<int>(arguments.size()),
        unsaved, unsaved_count, flags_with(extras), &made);
    parsed.unit.reset(made);
    parsed.crashed = !parsed.unit && error == CXError_Crashed;
    if (verbose && parsed.unit) {
        std::vector<std::string> lines;
        add_diagnostic_lines(parsed.unit.get(), lines);
        print_diagnostic_lines(lines);
    }
    return parsed;
}

unit_handle indexing_session::parse(const char* source, const std::vector<const char*>& arguments,
                                    std::string_view content, unit_extras extras, bool* crashed) {
    std::call_once(started, [this] { start(); });
    ++attempted;
    IndexerCallbacks callbacks{};
    callbacks.abortQuery = &stop_after_missing_include;
    callbacks.ppIncludedFile = &note_include;
    index_watch watch;
    CXTranslationUnit made = nullptr;
    const int failed = clang_indexSourceFile(
        action.get(), &watch, &callbacks, sizeof callbacks, index_options, source, arguments.data(),
        static_cast<int>(arguments.size()), nullptr, 0, &made, flags_with(extras));
    unit_handle unit(made);
    if (crashed != nullptr && failed == CXError_Crashed) {
        *crashed = true;
        return nullptr;
    }
    if (failed != 0 || !unit || watch.include_missing || has_fatal_error(unit.get()) ||
        !read_as(unit.get(), source, content)) {
        ++fell_back;
        return nullptr;
    }
    return unit;
}

// libclang works out the index's resource directory on its first parse, without a lock: that
// parse happens here, before any other worker can reach the index.
void indexing_session::start() {
    index.reset(clang_createIndex(0, 0));
    action.reset(clang_IndexAction_create(index.get()));
    // An empty source that is always there; not an unsaved file, which libclang 19 frees too
    // early. Without a unit to hand back, the call fails.
    const char* const arguments[] = {"-x", "c++"};
    IndexerCallbacks none{};
    CXTranslationUnit made = nullptr;
    clang_indexSourceFile(action.get(), nullptr, &none, sizeof none, 0, "/dev/null", arguments, 2,
                          nullptr, 0, &made, 0);
    unit_handle(made).reset();
}

parsed_unit parse_unit(indexing_session* session, const char* source,
                       const std::vector<const char*>& arguments, std::string_view content,
                       bool verbose, unit_extras extras) {
    if (session != nullptr) {
        parsed_unit parsed;
        parsed.unit = session->parse(source, arguments, content, extras, &parsed.crashed);
        if (parsed.unit || parsed.crashed) {
            return parsed;
        }
    }
    return parse_in_full(source, arguments, content, verbose, extras);
}

} // namespace search
