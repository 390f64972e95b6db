#include "base/shared_library.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace search {

void* load_library(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        throw std::runtime_error(why != nullptr ? why : std::string("cannot load ") + path);
    }
    return library;
}

void* library_function(void* library, const char* what, const char* name) {
    void* function = dlsym(library, name);
    if (function == nullptr) {
        throw std::runtime_error(std::string(what) + " lacks " + name);
    }
    return function;
}

} // namespace search
