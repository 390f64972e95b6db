#pragma once

// hiredis and libsodium, loaded on first use: only --cache-remote needs the one and only
// --cache-key the other.

#include <hiredis/hiredis.h>
#include <sodium.h>

namespace search {

// The functions pyrn calls, each named once and loaded as the field of its name.
#define PYRN_REDIS_FUNCTIONS(FUNCTION)                                                             \
    FUNCTION(redisConnectWithTimeout)                                                              \
    FUNCTION(redisFree)
#define PYRN_SODIUM_FUNCTIONS(FUNCTION)                                                            \
    FUNCTION(sodium_init)                                                                          \
    FUNCTION(sodium_memzero)                                                                       \
    FUNCTION(crypto_generichash)                                                                   \
    FUNCTION(crypto_auth)                                                                          \
    FUNCTION(crypto_auth_verify)

#define PYRN_LIBRARY_FIELD(name) decltype(&::name) name;
struct redis_library {
    PYRN_REDIS_FUNCTIONS(PYRN_LIBRARY_FIELD)
};
struct sodium_library {
    PYRN_SODIUM_FUNCTIONS(PYRN_LIBRARY_FIELD)
};
#undef PYRN_LIBRARY_FIELD

// Each library's functions, loaded once; throws std::runtime_error, saying why, when it cannot
// be. libsodium is started too.
const redis_library& hiredis();
const sodium_library& libsodium();

} // namespace search
