// Searches with the cache's Redis tier (--cache-remote), against a redis-server of their own on a
// free port of the loopback: two checkouts share it, and whatever the server does, the output
// stays that of a search without a cache.
#include "cache_runs.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
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
class silent_server {
public:
    silent_server() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(fd, 16) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on the loopback";
        }
        port = ntohs(address.sin_port);
    }
    ~silent_server() { close(fd); }
    silent_server(const silent_server&) = delete;
    silent_server& operator=(const silent_server&) = delete;

    int fd = -1;
    int port = 0;
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
