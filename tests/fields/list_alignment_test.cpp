// Which lists of several saves are lists only some of them hold: the lists
// read ahead, given here by their keys alone, and the rows up to the first
// list every save holds.
#include "fields/list_alignment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

namespace orbse::fields {
namespace {

constexpr std::int64_t none = aligned_slots::none;

struct lists_case {
    const char* name;
    std::vector<std::vector<std::uint64_t>> keys; // each save's lists ahead
    std::vector<list_row> rows;                   // empty: no lists held alone
    std::vector<bool> to_stream_end = {};         // by default every save's
};

TEST(list_alignment, lists_held_alone_before_their_partners)
{
    const std::vector<lists_case> cases{
        {"a list more in save 2 first", {{1, 2, 3}, {9, 1, 2, 3}}, {{none, 0}, {0, 1}}},
        {"a list more in save 2 after one", {{1, 2, 3}, {1, 9, 2, 3}}, {}}, // the first lists partner: no list alone before
        {"a list more in save 1", {{9, 1, 2}, {1, 2}}, {{0, none}, {1, 0}}},
        {"two lists more", {{1, 2}, {8, 9, 1, 2}}, {{none, 0}, {none, 1}, {0, 2}}},
        {"a list more seen as the last ahead", {{1}, {9, 1}}, {{none, 0}, {0, 1}}},
        {"a list changed", {{1, 2, 3}, {7, 2, 3}}, {}},
        {"no partner within the lists ahead", {{1, 2}, {8, 9}}, {}},
        {"a series: the same list more in saves 2 and 3", {{1, 2}, {9, 1, 2}, {9, 1, 2}}, {{none, 0, 0}, {0, 1, 1}}},
        {"a series: a list more in save 2 only", {{1, 2}, {9, 1, 2}, {1, 2}}, {{none, 0, none}, {0, 1, 0}}},
        {"a series: another list more in each", {{1, 2}, {8, 1, 2}, {9, 1, 2}}, {{none, 0, none}, {none, none, 0}, {0, 1, 1}}},
        {"a series: a list changed in save 3", {{1, 2}, {9, 1, 2}, {7, 2}}, {}},
        // List 0 lost a slot, and now holds what list 1 holds: seen as far
        // as save 1's walk was stopped, the lists ahead tell that list 0
        // changed, not that save 1 holds it alone.
        {"lists cut by the bounds, taken as far as the fewest",
         {{10, 1}, {1, 1, 2}},
         {},
         {false, true}},
        {"a list more, the walk stopped in save 2", {{1, 2, 3}, {9, 1, 2}}, {{none, 0}, {0, 1}}, {true, false}},
        {"a list less, the stream's end seen in save 2", {{9, 1, 2}, {1, 2}}, {{0, none}, {1, 0}}, {false, true}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::vector<list_ahead>> lists(test.keys.size());
        std::vector<std::span<const list_ahead>> ahead;
        std::vector<std::size_t> saves;
        for (std::size_t save = 0; save < test.keys.size(); ++save) {
            for (const auto key : test.keys[save]) {
                lists[save].push_back(list_ahead{.key = key});
            }
            ahead.emplace_back(lists[save]);
            saves.push_back(save);
        }
        const auto to_stream_end = test.to_stream_end.empty() ? std::vector<bool>(saves.size(), true) : test.to_stream_end;
        EXPECT_EQ(lists_before_partners(ahead, to_stream_end, saves), test.rows);
    }
}

} // namespace
} // namespace orbse::fields
