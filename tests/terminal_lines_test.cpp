// Every line written to a terminal, on either stream, shows the control characters and line
// breaks of what it carries (a file name, a server's reply, a source's bytes) rather than sending
// them; piped, every byte is kept.
#include "loopback.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::process_options;
using testing_support::process_result;
using testing_support::run_pyrn;
using testing_support::temp_tree;

process_options in_tree(const temp_tree& tree, bool out_terminal, bool err_terminal) {
    process_options options;
    options.cwd = tree.path();
    options.stdout_is_terminal = out_terminal;
    options.stderr_is_terminal = err_terminal;
    return options;
}

std::vector<std::string> sorted_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(terminal_lines, names_in_messages_neither_act_nor_forge_lines) {
    temp_tree tree;
    const std::string name = "a\x1b]0;title\x07\nforged.cpp";
    const std::string shown = "./a^[]0;title^G^Jforged.cpp";
    tree.write(name, "int probe_fn() { return 0; }\n");
    const std::string loop = "loop\x1b[2J\n";
    tree.symlink(loop, loop);
    const std::string loop_line = ": Too many levels of symbolic links\n";
    const std::string block = " (Line: 1 to 1)\nint probe_fn() { return 0; }\n\n";
    const std::vector<std::string> verbose{"--nc", "--verbose", "-F", "probe_fn", "."};
    const struct {
        std::vector<std::string> arguments;
        bool out_terminal;
        bool err_terminal;
        std::string out;
        std::string err;
    } cases[] = {
        {verbose, true, true,
         "pyrn: ./loop^[[2J^J" + loop_line + "Checking " + shown + "\n\n// " + shown + block, ""},
        {verbose, true, false, "Checking " + shown + "\n\n// " + shown + block,
         "pyrn: ./" + loop + loop_line},
        {verbose, false, false, "Checking ./" + name + "\n\n// ./" + name + block,
         "pyrn: ./" + loop + loop_line},
        {{"--vimgrep", "-F", "probe_fn", "."},
         false,
         true,
         "./" + name + ":1:5:int probe_fn() { return 0; }\n",
         "pyrn: ./loop^[[2J^J" + loop_line},
        {{"--shard", "1/\x1b[2J", "probe_fn", "."},
         false,
         true,
         "",
         "--shard: expected K/N with 0 <= K < N, got 1/^[[2J\nUsage: pyrn "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments) + (c.out_terminal ? " out" : "") +
                     (c.err_terminal ? " err" : ""));
        const process_result result =
            run_pyrn(c.arguments, in_tree(tree, c.out_terminal, c.err_terminal));
        // One terminal holds both streams: the walk's line and the parse's may come in
        // either order.
        if (c.out_terminal && c.err_terminal) {
            EXPECT_EQ(sorted_lines(result.out), sorted_lines(c.out));
        } else {
            EXPECT_EQ(result.out, c.out);
        }
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err);
    }
}

// libclang's own writes (the dumps of "#pragma clang __debug", its diagnostics) never reach a
// terminal unshown; with --verbose its diagnostics are printed, shown, on both roads of a parse.
TEST(terminal_lines, libclang_writes_nothing_to_a_terminal_itself) {
    temp_tree tree;
    tree.write("w\x1b[2J.cpp", "#define RAW \"\x1b]0;pwned\x07\"\n"
                               "#pragma clang __debug macro RAW\n"
                               "#warning odd\n"
                               "int probe_fn() { return 0; }\n");
    const std::string block = "\n// ./w^[[2J.cpp (Line: 4 to 4)\nint probe_fn() { return 0; }\n\n";
    for (const std::vector<std::string>& road : {std::vector<std::string>{}, {"--full-parse"}}) {
        SCOPED_TRACE(testing::PrintToString(road));
        std::vector<std::string> arguments = road;
        arguments.insert(arguments.end(), {"--nc", "--no-progress", "-F", "probe_fn", "."});
        const process_result quiet = run_pyrn(arguments, in_tree(tree, true, true));
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(quiet.out, block);
        const process_result err_only = run_pyrn(arguments, in_tree(tree, false, true));
        EXPECT_EQ(err_only.err, "");
    }
    const process_result verbose =
        run_pyrn({"--nc", "--verbose", "-F", "probe_fn", "."}, in_tree(tree, false, true));
    EXPECT_EQ(verbose.err, "./w^[[2J.cpp:3:2: warning: odd [-W#warnings]\n");
}

// The carriage return that ends a line of a CRLF file stays: it is one before a line feed.
// JSON shows the C1 characters of a string as \u escapes.
TEST(terminal_lines, sources_keep_their_line_ends_and_json_its_strings) {
    temp_tree tree;
    tree.write("c.cpp", "int helper() { return 1; }\r\n"
                        "int user() {\r\n    return helper(); /* \xc2\x9b"
                        "2J \x7f */\r\n}\r\n");
    const process_result expressions =
        run_pyrn({"--nc", "--ie", "-E", "helper", "c.cpp"}, in_tree(tree, true, false));
    EXPECT_EQ(expressions.out.substr(expressions.out.rfind("\n// ")),
              "\n// c.cpp (Line: 3 to 3)\nreturn helper(); /* <9b>2J ^? */\r\n\n");
    const process_result json =
        run_pyrn({"--json", "-F", "user", "c.cpp"}, in_tree(tree, true, false));
    EXPECT_NE(json.out.find("return helper(); /* \\u009b2J \\u007f */\\r\\n}\""), std::string::npos)
        << json.out;
    EXPECT_EQ(json.out.find("\xc2\x9b"), std::string::npos);
}

// A server that answers every command with an error carrying an escape sequence.
class hostile_server {
public:
    hostile_server() {
        if (listener.fd < 0) {
            return;
        }
        answering = std::thread([this] { answer_one(); });
    }
    ~hostile_server() {
        shutdown(listener.fd, SHUT_RDWR);
        if (answering.joinable()) {
            answering.join();
        }
    }
    hostile_server(const hostile_server&) = delete;
    hostile_server& operator=(const hostile_server&) = delete;

    testing_support::loopback_listener listener{4};

private:
    void answer_one() {
        const int client = accept(listener.fd, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        char request[4096];
        const std::string reply = "-ERR \x1b]2;evil\x07\n\r\n";
        if (read(client, request, sizeof request) > 0) {
            EXPECT_EQ(write(client, reply.data(), reply.size()),
                      static_cast<ssize_t>(reply.size()));
        }
        close(client);
    }

    std::thread answering;
};

TEST(terminal_lines, a_servers_reply_is_shown) {
    temp_tree tree;
    tree.write("a.cpp", "int probe_fn() { return 0; }\n");
    hostile_server server;
    const std::string url = "redis://127.0.0.1:" + std::to_string(server.listener.port) + "/1";
    const process_result result = run_pyrn(
        {"--nc", "--cache-remote", url, "-F", "probe_fn", "a.cpp"}, in_tree(tree, false, true));
    EXPECT_EQ(result.err, "pyrn: " + url + ": the server refused: ERR ^[]2;evil^G^J\n");
    EXPECT_EQ(result.out, "\n// a.cpp (Line: 1 to 1)\nint probe_fn() { return 0; }\n\n");
}

} // namespace
