// libclang (with LLVM behind it) costs about 17 ms to map and initialise, more than walking and
// pre-filtering a thousand files. So the tool does not link it: these definitions of the few
// libclang functions it calls load the library on the first call, from whichever worker gets
// there first, and forward to it. A search whose query occurs in no file never loads it.
#include "clang/libclang_loader.hpp"

#include "core/search_types.hpp"

#include <clang-c/Index.h>

#include <fmt/format.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Each libclang function the tool calls; the loader fills one pointer of the same name for each.
#define PYRN_LIBCLANG_FUNCTIONS(X)                                                                 \
    X(clang_createIndex)                                                                           \
    X(clang_disposeIndex)                                                                          \
    X(clang_parseTranslationUnit)                                                                  \
    X(clang_parseTranslationUnit2)                                                                 \
    X(clang_IndexAction_create)                                                                    \
    X(clang_IndexAction_dispose)                                                                   \
    X(clang_indexSourceFile)                                                                       \
    X(clang_disposeTranslationUnit)                                                                \
    X(clang_getTranslationUnitCursor)                                                              \
    X(clang_visitChildren)                                                                         \
    X(clang_getCursorExtent)                                                                       \
    X(clang_getRangeStart)                                                                         \
    X(clang_getRangeEnd)                                                                           \
    X(clang_getExpansionLocation)                                                                  \
    X(clang_getFileLocation)                                                                       \
    X(clang_getSpellingLocation)                                                                   \
    X(clang_getTranslationUnitSpelling)                                                            \
    X(clang_getCursorLocation)                                                                     \
    X(clang_Location_isFromMainFile)                                                               \
    X(clang_File_isEqual)                                                                          \
    X(clang_getCursorSpelling)                                                                     \
    X(clang_getCString)                                                                            \
    X(clang_disposeString)                                                                         \
    X(clang_getNumDiagnostics)                                                                     \
    X(clang_getDiagnostic)                                                                         \
    X(clang_getDiagnosticSpelling)                                                                 \
    X(clang_getDiagnosticSeverity)                                                                 \
    X(clang_getDiagnosticLocation)                                                                 \
    X(clang_disposeDiagnostic)                                                                     \
    X(clang_formatDiagnostic)                                                                      \
    X(clang_defaultDiagnosticDisplayOptions)                                                       \
    X(clang_getChildDiagnostics)                                                                   \
    X(clang_getNumDiagnosticsInSet)                                                                \
    X(clang_getDiagnosticInSet)                                                                    \
    X(clang_getInclusions)                                                                         \
    X(clang_getFileName)                                                                           \
    X(clang_getFile)                                                                               \
    X(clang_getFileContents)                                                                       \
    X(clang_getCursorSemanticParent)                                                               \
    X(clang_getCursorLexicalParent)                                                                \
    X(clang_getCursorReferenced)                                                                   \
    X(clang_Cursor_isNull)                                                                         \
    X(clang_isDeclaration)                                                                         \
    X(clang_Cursor_isAnonymous)                                                                    \
    X(clang_Cursor_isInlineNamespace)                                                              \
    X(clang_hashCursor)                                                                            \
    X(clang_equalCursors)

struct libclang_api {
#define PYRN_POINTER(name) decltype(&::name) name;
    PYRN_LIBCLANG_FUNCTIONS(PYRN_POINTER)
#undef PYRN_POINTER
};

[[noreturn]] void fail_to_load(const char* what) {
    throw search::search_stopped{2, stderr,
                                 fmt::format("pyrn: cannot load libclang ({}): {}\n",
                                             PYRN_LIBCLANG_PATH, what == nullptr ? "" : what)};
}

template <class Function> void resolve(void* library, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(dlsym(library, name));
    if (slot == nullptr) {
        fail_to_load(name);
    }
}

