// Any bytes as a compile_commands.json: entries or one refusal, never a crash; a command line
// of plain words splits into those words.
#include "clang/database_file.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        search::parse_database("fuzz", input);
    } catch (const search::database_error&) {
    }
    // Splitting again what was joined with spaces gives the pieces back, when none holds a
    // space, a quote or a backslash and none is empty.
    const std::vector<std::string> pieces = search::split_command(input);
    std::string joined;
    bool plain = true;
    for (const std::string& piece : pieces) {
        plain = plain && !piece.empty() && piece.find_first_of(" \"'\\") == std::string::npos;
        joined += piece + " ";
    }
    if (plain && search::split_command(joined) != pieces) {
        std::abort();
    }
    search::driver_mode_of(input);
    return 0;
}
