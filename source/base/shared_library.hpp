#pragma once

// Libraries that few runs need, loaded on first use rather than before main: linked, each would
// cost every run its loading and relocation.

namespace search {

// The library at path, loaded for the rest of the process; throws std::runtime_error, saying
// why, when it cannot be.
void* load_library(const char* path);

// The function name of library, or a std::runtime_error that names it and the library (as
// what).
void* library_function(void* library, const char* what, const char* name);

template <class Function>
void load_function(void* library, const char* what, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(library_function(library, what, name));
}

} // namespace search
