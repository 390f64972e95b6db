#include "cache/remote_store.hpp"

#include "base/messages.hpp"
#include "cache/cache_libraries.hpp"

#include <fmt/format.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace search {

namespace {

using steady = std::chrono::steady_clock;

// A server that needs longer than this to connect or to answer is taken as away, which costs
// every parse after it: a loaded machine can keep a server from answering for half a second.
constexpr timeval time_allowed{2, 0};
constexpr std::chrono::seconds exchange_time_allowed{2};
// An exchange is allowed a microsecond more for each byte it carries (about 1 MB/s): a slow link
// moves large entries in time, a server that drips its answer a byte at a time does not.
constexpr std::chrono::microseconds time_per_byte{1};
constexpr const char* no_answer = "no answer within 2 s";
constexpr const char* garbage = "the server answered what no Redis server would";
// An entry above this size is neither sent nor taken: no source file comes near it.
constexpr std::size_t largest_value = 8u << 20;
// A status or error line, or a bulk string's length, ends within this many bytes.
constexpr std::size_t longest_line = 64u << 10;

// Entries live under "pyrn:" and the 16 bytes of their key.
constexpr std::string_view key_prefix = "pyrn:";

std::string server_key(const cache_key& key) {
    std::string text(key_prefix);
    text.append(reinterpret_cast<const char*>(key.data()), key.size());
    return text;
}

// A command in the server's protocol: an array of bulk strings.
std::string command_of(std::initializer_list<std::string_view> words) {
    std::string command = fmt::format("*{}\r\n", words.size());
    for (std::string_view word : words) {
        command += fmt::format("${}\r\n", word.size());
        command.append(word);
        command += "\r\n";
    }
    return command;
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

// What went wrong with a connection that hiredis made, for the line on standard error.
std::string context_failure(const redisContext* context) {
    if (context == nullptr) {
        return "cannot allocate a connection";
    }
    if (context->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return no_answer;
    }
    return context->errstr[0] != '\0' ? context->errstr : "connection failed";
}

// One reply of the server, viewing the bytes read: a status ('+'), an error ('-'), or a bulk
// string ('$'), which may be nil. The commands sent have no other replies.
struct server_reply {
    char type = 0;
    std::string_view text;
    bool nil = false;
};

enum class framing { whole, partial, malformed, too_long };

// The reply at the front of input and its size, read before any of it is kept: a bulk string's
// length is known from its first line, and one above the largest entry is never waited for.
framing frame_reply(std::string_view input, server_reply& reply, std::size_t& size) {
    const std::size_t line_end = input.substr(0, longest_line).find("\r\n");
    if (line_end == std::string_view::npos) {
        return input.size() >= longest_line ? framing::malformed : framing::partial;
    }
    const char type = input[0];
    const std::string_view line = input.substr(1, line_end - 1);
    size = line_end + 2;
    if (type == '+' || type == '-') {
        reply = {type, line, false};
        return framing::whole;
    }
    if (type != '$') {
        return framing::malformed;
    }
    if (line == "-1") {
        reply = {type, {}, true};
        return framing::whole;
    }
    std::uint64_t length = 0;
    const auto [stop, error] = std::from_chars(line.data(), line.data() + line.size(), length);
    if (line.empty() || error != std::errc() || stop != line.data() + line.size()) {
        return framing::malformed;
    }
    if (length > largest_value) {
        return framing::too_long;
    }
    if (input.size() - size < length + 2) {
        return framing::partial;
    }
    if (input.substr(size + length, 2) != "\r\n") {
        return framing::malformed;
    }
    reply = {type, input.substr(size, length), false};
    size += length + 2;
    return framing::whole;
}

// One exchange with the server: its commands go out and its replies come in while the socket is
// ready, within one deadline for the whole exchange.
class conversation {
public:
    conversation(int fd, std::string commands)
        : fd(fd), out(std::move(commands)),
          deadline(steady::now() + exchange_time_allowed +
                   time_per_byte * static_cast<std::int64_t>(out.size())) {}

    // The next reply, valid until the next call; false with the reason when there is none.
    bool next(server_reply& reply, std::string& reason) {
        if (pos > 0 && pos >= in.size() / 2) {
            in.erase(0, pos);
            pos = 0;
        }
        for (;;) {
            std::size_t size = 0;
            switch (frame_reply(std::string_view(in).substr(pos), reply, size)) {
            case framing::whole:
                pos += size;
                return true;
            case framing::malformed:
                reason = garbage;
                return false;
            case framing::too_long:
                reason = "the server sent an entry above 8 MiB";
                return false;
            case framing::partial:
                break;
            }
            if (!wait_and_move(reason)) {
                return false;
            }
        }
    }

private:
    // Waits until the socket is ready or the deadline passes, then sends what it takes and
    // reads what came.
    bool wait_and_move(std::string& reason) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now());
        pollfd ready{fd, static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
        const int count = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (count < 0 && errno == EINTR) {
            return true;
        }
        if (count <= 0) {
            reason = count == 0 ? no_answer : std::strerror(errno);
            return false;
        }
        if ((ready.revents & POLLOUT) != 0 && !send_some(reason)) {
            return false;
        }
        return (ready.revents & (POLLIN | POLLHUP | POLLERR)) == 0 || receive_some(reason);
    }

    bool send_some(std::string& reason) {
        const ssize_t done =
            send(fd, out.data() + sent, out.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (done < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            reason = std::strerror(errno);
            return false;
        }
        sent += done > 0 ? static_cast<std::size_t>(done) : 0;
        return true;
    }

    bool receive_some(std::string& reason) {
        constexpr std::size_t piece = 64u << 10;
        const std::size_t held = in.size();
        in.resize(held + piece);
        const ssize_t got = recv(fd, in.data() + held, piece, MSG_DONTWAIT);
        in.resize(held + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got == 0) {
            reason = "the server closed the connection";
            return false;
        }
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            reason = std::strerror(errno);
            return false;
        }
        deadline += time_per_byte * static_cast<std::int64_t>(std::max<ssize_t>(got, 0));
        return true;
    }

    int fd;
    std::string out;
    std::size_t sent = 0;
    std::string in;
    std::size_t pos = 0; // of the first byte not yet taken
    steady::time_point deadline;
};

// A reply that is neither what was asked nor an error the server explains.
std::string unexpected(const server_reply& reply) {
    if (reply.type == '-') {
        return fmt::format("the server refused: {}", reply.text);
    }
    return garbage;
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
    const redis_library* redis = nullptr;
    try {
        redis = &hiredis();
    } catch (const std::runtime_error& error) {
        report(url, error.what());
        return nullptr;
    }
    redisContext* context =
        redis->redisConnectWithTimeout(address.host.c_str(), address.port, time_allowed);
    std::string reason;
    if (context == nullptr || context->err != 0) {
        reason = context_failure(context);
    } else if (address.database != 0) {
        conversation select(context->fd, command_of({"SELECT", std::to_string(address.database)}));
        server_reply reply;
        if (select.next(reply, reason) && reply.type != '+') {
            reason = unexpected(reply);
        }
    }
    if (!reason.empty()) {
        report(url, reason);
        redis->redisFree(context);
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
    hiredis().redisFree(context);
}

bool remote_store::find(const cache_key& key, const value_use& use) {
    std::string value;
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
    hold.unlock();
    return mine.found && use(value);
}

void remote_store::store(const cache_key& key, std::string_view value) {
    if (value.size() > largest_value) {
        return;
    }
    std::string command = command_of({"SET", server_key(key), value});
    const std::lock_guard<std::mutex> hold(lock);
    if (!down) {
        unsent.push_back(std::move(command));
    }
}

void remote_store::refuse_entry(std::string_view reason) {
    const std::lock_guard<std::mutex> hold(lock);
    if (!down && std::find(refusals.begin(), refusals.end(), reason) == refusals.end()) {
        refusals.emplace_back(reason);
        report(url, reason);
    }
}

// Sends the stores and the lookups at once and reads their answers. Runs with the connection to
// itself (sending), outside the lock; a failure marks the store away and ends the lookups.
void remote_store::exchange(const std::vector<lookup*>& lookups,
                            const std::vector<std::string>& stores) {
    std::string commands;
    for (const std::string& command : stores) {
        commands += command;
    }
    for (const lookup* each : lookups) {
        commands += command_of({"GET", server_key(*each->key)});
    }
    conversation talk(context->fd, std::move(commands));
    std::string reason;
    server_reply reply;
    for (std::size_t i = 0; i < stores.size() && reason.empty(); ++i) {
        if (talk.next(reply, reason) && reply.type != '+') {
            reason = unexpected(reply);
        }
    }
    for (std::size_t i = 0; i < lookups.size() && reason.empty(); ++i) {
        if (!talk.next(reply, reason) || reply.nil) {
            continue;
        }
        if (reply.type != '$') {
            reason = unexpected(reply);
        } else {
            lookups[i]->value->assign(reply.text);
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
