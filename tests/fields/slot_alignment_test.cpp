// The alignment of two lists' slots, held to the plain longest common
// subsequence by dynamic programming over every pair of slots.
#include "fields/slot_alignment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orbse::fields {
namespace {

using keys = std::vector<std::uint64_t>;

// The length of a longest common subsequence, the plain way.
std::size_t plain_common_length(const keys& a, const keys& b)
{
    std::vector<std::vector<std::size_t>> length(a.size() + 1, std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            length[i][j] = a[i - 1] == b[j - 1] ? length[i - 1][j - 1] + 1 : std::max(length[i - 1][j], length[i][j - 1]);
        }
    }
    return length[a.size()][b.size()];
}

// Matches in increasing order, each pairing equal keys.
void expect_a_common_subsequence(const keys& a, const keys& b, const std::vector<slot_match>& matches)
{
    for (std::size_t at = 0; at < matches.size(); ++at) {
        ASSERT_LT(matches[at].first, a.size());
        ASSERT_LT(matches[at].second, b.size());
        EXPECT_EQ(a[matches[at].first], b[matches[at].second]);
        if (at > 0) {
            EXPECT_LT(matches[at - 1].first, matches[at].first);
            EXPECT_LT(matches[at - 1].second, matches[at].second);
        }
    }
}

TEST(slot_alignment, the_slots_a_change_leaves_are_matched)
{
    struct alignment_case {
        const char* name;
        keys first;
        keys second;
        std::vector<slot_match> matches;
    };
    const std::vector<alignment_case> cases{
        {"both empty", {}, {}, {}},
        {"one empty", {}, {1, 2}, {}},
        {"the same", {1, 2, 3}, {1, 2, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        {"added at the front", {1, 2}, {9, 1, 2}, {{0, 1}, {1, 2}}},
        {"added in the middle", {1, 2, 3}, {1, 2, 9, 3}, {{0, 0}, {1, 1}, {2, 3}}},
        {"added at the end", {1, 2}, {1, 2, 9}, {{0, 0}, {1, 1}}},
        {"removed", {1, 2, 3}, {1, 3}, {{0, 0}, {2, 1}}},
        {"one for another", {1, 2, 3}, {1, 9, 3}, {{0, 0}, {2, 2}}},
        {"moved", {1, 2, 3, 4}, {2, 3, 4, 1}, {{1, 0}, {2, 1}, {3, 2}}},
        {"a twin added after its twin", {1, 5, 2}, {1, 5, 5, 2}, {{0, 0}, {1, 1}, {2, 3}}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(match_slots(test.first, test.second), test.matches);
    }
}

// Random lists of few kinds of slot, and each changed in a few places:
// the matches are as many as the plain subsequence's, within the edits
// allowed, and paired by position beyond them.
TEST(slot_alignment, as_long_as_the_plain_longest_common_subsequence)
{
    std::uint32_t state = 12345;
    const auto next = [&](std::uint32_t bound) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state % bound;
    };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        keys a(next(40));
        for (auto& key : a) {
            key = next(4);
        }
        keys b = a;
        for (std::uint32_t edits = next(6); edits > 0; --edits) {
            if (next(2) == 0 || b.empty()) {
                b.insert(b.begin() + next(static_cast<std::uint32_t>(b.size() + 1)), next(4));
            } else {
                b.erase(b.begin() + next(static_cast<std::uint32_t>(b.size())));
            }
        }
        const auto matches = match_slots(a, b);
        expect_a_common_subsequence(a, b, matches);
        EXPECT_EQ(matches.size(), plain_common_length(a, b));
    }
    // Beyond the edits allowed: the middle by position.
    const keys a{1, 2, 3, 4, 5};
    const keys b{1, 7, 8, 9, 6, 5};
    const std::vector<slot_match> by_position{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 5}};
    EXPECT_EQ(match_slots(a, b, 2), by_position);
    EXPECT_EQ(match_slots(a, b, 100).size(), plain_common_length(a, b));
}

} // namespace
} // namespace orbse::fields
