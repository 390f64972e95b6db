#pragma once

#include <functional>
#include <string>

namespace testing_support {

// The bytes of a file; throws when it cannot be read.
std::string read_file(const std::string& path);

// The expected bytes kept in tests/golden/<name>; with PYRN_UPDATE_GOLDEN set in the
// environment the file is first rewritten with the actual bytes (review the diff!).
std::string golden(const std::string& name, const std::string& actual);

// Runs body with descriptor 1 on a temporary file and returns what it printed; restores
// descriptor 1 also when body throws.
std::string capture_stdout(const std::function<void()>& body);

} // namespace testing_support
