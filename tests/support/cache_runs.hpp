#pragma once

// Searches with the cursor cache, for the tests of its tiers.

#include "process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

inline std::vector<std::string> joined(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline process_result run_in(const std::string& cwd, const std::vector<std::string>& arguments) {
    process_options options;
    options.cwd = cwd;
    return run_pyrn(arguments, options);
}

// The search answered from the cache: the dynamic loader, asked to list what it loads, must
// not load libclang.
inline process_result answered_from_cache(const std::string& cwd,
                                          const std::vector<std::string>& arguments) {
    process_options options;
    options.cwd = cwd;
    process_result result =
        run_process(joined({"env", "LD_DEBUG=files", pyrn_binary()}, arguments), options);
    EXPECT_EQ(result.err.find("libclang"), std::string::npos) << "parsed instead";
    return result;
}

// Files written by a test were changed less than a clock tick before the search that reads
// them; such a parse is not stored, since it could have seen the file before or after.
inline void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

} // namespace testing_support