libclang_api load() {
    // dlsym on this handle finds libclang's own definitions, never the ones below.
    void* library = dlopen(PYRN_LIBCLANG_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        fail_to_load(dlerror());
    }
    libclang_api api{};
#define PYRN_RESOLVE(name) resolve(library, #name, api.name);
    PYRN_LIBCLANG_FUNCTIONS(PYRN_RESOLVE)
#undef PYRN_RESOLVE
    return api;
}

// Loaded once, thread-safely, and kept until the process ends.
const libclang_api& api() {
    static const libclang_api loaded = load();
    return loaded;
}

} // namespace

const char* libclang_library_path() {
    return PYRN_LIBCLANG_PATH;
}

// Each definition forwards to the loaded function of its name.
#define PYRN_FORWARD(result, name, parameters, arguments)                                          \
    result name parameters {                                                                       \
        return api().name arguments;                                                               \
    }

extern "C" {

PYRN_FORWARD(CXIndex, clang_createIndex,
             (int exclude_declarations_from_pch, int display_diagnostics),
             (exclude_declarations_from_pch, display_diagnostics))
PYRN_FORWARD(void, clang_disposeIndex, (CXIndex index), (index))
PYRN_FORWARD(CXTranslationUnit, clang_parseTranslationUnit,
             (CXIndex index, const char* source_filename, const char* const* command_line_args,
              int num_command_line_args, struct CXUnsavedFile* unsaved_files,
              unsigned num_unsaved_files, unsigned options),
             (index, source_filename, command_line_args, num_command_line_args, unsaved_files,
              num_unsaved_files, options))
PYRN_FORWARD(enum CXErrorCode, clang_parseTranslationUnit2,
             (CXIndex index, const char* source_filename, const char* const* command_line_args,
              int num_command_line_args, struct CXUnsavedFile* unsaved_files,
              unsigned num_unsaved_files, unsigned options, CXTranslationUnit* out_unit),
             (index, source_filename, command_line_args, num_command_line_args, unsaved_files,
              num_unsaved_files, options, out_unit))
PYRN_FORWARD(void, clang_disposeTranslationUnit, (CXTranslationUnit unit), (unit))
PYRN_FORWARD(CXIndexAction, clang_IndexAction_create, (CXIndex index), (index))
PYRN_FORWARD(void, clang_IndexAction_dispose, (CXIndexAction action), (action))
PYRN_FORWARD(int, clang_indexSourceFile,
             (CXIndexAction action, CXClientData client_data, IndexerCallbacks* callbacks,
              unsigned callbacks_size, unsigned index_options, const char* source_filename,
              const char* const* command_line_args, int num_command_line_args,
              struct CXUnsavedFile* unsaved_files, unsigned num_unsaved_files,
              CXTranslationUnit* out_unit, unsigned unit_options),
             (action, client_data, callbacks, callbacks_size, index_options, source_filename,
              command_line_args, num_command_line_args, unsaved_files, num_unsaved_files, out_unit,
              unit_options))
PYRN_FORWARD(CXCursor, clang_getTranslationUnitCursor, (CXTranslationUnit unit), (unit))
PYRN_FORWARD(unsigned, clang_visitChildren,
             (CXCursor parent, CXCursorVisitor visitor, CXClientData client_data),
             (parent, visitor, client_data))
PYRN_FORWARD(CXSourceRange, clang_getCursorExtent, (CXCursor cursor), (cursor))
PYRN_FORWARD(CXSourceLocation, clang_getRangeStart, (CXSourceRange range), (range))
PYRN_FORWARD(CXSourceLocation, clang_getRangeEnd, (CXSourceRange range), (range))
PYRN_FORWARD(void, clang_getExpansionLocation,
             (CXSourceLocation location, CXFile* file, unsigned* line, unsigned* column,
              unsigned* offset),
             (location, file, line, column, offset))
PYRN_FORWARD(void, clang_getFileLocation,
             (CXSourceLocation location, CXFile* file, unsigned* line, unsigned* column,
              unsigned* offset),
             (location, file, line, column, offset))
PYRN_FORWARD(void, clang_getSpellingLocation,
             (CXSourceLocation location, CXFile* file, unsigned* line, unsigned* column,
              unsigned* offset),
             (location, file, line, column, offset))
PYRN_FORWARD(CXString, clang_getTranslationUnitSpelling, (CXTranslationUnit unit), (unit))
PYRN_FORWARD(CXSourceLocation, clang_getCursorLocation, (CXCursor cursor), (cursor))
PYRN_FORWARD(int, clang_Location_isFromMainFile, (CXSourceLocation location), (location))
PYRN_FORWARD(int, clang_File_isEqual, (CXFile a, CXFile b), (a, b))
PYRN_FORWARD(CXString, clang_getCursorSpelling, (CXCursor cursor), (cursor))
PYRN_FORWARD(const char*, clang_getCString, (CXString string), (string))
PYRN_FORWARD(void, clang_disposeString, (CXString string), (string))
PYRN_FORWARD(unsigned, clang_getNumDiagnostics, (CXTranslationUnit unit), (unit))
PYRN_FORWARD(CXDiagnostic, clang_getDiagnostic, (CXTranslationUnit unit, unsigned index),
             (unit, index))
PYRN_FORWARD(CXString, clang_getDiagnosticSpelling, (CXDiagnostic diagnostic), (diagnostic))
PYRN_FORWARD(enum CXDiagnosticSeverity, clang_getDiagnosticSeverity, (CXDiagnostic diagnostic),
             (diagnostic))
PYRN_FORWARD(CXSourceLocation, clang_getDiagnosticLocation, (CXDiagnostic diagnostic), (diagnostic))
PYRN_FORWARD(void, clang_disposeDiagnostic, (CXDiagnostic diagnostic), (diagnostic))
PYRN_FORWARD(CXString, clang_formatDiagnostic, (CXDiagnostic diagnostic, unsigned options),
             (diagnostic, options))
PYRN_FORWARD(unsigned, clang_defaultDiagnosticDisplayOptions, (void), ())
PYRN_FORWARD(CXDiagnosticSet, clang_getChildDiagnostics, (CXDiagnostic diagnostic), (diagnostic))
PYRN_FORWARD(unsigned, clang_getNumDiagnosticsInSet, (CXDiagnosticSet set), (set))
PYRN_FORWARD(CXDiagnostic, clang_getDiagnosticInSet, (CXDiagnosticSet set, unsigned index),
             (set, index))
PYRN_FORWARD(void, clang_getInclusions,
             (CXTranslationUnit unit, CXInclusionVisitor visitor, CXClientData data),
             (unit, visitor, data))
PYRN_FORWARD(CXString, clang_getFileName, (CXFile file), (file))
PYRN_FORWARD(CXFile, clang_getFile, (CXTranslationUnit unit, const char* file_name),
             (unit, file_name))
PYRN_FORWARD(const char*, clang_getFileContents,
             (CXTranslationUnit unit, CXFile file, size_t* size), (unit, file, size))
PYRN_FORWARD(CXCursor, clang_getCursorSemanticParent, (CXCursor cursor), (cursor))
PYRN_FORWARD(CXCursor, clang_getCursorLexicalParent, (CXCursor cursor), (cursor))
PYRN_FORWARD(CXCursor, clang_getCursorReferenced, (CXCursor cursor), (cursor))
PYRN_FORWARD(int, clang_Cursor_isNull, (CXCursor cursor), (cursor))
PYRN_FORWARD(unsigned, clang_isDeclaration, (enum CXCursorKind kind), (kind))
PYRN_FORWARD(unsigned, clang_Cursor_isAnonymous, (CXCursor cursor), (cursor))
PYRN_FORWARD(unsigned, clang_Cursor_isInlineNamespace, (CXCursor cursor), (cursor))
PYRN_FORWARD(unsigned, clang_hashCursor, (CXCursor cursor), (cursor))
PYRN_FORWARD(unsigned, clang_equalCursors, (CXCursor a, CXCursor b), (a, b))

} // extern "C"

#undef PYRN_FORWARD
