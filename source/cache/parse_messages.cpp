#include "cache/parse_messages.hpp"

#include <cstring>

namespace search {

namespace {

// Raised whenever a layout changes: both ends are one binary, but one may be replaced while a
// search runs.
constexpr std::uint32_t messages_version = 1;

struct request_header {
    std::uint32_t version;
    std::uint32_t flags;
    std::uint32_t argument_count;
    std::uint32_t kind_count;
    std::uint64_t content_size;
};

constexpr std::uint32_t indexed_flag = 1;
constexpr std::uint32_t diagnostics_flag = 2;
constexpr std::uint32_t dependencies_flag = 4;
constexpr std::uint32_t macro_definitions_flag = 8;

struct reply_header {
    std::uint32_t version;
    std::uint32_t result;
    std::uint32_t road;
    std::uint32_t lines_in_file;
    std::uint32_t record_count;
    std::uint32_t line_count;
    std::uint32_t arena_size;
    std::uint32_t included_count;
    std::uint32_t absent_count;
    std::uint32_t diagnostic_count;
};

template <class T> void append_value(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T> void append_array(std::string& out, const std::vector<T>& values) {
    out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

void append_text(std::string& out, std::string_view text) {
    append_value(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

// Reads from the front of a message, never past its end.
struct reader {
    std::string_view rest;
    bool whole = true;

    template <class T> T value() {
        T out{};
        if (rest.size() < sizeof out) {
            whole = false;
            return out;
        }
        std::memcpy(&out, rest.data(), sizeof out);
        rest.remove_prefix(sizeof out);
        return out;
    }

    template <class T> void array(std::size_t count, std::vector<T>& out) {
        if (count > rest.size() / sizeof(T)) {
            whole = false;
            return;
        }
        out.resize(count);
        if (count > 0) {
            std::memcpy(out.data(), rest.data(), count * sizeof(T));
        }
        rest.remove_prefix(count * sizeof(T));
    }

    std::string_view bytes(std::size_t size) {
        if (size > rest.size()) {
            whole = false;
            return {};
        }
        const std::string_view out = rest.substr(0, size);
        rest.remove_prefix(size);
        return out;
    }

    std::string_view text() { return bytes(value<std::uint32_t>()); }

    void texts(std::size_t count, std::vector<std::string>& out) {
        for (std::size_t i = 0; i < count && whole; ++i) {
            out.emplace_back(text());
        }
    }
};

} // namespace

std::string encode_request(const parse_request& request, const std::vector<const char*>& arguments,
                           std::string_view content) {
    const std::uint32_t flags = (request.indexed ? indexed_flag : 0) |
                                (request.diagnostics ? diagnostics_flag : 0) |
                                (request.dependencies ? dependencies_flag : 0) |
                                (request.macro_definitions ? macro_definitions_flag : 0);
    const request_header header{messages_version, flags,
                                static_cast<std::uint32_t>(arguments.size()),
                                static_cast<std::uint32_t>(request.kinds.size()), content.size()};
    std::string out;
    out.reserve(sizeof header + content.size() + 4096);
    append_value(out, header);
    append_array(out, request.kinds);
    out.append(request.working_dir).push_back('\0');
    out.append(request.source).push_back('\0');
    for (const char* argument : arguments) {
        out.append(argument).push_back('\0');
    }
    out.append(content);
    return out;
}

bool decode_request(std::string& message, parse_request& out) {
    request_header header{};
    if (message.size() < sizeof header) {
        return false;
    }
    std::memcpy(&header, message.data(), sizeof header);
    if (header.version != messages_version || header.content_size > message.size()) {
        return false;
    }
    const std::size_t content_at = message.size() - header.content_size;
    reader kinds{std::string_view(message).substr(sizeof header, content_at - sizeof header)};
    kinds.array(header.kind_count, out.kinds);
    if (!kinds.whole) {
        return false;
    }
    std::vector<const char*> strings;
    for (std::size_t at = sizeof header + out.kinds.size() * sizeof(std::uint32_t);
         strings.size() < header.argument_count + 2u;) {
        const std::size_t end = message.find('\0', at);
        if (end == std::string::npos || end >= content_at) {
            return false;
        }
        strings.push_back(message.data() + at);
        at = end + 1;
    }
    out.working_dir = strings[0];
    out.source = strings[1];
    out.arguments.assign(strings.begin() + 2, strings.end());
    out.content = std::string_view(message).substr(content_at);
    out.indexed = (header.flags & indexed_flag) != 0;
    out.diagnostics = (header.flags & diagnostics_flag) != 0;
    out.dependencies = (header.flags & dependencies_flag) != 0;
    out.macro_definitions = (header.flags & macro_definitions_flag) != 0;
    return true;
}

std::string encode_reply(const parse_reply& reply) {
    const file_records& records = reply.records;
    const reply_header header{messages_version,
                              static_cast<std::uint32_t>(reply.result),
                              static_cast<std::uint32_t>(reply.road),
                              records.lines_in_file ? 1u : 0u,
                              static_cast<std::uint32_t>(records.records.size()),
                              static_cast<std::uint32_t>(reply.lines.size()),
                              static_cast<std::uint32_t>(records.arena.size()),
                              static_cast<std::uint32_t>(reply.dependencies.included.size()),
                              static_cast<std::uint32_t>(reply.dependencies.absent.size()),
                              static_cast<std::uint32_t>(reply.diagnostics.size())};
    std::string out;
    out.reserve(sizeof header + records.records.size() * sizeof(cursor_record) +
                records.arena.size());
    append_value(out, header);
    append_array(out, records.records);
    append_array(out, reply.lines);
    out.append(records.arena);
    for (const auto* list :
         {&reply.dependencies.included, &reply.dependencies.absent, &reply.diagnostics}) {
        for (const std::string& text : *list) {
            append_text(out, text);
        }
    }
    append_text(out, reply.failure);
    return out;
}

bool decode_reply(std::string_view message, std::string_view content, parse_reply& out) {
    reader in{message};
    const auto header = in.value<reply_header>();
    if (!in.whole || header.version != messages_version ||
        header.result > static_cast<std::uint32_t>(parse_result::failed) ||
        header.road > static_cast<std::uint32_t>(parse_road::indexed_then_in_full)) {
        return false;
    }
    out.result = static_cast<parse_result>(header.result);
    out.road = static_cast<parse_road>(header.road);
    out.records.lines_in_file = header.lines_in_file != 0;
    in.array(header.record_count, out.records.records);
    in.array(header.line_count, out.lines);
    out.records.arena = std::string(in.bytes(header.arena_size));
    in.texts(header.included_count, out.dependencies.included);
    in.texts(header.absent_count, out.dependencies.absent);
    in.texts(header.diagnostic_count, out.diagnostics);
    out.failure = std::string(in.text());
    if (!in.whole || !in.rest.empty()) {
        return false;
    }
    // Records whose ends lie in other files carry their lines, and are not kept: they are
    // replayed as the worker collected them.
    if (!out.records.lines_in_file) {
        return out.lines.size() == out.records.records.size();
    }
    return out.lines.empty() && records_fit(out.records.view(), content);
}

} // namespace search
