#pragma once

// The team's secret of --cache-key, with which entries are authenticated (libsodium's
// crypto_auth, HMAC-SHA-512-256): whoever can write to a shared server but lacks the secret
// cannot make an entry that a search holding it takes.

#include "cache/cache_place.hpp"

#include <array>
#include <string>
#include <string_view>

namespace search {

struct entry_secret {
    std::array<unsigned char, 32> bytes{};
};

using entry_mac = std::array<unsigned char, 32>;

// The secret in a key file, derived from its bytes (a line end after them is not part of
// them). Refuses, saying why, a file that is not a regular file of the user, that another user
// can read or write, or that holds fewer than 32 bytes or more than 4 KiB.
bool read_entry_secret(const std::string& path, entry_secret& out, refusal& why);

entry_mac mac_of(const entry_secret& secret, std::string_view bytes);
bool mac_holds(const entry_secret& secret, std::string_view bytes, const entry_mac& mac);

} // namespace search
