// Test labels: threads (run under ThreadSanitizer too)
// Searches with the cache's Redis tier (--cache-remote), against a redis-server of their own on a
// free port of the loopback: two checkouts share it, and whatever the server does, the output
// stays that of a search without a cache.
#include "cache_runs.hpp"
#include "loopback.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <lz4.h>
#include <xxhash.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testing_support::answered_from_cache;
using testing_support::joined;
using testing_support::process_result;
using testing_support::run_in;
using testing_support::run_process;
using testing_support::temp_tree;

// A socket listening on a free port of 127.0.0.1 that never accepts: connections complete in
// its backlog, and nothing ever answers.
using silent_server = testing_support::loopback_listener;

// A server on the loopback that takes one connection and, once a request came, answers what
// answer writes on the socket, until stop (at most 30 s later).
class fake_server {
public:
    explicit fake_server(std::function<void(int fd, const std::atomic<bool>& stop)> answer) {
        worker = std::thread([this, answer] {
            pollfd waiting{listener.fd, POLLIN, 0};
            if (poll(&waiting, 1, 30'000) != 1) {
                return;
            }
            const int fd = accept(listener.fd, nullptr, nullptr);
            char request[4096];
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 30'000) == 1 && recv(fd, request, sizeof request, 0) > 0) {
                answer(fd, stop);
            }
            close(fd);
        });
    }
    ~fake_server() {
        stop = true;
        worker.join();
    }
    fake_server(const fake_server&) = delete;
    fake_server& operator=(const fake_server&) = delete;

    std::string url() const { return "redis://127.0.0.1:" + std::to_string(listener.port); }

    // Sends all of bytes unless the client goes or the server stops; false then.
    static bool send_all(int fd, std::string_view bytes, const std::atomic<bool>& stop) {
        while (!bytes.empty() && !stop) {
            const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return bytes.empty();
    }

private:
    silent_server listener;
    std::atomic<bool> stop{false};
    std::thread worker;
};

// A redis-server without persistence, on a port no one else had, shut down when it goes.
class redis_server {
public:
    redis_server() {
        port = silent_server().port; // free a moment ago
        const process_result started = run_process(
            {"redis-server", "--port", std::to_string(port), "--bind", "127.0.0.1", "--save", "",
             "--appendonly", "no", "--daemonize", "yes", "--dir", dir.path(), "--pidfile",
             dir.path("redis.pid"), "--logfile", dir.path("redis.log")});
        for (int attempt = 0; started.status == 0 && attempt < 200 && !up(); ++attempt) {
            usleep(25'000);
        }
    }
    ~redis_server() { stop(); }
    redis_server(const redis_server&) = delete;
    redis_server& operator=(const redis_server&) = delete;

    bool up() const { return cli({"PING"}).out == "PONG\n"; }
    std::string url() const { return "redis://127.0.0.1:" + std::to_string(port); }
    process_result cli(const std::vector<std::string>& words) const {
        return run_process(joined({"redis-cli", "-p", std::to_string(port)}, words));
    }
    void stop() const { cli({"SHUTDOWN", "NOSAVE"}); }
    // Every entry's key and value, as whoever can reach the server reads them.
    std::vector<std::pair<std::string, std::string>> entries() const {
        std::vector<std::pair<std::string, std::string>> found;
        redisContext* context = redisConnect("127.0.0.1", port);
        auto* keys = static_cast<redisReply*>(redisCommand(context, "KEYS pyrn:*"));
        for (std::size_t i = 0; keys != nullptr && i < keys->elements; ++i) {
            const std::string key(keys->element[i]->str, keys->element[i]->len);
            auto* value =
                static_cast<redisReply*>(redisCommand(context, "GET %b", key.data(), key.size()));
            found.emplace_back(key, std::string(value->str, value->len));
            freeReplyObject(value);
        }
        freeReplyObject(keys);
        redisFree(context);
        return found;
    }
    // Writes an entry, as whoever can reach the server can.
    void put(const std::string& key, const std::string& value) const {
        redisContext* context = redisConnect("127.0.0.1", port);
        freeReplyObject(
            redisCommand(context, "SET %b %b", key.data(), key.size(), value.data(), value.size()));
        redisFree(context);
    }
    // Runs a Lua script over every entry's key and value.
    void rewrite_entries(const std::string& new_value) const {
        EXPECT_EQ(cli({"EVAL",
                       "for _, k in ipairs(redis.call('KEYS', 'pyrn:*')) do "
                       "local v = redis.call('GET', k); redis.call('SET', k, " +
                           new_value + ") end return 1",
                       "0"})
                      .out,
                  "1\n");
    }

    temp_tree dir;
    int port = 0;
};

// Skips, saying why, where no server can be started here.
#define START_REDIS(server)                                                                        \
    redis_server server;                                                                           \
    if (!server.up()) {                                                                            \
        GTEST_SKIP() << "redis-server (Debian package redis-server) cannot be started here";       \
    }

// Two checkouts of one small tree, whose matches depend on headers.
class two_checkouts : public testing::Test {
protected:
    void SetUp() override {
        for (const char* copy : {"one", "two"}) {
            const std::string root = std::string(copy) + "/";
            places.write(root + "main.cpp", "#include \"inc/config.h\"\n"
                                            "int probe_main() { return 0; }\n"
                                            "#if FEATURE\nint probe_feature() { return 1; }\n"
                                            "#endif\n");
            places.write(root + "inc/config.h", "#define FEATURE 1\n");
            for (int i = 0; i < 6; ++i) { // for workers that ask the server at once
                places.write(root + "more/m" + std::to_string(i) + ".cpp",
                             "#include \"../inc/config.h\"\nint probe_more_" + std::to_string(i) +
                                 "() { return FEATURE; }\n");
            }
            places.write(root + "other.cpp", "#include <string>\n"
                                             "int probe_other(const std::string& s) {\n"
                                             "    return static_cast<int>(s.size());\n}\n");
        }
        testing_support::settle();
    }

