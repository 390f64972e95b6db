#include "cache/cache_libraries.hpp"

#include "base/shared_library.hpp"

#include <stdexcept>

namespace search {

#define PYRN_LIBRARY_LOAD(name) load_function(library, what, #name, loaded.name);

const redis_library& hiredis() {
    static const redis_library functions = [] {
        const char* what = "hiredis";
        void* library = load_library(PYRN_LIBHIREDIS_PATH);
        redis_library loaded{};
        PYRN_REDIS_FUNCTIONS(PYRN_LIBRARY_LOAD)
        return loaded;
    }();
    return functions;
}

const sodium_library& libsodium() {
    static const sodium_library functions = [] {
        const char* what = "libsodium";
        void* library = load_library(PYRN_LIBSODIUM_PATH);
        sodium_library loaded{};
        PYRN_SODIUM_FUNCTIONS(PYRN_LIBRARY_LOAD)
        if (loaded.sodium_init() < 0) {
            throw std::runtime_error("libsodium cannot start");
        }
        return loaded;
    }();
    return functions;
}

#undef PYRN_LIBRARY_LOAD

} // namespace search
