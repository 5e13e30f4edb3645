// Replays the fuzzer's seeds, and cuts of each, through the whole inspection
// in the ordinary test suite: none may crash or trip a sanitizer.
#include "fuzz_seeds.h"
#include "pipeline_target.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

TEST(fuzz_corpus, every_seed_runs_through_the_whole_inspection)
{
    const auto seeds = testing::fuzz_seeds();
    ASSERT_FALSE(seeds.empty());
    for (const auto& [name, content] : seeds) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LLVMFuzzerTestOneInput(content.data(), content.size()), 0);
    }
}

TEST(fuzz_corpus, cuts_of_every_seed_run_through_the_whole_inspection)
{
    for (const auto& [name, content] : testing::fuzz_seeds()) {
        for (const std::size_t kept : {content.size() / 3, content.size() / 2, content.size() - 1}) {
            SCOPED_TRACE(name + " cut to " + std::to_string(kept));
            EXPECT_EQ(LLVMFuzzerTestOneInput(content.data(), kept), 0);
        }
    }
}

} // namespace
} // namespace orbse
