// --shard K/N: N searches that each take their part of the tree print, together, what one
// search of the whole tree prints, each match once.
#include "golden_runs.hpp"
#include "output.hpp"
#include "process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::process_result;

std::vector<testing_support::block> sorted_blocks(const std::string& out) {
    auto blocks = testing_support::parse_blocks(out);
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

TEST(shard, the_shards_together_print_the_whole_search_once) {
    const std::string tree = testing_support::search_run_tree();
    const std::vector<std::string> query{"--nc", "count", tree};
    const auto whole = sorted_blocks(testing_support::run_pyrn(query).out);
    ASSERT_GT(whole.size(), 3u);
    std::vector<testing_support::block> together;
    std::size_t empty_shards = 0;
    for (const char* shard : {"0/3", "1/3", "2/3"}) {
        const process_result part =
            testing_support::run_pyrn({"--shard", shard, "--nc", "count", tree});
        EXPECT_EQ(part.status, 0);
        const auto blocks = testing_support::parse_blocks(part.out);
        empty_shards += blocks.empty() || blocks.size() == whole.size();
        together.insert(together.end(), blocks.begin(), blocks.end());
    }
    std::sort(together.begin(), together.end());
    EXPECT_EQ(together, whole);
    EXPECT_LT(empty_shards, 3u) << "the files were not shared out";
    EXPECT_EQ(
        sorted_blocks(testing_support::run_pyrn({"--shard", "0/1", "--nc", "count", tree}).out),
        whole);
}

TEST(shard, a_malformed_shard_is_a_command_line_error) {
    for (const char* shard : {"3/3", "0/0", "x/2", "1", "1/2/3", "/2", "1/", " 1/2", "+1/2"}) {
        SCOPED_TRACE(shard);
        const process_result result = testing_support::run_pyrn(
            {"--shard", shard, "count", testing_support::search_run_tree()});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(std::string("--shard: expected K/N with 0 <= K < N, got ") +
                                       shard + "\nUsage: pyrn",
                                   0),
                  0u)
            << result.err;
    }
    const process_result negative =
        testing_support::run_pyrn({"--shard", "-1/2", "count", testing_support::search_run_tree()});
    EXPECT_EQ(negative.status, 1);
    EXPECT_NE(negative.err.find("\nUsage: pyrn"), std::string::npos) << negative.err;
}

} // namespace
