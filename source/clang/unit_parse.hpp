#pragma once

// The two roads to a file's translation unit. The full parse reads every header with all its
// function bodies, for every file. The indexing session, shared by the workers of a run, skips
// the function bodies of header regions that an earlier unit of the run parsed (and those of
// system headers); the searched file's own bodies are always parsed, and only its cursors are
// ever reported.

#include "clang/clang_handles.hpp"

#include <clang-c/Index.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace search {

using action_handle = clang_handle<CXIndexAction, clang_IndexAction_dispose>;

// A unit with the index it was made in, when it has one of its own: the unit goes first.
// crashed: libclang made none because it crashed, not because it refused the file.
struct parsed_unit {
    index_handle own_index;
    unit_handle unit;
    bool crashed = false;
};

// What a unit holds beyond declarations and code: the macro definitions (libclang's detailed
// preprocessing record), which cost every parse that keeps them.
struct unit_extras {
    bool macro_definitions = false;
};

// Parses content, the bytes read of source, on its own, every header with all its bodies;
// its diagnostics are printed when verbose is set. The unit is null when libclang made none.
parsed_unit parse_in_full(const char* source, const std::vector<const char*>& arguments,
                          std::string_view content, bool verbose, unit_extras extras = {});

class indexing_session {
public:
    indexing_session() = default;
    indexing_session(const indexing_session&) = delete;
    indexing_session& operator=(const indexing_session&) = delete;

    // The unit of source, whose bytes are content, with the bodies of headers already parsed
    // skipped; or null when this road cannot stand for the full parse: the call failed, an
    // include was missing, a fatal error was raised, or the file libclang read was no longer
    // content. The indexing call cannot go on after a fatal error as the full parse does, and
    // stops instantiating templates, which drops cursors of the file.
    unit_handle parse(const char* source, const std::vector<const char*>& arguments,
                      std::string_view content, unit_extras extras = {}, bool* crashed = nullptr);

    // Counts a unit asked of a parse worker's session, which made it (made) or could not.
    void count(bool made) {
        ++attempted;
        if (!made) {
            ++fell_back;
        }
    }

    // Units asked for, and those that had to be parsed in full instead.
    std::uint64_t attempts() const { return attempted; }
    std::uint64_t fallbacks() const { return fell_back; }

private:
    void start();

    std::once_flag started;
    // Declared in this order so that the action is disposed of before its index.
    index_handle index;
    action_handle action;
    std::atomic<std::uint64_t> attempted{0};
    std::atomic<std::uint64_t> fell_back{0};
};

// The lines of a unit's diagnostics and their notes, as libclang formats them, added to lines.
void add_diagnostic_lines(CXTranslationUnit unit, std::vector<std::string>& lines);

// Diagnostic lines on standard error, shown, in one write.
void print_diagnostic_lines(const std::vector<std::string>& lines);

// The session's unit when it can make one, otherwise the full parse's. A crash of the session's
// parse is the file's: it is not parsed again in full.
parsed_unit parse_unit(indexing_session* session, const char* source,
                       const std::vector<const char*>& arguments, std::string_view content,
                       bool verbose, unit_extras extras = {});

} // namespace search
