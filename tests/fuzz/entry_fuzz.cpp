// Any bytes as a value of the cache, which may come from a shared server: a cursor entry or a
// database's commands, or a refusal, never a read outside the value. Inputs are also taken with
// their header made to fit, as a forger who knows the layout writes them, so that their bodies
// are decoded; whatever decodes whole encodes again into a value that decodes to the same.
#include "cache/entry_format.hpp"

#include <lz4.h>
#include <xxhash.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

// The file that every cursor entry is judged against; the seeds are entries of it.
constexpr std::string_view content =
    "namespace io {\nstruct Reader {\n    int open(int mode);\n};\n"
    "} // namespace io\n\nint io::Reader::open(int mode) {\n"
    "    return static_cast<int>(mode * 2);\n}\n";

template <class T> T read_at(const std::string& bytes, std::size_t at) {
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

template <class T> void write_at(std::string& bytes, std::size_t at, const T& value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

bool same_records(const search::records_view& a, const search::records_view& b) {
    return a.record_bytes() == b.record_bytes();
}

// The cursor entry's header, before its compressed body.
constexpr std::size_t header_size = 72;

void cursor_entry(const std::string& blob, const search::entry_secret* secret) {
    search::cache_key key{};
    std::uint64_t content_hash = 0;
    if (blob.size() >= header_size) { // the key and hash it claims, so that the checks run
        key = read_at<search::cache_key>(blob, 24);
        content_hash = read_at<std::uint64_t>(blob, 40);
    }
    const search::content_source bytes = [] { return std::optional(content); };
    static search::decode_buffer storage; // kept, as a search keeps one per thread
    search::cursor_entry entry;
    if (search::decode_cursor_entry(blob, key, content_hash, bytes, secret, nullptr, storage,
                                    entry) != search::fit::whole) {
        return;
    }
    const std::string again = search::encode_cursor_entry(key, content_hash, entry, secret);
    static search::decode_buffer storage_again;
    search::cursor_entry decoded;
    if (search::decode_cursor_entry(again, key, content_hash, bytes, secret, nullptr, storage_again,
                                    decoded) != search::fit::whole ||
        !same_records(decoded.records, entry.records) || decoded.included != entry.included ||
        decoded.absent != entry.absent) {
        std::abort();
    }
}

// A cursor entry whose body is the input's bytes after the header, compressed, with the magic,
// the version, the body's size and the checksum set right.
std::string forged_cursor_entry(const std::string& input) {
    if (input.size() < header_size) {
        return input;
    }
    const auto mac_size = read_at<std::uint32_t>(input, 60);
    const std::size_t end =
        mac_size <= input.size() - header_size ? input.size() - mac_size : input.size();
    const std::string body = input.substr(header_size, end - header_size);
    std::string packed(LZ4_compressBound(static_cast<int>(body.size())), '\0');
    packed.resize(static_cast<std::size_t>(LZ4_compress_default(body.data(), packed.data(),
                                                                static_cast<int>(body.size()),
                                                                static_cast<int>(packed.size()))));
    std::string blob = input.substr(0, header_size);
    std::memcpy(blob.data(), "pyrncurs", 8);
    write_at(blob, 8, search::cursor_entry_version);
    write_at(blob, 16, XXH3_64bits(packed.data(), packed.size()));
    write_at(blob, 64, static_cast<std::uint32_t>(body.size()));
    return blob + packed + input.substr(end);
}

void database_entry(const std::string& blob) {
    const std::uint64_t content_hash = blob.size() >= 40 ? read_at<std::uint64_t>(blob, 32) : 0;
    search::database_commands found;
    if (!search::decode_database_entry(blob, content_hash, found)) {
        return;
    }
    search::database_commands decoded;
    if (!search::decode_database_entry(search::encode_database_entry(content_hash, found),
                                       content_hash, decoded) ||
        decoded.absent_directories != found.absent_directories ||
        decoded.commands.size() != found.commands.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < found.commands.size(); ++i) {
        const search::compile_command& a = found.commands[i];
        const search::compile_command& b = decoded.commands[i];
        if (a.directory != b.directory || a.file != b.file || a.arguments != b.arguments ||
            a.language != b.language) {
            std::abort();
        }
    }
}

std::string forged_database_entry(std::string blob) {
    if (blob.size() < 40) {
        return blob;
    }
    std::memcpy(blob.data(), "pyrnccdb", 8);
    write_at(blob, 8, search::database_entry_version);
    write_at(blob, 24, XXH3_64bits(blob.data() + 40, blob.size() - 40));
    return blob;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    search::entry_secret secret;
    secret.bytes.fill(7);
    cursor_entry(input, nullptr);
    cursor_entry(input, &secret);
    cursor_entry(forged_cursor_entry(input), nullptr);
    database_entry(input);
    database_entry(forged_database_entry(input));
    return 0;
}
