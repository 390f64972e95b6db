// libclang (with LLVM behind it) costs about 17 ms to map and initialise, more than walking and
// pre-filtering a thousand files. So the tool does not link it: these definitions of the few
// libclang functions it calls load the library on the first call, from whichever worker gets
// there first, and forward to it. A search whose query occurs in no file never loads it.
#include <clang-c/Index.h>

#include <fmt/format.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct libclang_api {
    decltype(&::clang_createIndex) create_index;
    decltype(&::clang_disposeIndex) dispose_index;
    decltype(&::clang_parseTranslationUnit) parse_translation_unit;
    decltype(&::clang_disposeTranslationUnit) dispose_translation_unit;
    decltype(&::clang_getTranslationUnitCursor) get_translation_unit_cursor;
    decltype(&::clang_visitChildren) visit_children;
    decltype(&::clang_getCursorExtent) get_cursor_extent;
    decltype(&::clang_getRangeStart) get_range_start;
    decltype(&::clang_getRangeEnd) get_range_end;
    decltype(&::clang_getExpansionLocation) get_expansion_location;
    decltype(&::clang_getCursorSpelling) get_cursor_spelling;
    decltype(&::clang_getCString) get_c_string;
    decltype(&::clang_disposeString) dispose_string;
};

[[noreturn]] void fail_to_load(const char* what) {
    std::fflush(stdout);
    fmt::print(stderr, "pyrn: cannot load libclang ({}): {}\n", PYRN_LIBCLANG_PATH, what);
    std::_Exit(2);
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
    resolve(library, "clang_createIndex", api.create_index);
    resolve(library, "clang_disposeIndex", api.dispose_index);
    resolve(library, "clang_parseTranslationUnit", api.parse_translation_unit);
    resolve(library, "clang_disposeTranslationUnit", api.dispose_translation_unit);
    resolve(library, "clang_getTranslationUnitCursor", api.get_translation_unit_cursor);
    resolve(library, "clang_visitChildren", api.visit_children);
    resolve(library, "clang_getCursorExtent", api.get_cursor_extent);
    resolve(library, "clang_getRangeStart", api.get_range_start);
    resolve(library, "clang_getRangeEnd", api.get_range_end);
    resolve(library, "clang_getExpansionLocation", api.get_expansion_location);
    resolve(library, "clang_getCursorSpelling", api.get_cursor_spelling);
    resolve(library, "clang_getCString", api.get_c_string);
    resolve(library, "clang_disposeString", api.dispose_string);
    return api;
}

// Loaded once, thread-safely, and kept until the process ends.
const libclang_api& api() {
    static const libclang_api loaded = load();
    return loaded;
}

} // namespace

extern "C" {

CXIndex clang_createIndex(int exclude_declarations_from_pch, int display_diagnostics) {
    return api().create_index(exclude_declarations_from_pch, display_diagnostics);
}

void clang_disposeIndex(CXIndex index) {
    api().dispose_index(index);
}

CXTranslationUnit clang_parseTranslationUnit(CXIndex index, const char* source_filename,
                                             const char* const* command_line_args,
                                             int num_command_line_args,
                                             struct CXUnsavedFile* unsaved_files,
                                             unsigned num_unsaved_files, unsigned options) {
    return api().parse_translation_unit(index, source_filename, command_line_args,
                                        num_command_line_args, unsaved_files, num_unsaved_files,
                                        options);
}

void clang_disposeTranslationUnit(CXTranslationUnit unit) {
    api().dispose_translation_unit(unit);
}

CXCursor clang_getTranslationUnitCursor(CXTranslationUnit unit) {
    return api().get_translation_unit_cursor(unit);
}

unsigned clang_visitChildren(CXCursor parent, CXCursorVisitor visitor, CXClientData client_data) {
    return api().visit_children(parent, visitor, client_data);
}

CXSourceRange clang_getCursorExtent(CXCursor cursor) {
    return api().get_cursor_extent(cursor);
}

CXSourceLocation clang_getRangeStart(CXSourceRange range) {
    return api().get_range_start(range);
}

CXSourceLocation clang_getRangeEnd(CXSourceRange range) {
    return api().get_range_end(range);
}

void clang_getExpansionLocation(CXSourceLocation location, CXFile* file, unsigned* line,
                                unsigned* column, unsigned* offset) {
    api().get_expansion_location(location, file, line, column, offset);
}

CXString clang_getCursorSpelling(CXCursor cursor) {
    return api().get_cursor_spelling(cursor);
}

const char* clang_getCString(CXString string) {
    return api().get_c_string(string);
}

void clang_disposeString(CXString string) {
    api().dispose_string(string);
}

} // extern "C"