    std::vector<std::string> search(const std::vector<std::string>& cache) const {
        return joined(joined({"--nc", "-j", "1", "-F", "probe"}, cache), {"."});
    }
    std::string plain(const char* copy) const { return run_in(places.path(copy), search({})).out; }

    temp_tree places;
};

TEST_F(two_checkouts, share_the_remote_and_keep_what_it_gave_locally) {
    START_REDIS(server);
    temp_tree local;
    const process_result filled =
        run_in(places.path("one"), search({"--cache-remote", server.url()}));
    EXPECT_EQ(filled.err, "");
    EXPECT_EQ(filled.out, plain("one"));
    EXPECT_EQ(server.cli({"DBSIZE"}).out, "8\n");
    auto sorted_blocks = [](const std::string& out) {
        auto blocks = testing_support::parse_blocks(out);
        std::sort(blocks.begin(), blocks.end());
        return blocks;
    };
    temp_tree other_local;
    const process_result four_workers = answered_from_cache(
        places.path("two"), {"--nc", "-j", "4", "-F", "probe", "--cache", other_local.path(),
                             "--cache-remote", server.url(), "."});
    EXPECT_EQ(sorted_blocks(four_workers.out), sorted_blocks(plain("two")));

    const std::string two = places.path("two");
    const auto both = search({"--cache", local.path(), "--cache-remote", server.url()});
    const process_result shared = answered_from_cache(two, both);
    EXPECT_EQ(shared.err.find("pyrn: " + server.url()), std::string::npos) << shared.err;
    EXPECT_EQ(shared.out, plain("two"));
    server.stop();
    EXPECT_EQ(answered_from_cache(two, search({"--cache", local.path()})).out, plain("two"));

    // A remote entry is judged by the headers of the checkout searched.
    START_REDIS(again);
    run_in(places.path("one"), search({"--cache-remote", again.url()}));
    places.write("two/inc/config.h", "#define FEATURE 0\n");
    testing_support::settle();
    EXPECT_EQ(run_in(two, search({"--cache-remote", again.url()})).out, plain("two"));
    EXPECT_NE(plain("two"), plain("one"));
}

TEST_F(two_checkouts, a_server_away_silent_or_answering_garbage_costs_one_line) {
    START_REDIS(server);
    run_in(places.path("one"), search({"--cache-remote", server.url()}));
    const std::string expected = plain("two");
    silent_server silent;
    const std::string silent_url = "redis://127.0.0.1:" + std::to_string(silent.port);
    const struct {
        const char* what;
        std::function<void()> damage;
        std::string url;
        std::string reason;
    } cases[] = {
        {"a value overwritten with garbage", [&] { server.rewrite_entries("'garbage'"); },
         server.url(), "an entry that is damaged or of another version was not used"},
        {"an entry of another format version",
         [&] { server.rewrite_entries("string.sub(v, 1, 8) .. '\\99' .. string.sub(v, 10)"); },
         server.url(), "an entry that is damaged or of another version was not used"},
        {"a server that never answers", [] {}, silent_url, "no answer within 2 s"},
        {"a server that is down", [&] { server.stop(); }, server.url(), "Connection refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        run_in(places.path("one"), search({"--cache-remote", server.url()})); // refills
        c.damage();
        const process_result result = run_in(places.path("two"), search({"--cache-remote", c.url}));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(result.err, "pyrn: " + c.url + ": " + c.reason + "\n");
    }
}

TEST(remote_cache, a_server_killed_mid_run_costs_one_line) {
    START_REDIS(server);
    temp_tree tree;
    for (int i = 0; i < 12; ++i) {
        tree.write("f" + std::to_string(i) + ".cpp",
                   "#include <string>\nint probe_" + std::to_string(i) +
                       "(const std::string& s) { return static_cast<int>(s.size()); }\n");
    }
    testing_support::settle();
    const std::vector<std::string> query{"--nc", "-j", "1", "-F", "probe_", tree.path()};
    const std::string expected = testing_support::run_pyrn(query).out;
    // The parses of the first files take longer than the pause before the server goes.
    const std::string command = "\"$0\" \"$@\" & sleep 0.3; redis-cli -p " +
                                std::to_string(server.port) + " SHUTDOWN NOSAVE; wait";
    const process_result result = run_process(joined(
        {"bash", "-c", command, testing_support::pyrn_binary(), "--cache-remote", server.url()},
        query));
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err.rfind("pyrn: " + server.url() + ": ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST(remote_cache, an_address_that_is_not_redis_is_a_command_line_error) {
    temp_tree tree;
    tree.write("a.cpp", "int probe() { return 0; }\n");
    for (const char* url :
         {"redis:/host", "http://host", "redis://", "redis://host:0", "redis://host:65536",
          "redis://host:x", "redis://host/db", "redis://[::1"}) {
        SCOPED_TRACE(url);
        const process_result result =
            testing_support::run_pyrn({"--cache-remote", url, "probe", tree.path()});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(
                      std::string("--cache-remote: expected redis://HOST[:PORT][/DB], got ") + url +
                          "\nUsage: pyrn",
                      0),
                  0u)
            << result.err;
    }
}

// A server that paces its answer a byte at a time, or announces an entry that no source comes
// near, is left within one exchange, said once, and the search goes on without it.
TEST(remote_cache, a_server_that_drips_or_announces_a_huge_entry_is_left_at_once) {
    temp_tree tree;
    tree.write("a.cpp", "int probe_a() { return 1; }\n");
    testing_support::settle();
    const std::vector<std::string> query{"--nc", "-j", "1", "-F", "probe", tree.path()};
    const std::string expected = testing_support::run_pyrn(query).out;
    fake_server dripping([](int fd, const std::atomic<bool>& stop) {
        while (fake_server::send_all(fd, "+", stop)) { // a status line that never ends
            for (int tenth = 0; tenth < 15 && !stop; ++tenth) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    });
    std::atomic<std::size_t> sent{0};
    fake_server announcing([&sent](int fd, const std::atomic<bool>& stop) {
        const std::string piece(1u << 20, 'x');
        if (fake_server::send_all(fd, "$2147483648\r\n", stop)) {
            for (int i = 0; i < 64 && fake_server::send_all(fd, piece, stop); ++i) {
                sent += piece.size();
            }
        }
    });
    testing_support::process_options bounded;
    bounded.timeout_seconds = 20;
    const std::pair<const fake_server*, std::string> cases[] = {
        {&dripping, "no answer within 2 s"},
        {&announcing, "the server sent an entry above 8 MiB"},
    };
    for (const auto& [server, reason] : cases) {
        SCOPED_TRACE(reason);
        const process_result result = run_process(
            joined({testing_support::pyrn_binary(), "--cache-remote", server->url()}, query),
            bounded);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(result.err, "pyrn: " + server->url() + ": " + reason + "\n");
    }
    EXPECT_LT(sent.load(), 32u << 20) << "the entry announced was read";
}

// An entry with every text from replaced by to (as long) in its body, which is compressed again,
// and its checksum made to fit, as a forger who read the entry's layout writes it. The count of
// texts replaced goes to count.
std::string with_text_replaced(const std::string& entry, const std::string& from,
                               const std::string& to, int& count) {
    constexpr std::size_t header_size = 72;
    std::uint32_t body_size = 0;
    std::memcpy(&body_size, entry.data() + 64, sizeof body_size);
    std::string body(body_size, '\0');
    const int stored_size = static_cast<int>(entry.size() - header_size);
    EXPECT_EQ(LZ4_decompress_safe(entry.data() + header_size, body.data(), stored_size,
                                  static_cast<int>(body_size)),
              static_cast<int>(body_size));
    count = 0;
    for (std::size_t at = body.find(from); at != std::string::npos; at = body.find(from, at)) {
        body.replace(at, from.size(), to);
        ++count;
    }
    std::string stored(LZ4_compressBound(static_cast<int>(body.size())), '\0');
    stored.resize(static_cast<std::size_t>(LZ4_compress_default(body.data(), stored.data(),
                                                                static_cast<int>(body.size()),
                                                                static_cast<int>(stored.size()))));
    std::string forged = entry.substr(0, header_size) + stored;
    const std::uint64_t checksum = XXH3_64bits(stored.data(), stored.size());
    std::memcpy(forged.data() + 16, &checksum, sizeof checksum);
    return forged;
}

// An entry that claims to be made from content: its content hash is that of content.
std::string claiming(std::string entry, const std::string& content) {
    const std::uint64_t hash = XXH3_64bits(content.data(), content.size());
    std::memcpy(entry.data() + 40, &hash, sizeof hash);
    return entry;
}

// A header that the entry names turned into a FIFO, or into a link to /dev/zero: neither is
// read, the entry is not used, and the file is parsed.
TEST(remote_cache, an_entry_naming_a_fifo_or_a_device_blocks_nothing) {
    START_REDIS(server);
    temp_tree tree;
    temp_tree headers; // outside the root: the entry keeps their absolute paths
    tree.write("main.cpp", "#include \"dep.h\"\nint probe() { return PROBE_VALUE; }\n");
    headers.write("dep.h", "#define PROBE_VALUE 1\n");
    ASSERT_EQ(mkfifo(headers.path("fif.h").c_str(), 0600), 0);
    headers.symlink("/dev/zero", "zer.h");
    testing_support::settle();
    const std::vector<std::string> search{
        "--nc",           "-j",         "1",  "-I",    headers.path(),
        "--cache-remote", server.url(), "-F", "probe", "."};
    testing_support::process_options bounded;
    bounded.cwd = tree.path();
    bounded.timeout_seconds = 20;
    for (const char* header : {"fif.h", "zer.h"}) {
        SCOPED_TRACE(header);
        server.cli({"FLUSHALL"});
        const process_result filled = run_in(tree.path(), search);
        for (const auto& [key, value] : server.entries()) {
            int count = 0;
            server.put(
                key, with_text_replaced(value, headers.path("dep.h"), headers.path(header), count));
            EXPECT_EQ(count, 1);
        }
        const process_result result = testing_support::run_pyrn(search, bounded);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.out, filled.out);
        EXPECT_EQ(result.err, "");
    }
}

// Whoever can write to the server serves the genuine entry of another checkout's file as this
// one's: its lines are counted in the bytes searched, and a name that is not the text at its
// place makes the entry refused.
TEST(remote_cache, a_forged_entry_prints_no_forgery) {
    START_REDIS(server);
    const std::string function = "int probe_real() { return 1; }\n";
    const struct {
        const char* what;
        std::string genuine;
        std::string searched;
        std::string refusal;
    } cases[] = {
        {"the lines of other line ends", std::string(40, '\n') + function,
         std::string(40, ' ') + function, ""},
        {"a comment as a function", "int probe_named() { return 2; }\n",
         "//  probe_other() { return 2; }\n",
         "an entry that is damaged or of another version was not used"},
    };
    const std::vector<std::string> search{"--nc",       "-j", "1",     "--cache-remote",
                                          server.url(), "-F", "probe", "."};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        temp_tree places;
        places.write("one/f.cpp", c.genuine);
        places.write("two/f.cpp", c.searched);
        testing_support::settle();
        server.cli({"FLUSHALL"});
        run_in(places.path("one"), search);
        for (const auto& [key, value] : server.entries()) {
            server.put(key, claiming(value, c.searched));
        }
        const std::string expected = run_in(places.path("two"), {"--nc", "-F", "probe", "."}).out;
        const process_result result = c.refusal.empty()
                                          ? answered_from_cache(places.path("two"), search)
                                          : run_in(places.path("two"), search);
        EXPECT_EQ(result.out, expected);
        if (!c.refusal.empty()) {
            EXPECT_EQ(result.err, "pyrn: " + server.url() + ": " + c.refusal + "\n");
        }
    }
}

// A key file of the user's own that no one else can read.
std::string key_file(const temp_tree& keys, const std::string& name, const std::string& secret) {
    keys.write(name, secret);
    keys.set_mode(name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return keys.path(name);
}

TEST_F(two_checkouts, with_a_key_only_entries_made_with_it_are_taken_from_either_tier) {
    START_REDIS(server);
    temp_tree keys;
    const std::string team =
        key_file(keys, "team", "c2VjcmV0IG9mIHRoZSB0ZWFtIHRoYXQgc2hhcmVzIGl0\n");
    const std::string other =
        key_file(keys, "other", "YW5vdGhlciB0ZWFtJ3Mgc2VjcmV0LCBub3QgdGhpcyBvbmU=");
    const auto with_key = [](std::vector<std::string> options, const std::string& key) {
        if (!key.empty()) {
            options.insert(options.end(), {"--cache-key", key});
        }
        return options;
    };
    const auto remote = [&](const std::string& key) {
        return search(with_key({"--stats", "--cache-remote", server.url()}, key));
    };
    const std::string refused =
        "pyrn: " + server.url() + ": an entry without a valid MAC under --cache-key was not used\n";
    for (const std::string& writer : {std::string(), other}) {
        SCOPED_TRACE(writer.empty() ? "entries written without a key" : "under another key");
        run_in(places.path("one"), remote(writer));
        const process_result result = run_in(places.path("two"), remote(team));
        EXPECT_EQ(result.out, plain("two"));
        EXPECT_EQ(result.err.rfind(refused + "pyrn: files read: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find("answered from the cache: 0\n"), std::string::npos);
    }
    // two's search stored its entries under the team's key, and one takes them.
    const process_result shared = answered_from_cache(places.path("one"), remote(team));
    EXPECT_EQ(shared.out, plain("one"));
    EXPECT_EQ(shared.err.find(refused), std::string::npos);

    // The local tier likewise: an entry stored without the key is parsed again and replaced.
    temp_tree local;
    const std::vector<std::string> local_tier{"--stats", "--cache", local.path()};
    run_in(places.path("one"), search(local_tier));
    const process_result keyed = run_in(places.path("one"), search(with_key(local_tier, team)));
    EXPECT_EQ(keyed.out, plain("one"));
    EXPECT_NE(keyed.err.find("answered from the cache: 0\n"), std::string::npos) << keyed.err;
    EXPECT_EQ(answered_from_cache(places.path("one"), search(with_key(local_tier, team))).out,
              plain("one"));
}

// A key must be a secret of the user's own: anything else ends the run before the search.
TEST(cache_key, a_key_file_that_is_no_private_secret_ends_the_run) {
    temp_tree tree;
    tree.write("a.cpp", "int probe() { return 0; }\n");
    temp_tree keys;
    const std::string secret(32, 'k');
    const auto owner_only =
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    key_file(keys, "readable", secret);
    keys.set_mode("readable", owner_only | std::filesystem::perms::group_read);
    key_file(keys, "writable", secret);
    keys.set_mode("writable", owner_only | std::filesystem::perms::others_write);
    key_file(keys, "short", std::string(31, 'k') + "\n\n");
    key_file(keys, "long", std::string(4097, 'k'));
    keys.make_dir("folder");
    ASSERT_EQ(mkfifo(keys.path("fifo").c_str(), 0600), 0);
    key_file(keys, "strangers", secret);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(keys.path("strangers").c_str(), 65534, 65534), 0);
    }
    const std::pair<const char*, const char*> cases[] = {
        {"missing", "No such file or directory"},
        {"folder", "it is not a regular file"},
        {"fifo", "it is not a regular file"},
        {"readable", "other users can read or write it (chmod 600)"},
        {"writable", "other users can read or write it (chmod 600)"},
        {"short", "a key needs at least 32 bytes"},
        {"long", "a key file holds at most 4096 bytes"},
        {"strangers", root ? "it belongs to another user" : nullptr},
    };
    temp_tree cache;
    testing_support::process_options bounded;
    bounded.timeout_seconds = 20;
    for (const auto& [name, reason] : cases) {
        if (reason == nullptr) {
            continue;
        }
        SCOPED_TRACE(name);
        const process_result result = testing_support::run_pyrn(
            {"--cache", cache.path(), "--cache-key", keys.path(name), "probe", tree.path()},
            bounded);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "pyrn: " + keys.path(name) + ": " + reason + "\n");
    }
}

} // namespace

// Started with standard output or standard error closed, the connection to the server would
// take that descriptor's number, and the matches or the messages would become commands to the
// server: here a source's comment, and a file's name in an error line.
TEST(remote_cache, closed_standard_streams_send_nothing_to_the_server) {
    START_REDIS(server);
    temp_tree tree;
    tree.write("a.cpp", "int probe_fn() { /*\nSET injected_by_match pwned\n*/ return 0; }\n");
    const std::string loop = "loop\nSET injected_by_name pwned\n";
    tree.symlink(loop, loop);
    testing_support::settle();
    const std::vector<std::string> query{"--nc", "--cache-remote", server.url(),
                                         "-F",   "probe_fn",       tree.path()};
    const std::string expected = testing_support::run_pyrn(query).out;
    for (int closed : {1, 2}) {
        SCOPED_TRACE("descriptor " + std::to_string(closed) + " closed");
        testing_support::process_options options;
        options.closed_descriptor = closed;
        const process_result result = testing_support::run_pyrn(query, options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, closed == 1 ? "" : expected);
        EXPECT_EQ(server.cli({"KEYS", "injected*"}).out, "\n");
    }
    // The entries stored are intact: the next search is answered from them.
    const process_result again = testing_support::run_pyrn(joined({"--stats"}, query));
    EXPECT_EQ(again.out, expected);
    EXPECT_NE(again.err.find("pyrn: answered from the cache: 1\n"), std::string::npos) << again.err;
}
