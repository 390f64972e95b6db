#include "cache/remote_store.hpp"

#include "base/messages.hpp"

#include <fmt/format.h>
#include <hiredis/hiredis.h>

#include <sys/time.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

namespace search {

namespace {

// A server that needs longer than this to connect or to answer is taken as away, which costs
// every parse after it: a loaded machine can keep a server from answering for half a second.
constexpr timeval time_allowed{2, 0};
constexpr const char* no_answer = "no answer within 2 s";
// An entry above this size is neither sent nor taken: no source file comes near it.
constexpr std::size_t largest_value = 8u << 20;

// Entries live under "pyrn:" and the 16 bytes of their key.
constexpr std::string_view key_prefix = "pyrn:";

std::string server_key(const remote_key& key) {
    std::string text(key_prefix);
    text.append(reinterpret_cast<const char*>(key.data()), key.size());
    return text;
}

bool parse_number(std::string_view text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

// What went wrong with the context, for the line on standard error.
std::string context_failure(const redisContext* context) {
    if (context == nullptr) {
        return "cannot allocate a connection";
    }
    if (context->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return no_answer;
    }
    if (context->err == REDIS_ERR_EOF) {
        return "the server closed the connection";
    }
    return context->errstr[0] != '\0' ? context->errstr : "connection failed";
}

struct reply_freer {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using reply_handle = std::unique_ptr<redisReply, reply_freer>;

// The next reply, or nothing with the reason.
reply_handle next_reply(redisContext* context, std::string& reason) {
    void* reply = nullptr;
    if (redisGetReply(context, &reply) != REDIS_OK || reply == nullptr) {
        reason = context_failure(context);
        return nullptr;
    }
    return reply_handle(static_cast<redisReply*>(reply));
}

// A reply that is neither what was asked nor an error the server explains.
std::string unexpected(const redisReply& reply) {
    if (reply.type == REDIS_REPLY_ERROR) {
        return fmt::format("the server refused: {}", std::string_view(reply.str, reply.len));
    }
    return "the server answered what no Redis server would";
}

} // namespace

bool parse_remote_address(std::string_view url, remote_address& out) {
    constexpr std::string_view scheme = "redis://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        return false;
    }
    url.remove_prefix(scheme.size());
    remote_address address;
    if (!url.empty() && url[0] == '[') { // [IPv6]
        const std::size_t close = url.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        address.host = std::string(url.substr(1, close - 1));
        url.remove_prefix(close + 1);
    } else {
        const std::size_t end = url.find_first_of(":/");
        address.host = std::string(url.substr(0, end));
        url.remove_prefix(end == std::string_view::npos ? url.size() : end);
    }
    if (address.host.empty()) {
        return false;
    }
    if (!url.empty() && url[0] == ':') {
        const std::size_t end = url.find('/');
        if (!parse_number(url.substr(1, end == std::string_view::npos ? end : end - 1), 1, 65535,
                          address.port)) {
            return false;
        }
        url.remove_prefix(end == std::string_view::npos ? url.size() : end);
    }
    if (!url.empty() && !parse_number(url.substr(1), 0, 1 << 20, address.database)) {
        return false;
    }
    out = std::move(address);
    return true;
}

std::unique_ptr<remote_store> remote_store::connect(const std::string& url,
                                                    const remote_address& address) {
    redisContext* context =
        redisConnectWithTimeout(address.host.c_str(), address.port, time_allowed);
    std::string reason;
    if (context == nullptr || context->err != 0 ||
        redisSetTimeout(context, time_allowed) != REDIS_OK) {
        reason = context_failure(context);
    } else if (address.database != 0) {
        const reply_handle selected(
            static_cast<redisReply*>(redisCommand(context, "SELECT %d", address.database)));
        if (!selected) {
            reason = context_failure(context);
        } else if (selected->type != REDIS_REPLY_STATUS) {
            reason = unexpected(*selected);
        }
    }
    if (!reason.empty()) {
        report(url, reason);
        redisFree(context);
        return nullptr;
    }
    return std::unique_ptr<remote_store>(new remote_store(url, context));
}

remote_store::remote_store(std::string url, redisContext* context)
    : url(std::move(url)), context(context) {}

remote_store::~remote_store() {
    if (!down && !unsent.empty()) {
        exchange({}, unsent);
    }
    redisFree(context);
}

bool remote_store::find(const remote_key& key, std::string& value) {
    std::unique_lock<std::mutex> hold(lock);
    lookup mine{&key, &value};
    waiting.push_back(&mine);
    while (!mine.done) {
        if (sending) {
            answered.wait(hold);
            continue;
        }
        sending = true;
        std::vector<lookup*> lookups;
        std::vector<std::string> stores;
        lookups.swap(waiting);
        stores.swap(unsent);
        const bool away = down;
        hold.unlock();
        if (!away) {
            exchange(lookups, stores);
        }
        hold.lock();
        for (lookup* done : lookups) {
            done->done = true;
        }
        sending = false;
        answered.notify_all();
    }
    return mine.found;
}

void remote_store::store(const remote_key& key, std::string_view value) {
    if (value.size() > largest_value) {
        return;
    }
    const std::string name = server_key(key);
    char* command = nullptr;
    const int length = redisFormatCommand(&command, "SET %b %b", name.data(), name.size(),
                                          value.data(), value.size());
    if (length < 0) {
        return;
    }
    std::string formatted(command, static_cast<std::size_t>(length));
    redisFreeCommand(command);
    const std::lock_guard<std::mutex> hold(lock);
    if (!down) {
        unsent.push_back(std::move(formatted));
    }
}

void remote_store::refuse_entry() {
    const std::lock_guard<std::mutex> hold(lock);
    if (!refused && !down) {
        refused = true;
        report(url, "an entry that is damaged or of another version was not used");
    }
}

// Sends the stores and the lookups at once and reads their answers. Runs with the context to
// itself (sending), outside the lock; a failure marks the store away and ends the lookups.
void remote_store::exchange(const std::vector<lookup*>& lookups,
                            const std::vector<std::string>& stores) {
    std::string reason;
    for (const std::string& command : stores) {
        redisAppendFormattedCommand(context, command.data(), command.size());
    }
    for (const lookup* each : lookups) {
        const std::string name = server_key(*each->key);
        redisAppendCommand(context, "GET %b", name.data(), name.size());
    }
    for (std::size_t i = 0; i < stores.size() && reason.empty(); ++i) {
        const reply_handle reply = next_reply(context, reason);
        if (reply && reply->type != REDIS_REPLY_STATUS) {
            reason = unexpected(*reply);
        }
    }
    for (std::size_t i = 0; i < lookups.size() && reason.empty(); ++i) {
        const reply_handle reply = next_reply(context, reason);
        if (!reply || reply->type == REDIS_REPLY_NIL) {
            continue;
        }
        if (reply->type != REDIS_REPLY_STRING) {
            reason = unexpected(*reply);
        } else if (static_cast<std::size_t>(reply->len) <= largest_value) {
            lookups[i]->value->assign(reply->str, static_cast<std::size_t>(reply->len));
            lookups[i]->found = true;
        }
    }
    if (!reason.empty()) {
        for (lookup* each : lookups) {
            each->found = false;
        }
        fail(reason);
    }
}

void remote_store::fail(std::string_view reason) {
    const std::lock_guard<std::mutex> hold(lock);
    if (!down) {
        down = true;
        unsent.clear();
        report(url, reason);
    }
}

} // namespace search
