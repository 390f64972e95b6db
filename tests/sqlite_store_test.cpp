// The cache's database, whose readers keep a read transaction across entries.
#include "cache/cache_place.hpp"
#include "cache/sqlite_store.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace {

using testing_support::temp_tree;

// Entries found between the writes of others, as a search that parses does: the readers then
// wait with their read transactions open, which must not keep the log from starting over.
TEST(sqlite_store, readers_waiting_between_writes_let_the_log_start_over) {
    temp_tree dir;
    std::unique_ptr<search::sqlite_store> store = search::sqlite_store::open(dir.path());
    ASSERT_TRUE(store);
    const std::string value(64 << 10, 'x');
    const std::string log = dir.path(std::string(search::database_name) + "-wal");
    off_t largest = 0;
    for (int i = 0; i < 240; ++i) {
        search::cache_key key{};
        key[0] = static_cast<unsigned char>(i);
        store->store(key, value);
        EXPECT_TRUE(store->find(key, [&](std::string_view found) { return found == value; }));
        struct stat info {};
        if (stat(log.c_str(), &info) == 0) {
            largest = std::max(largest, info.st_size);
        }
    }
    // 15 MiB were written; a checkpoint starts the log over past 1,000 pages of 4 KiB.
    EXPECT_GT(largest, 0);
    EXPECT_LT(largest, 8 << 20);
}

} // namespace
