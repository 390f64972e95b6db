#pragma once

// Where the cache's values live: a tier that finds and stores values by key. The SQLite
// database of --cache, the Redis server of --cache-remote, or nothing.

#include "cache/entry_format.hpp"

#include <functional>
#include <string_view>

namespace search {

// Takes a value found; false when it does not serve, and the lookup is then a miss.
using value_use = std::function<bool(std::string_view)>;

class entry_store {
public:
    virtual ~entry_store() = default;
    // Hands the value under key to use, valid for the call only; false when there is none or
    // use returns false.
    virtual bool find(const cache_key& key, const value_use& use) = 0;
    // Keeps value under key, or, when it cannot, leaves it: a store never fails a search.
    virtual void store(const cache_key& key, std::string_view value) = 0;
};

// The tier that is not there.
class null_store final : public entry_store {
public:
    bool find(const cache_key&, const value_use&) override { return false; }
    void store(const cache_key&, std::string_view) override {}
};

} // namespace search
