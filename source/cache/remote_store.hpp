#pragma once

// The cache's Redis tier (--cache-remote): entries that a team and its CI share, under the same
// keys as the local ones. What the server answers is checked as any entry, and a server that is
// down, slow, full or answers what no server would costs one line on standard error and then
// nothing: the search goes on without it. Each exchange with it ends within a time set by the
// bytes it carries, however the server paces its answer, and no answer is read beyond the
// largest entry.

#include "cache/entry_store.hpp"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct redisContext;

namespace search {

// redis://HOST[:PORT][/DB]
struct remote_address {
    std::string host;
    int port = 6379;
    int database = 0;
};

// False when url is no such address.
bool parse_remote_address(std::string_view url, remote_address& out);

class remote_store final : public entry_store {
public:
    // Connected, or nothing after one line naming url.
    static std::unique_ptr<remote_store> connect(const std::string& url,
                                                 const remote_address& address);
    // Waits for the answers to the values sent.
    ~remote_store() override;
    remote_store(const remote_store&) = delete;
    remote_store& operator=(const remote_store&) = delete;

    // The value under key, when there is one of at most the largest size. Lookups of workers
    // that ask while another's are on their way go to the server together, in one exchange.
    bool find(const cache_key& key, const value_use& use) override;
    // Sends the value with the next exchange, without waiting for the answer; a value above the
    // largest size is not sent.
    void store(const cache_key& key, std::string_view value) override;
    // Says, once for each reason, that an entry the server gave could not be used.
    void refuse_entry(std::string_view reason);

private:
    struct lookup {
        const cache_key* key;
        std::string* value;
        bool found = false;
        bool done = false;
    };

    remote_store(std::string url, redisContext* context);
    void exchange(const std::vector<lookup*>& lookups, const std::vector<std::string>& stores);
    void fail(std::string_view reason);

    std::string url;
    redisContext* context;
    std::mutex lock;
    std::condition_variable answered;
    bool sending = false; // a worker is exchanging with the server; the context is its own
    bool down = false;
    std::vector<std::string> refusals; // the reasons said
    std::vector<lookup*> waiting;
    std::vector<std::string> unsent; // SET commands, each in the server's protocol
};

} // namespace search
