// Where files hold the same bytes, as the walks of a diff ask for it: a
// stretch ends at the first block that differs and never reaches past a
// byte that differs, whatever was asked before.
#include "fields/agreement_map.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace orbse {
namespace {

constexpr std::uint64_t far = UINT64_MAX / 2; // a horizon past every file's end

// A file of `size` bytes that count on, with `changes` made to it.
testing::bytes file_of(std::size_t size, const std::vector<std::pair<std::size_t, std::uint8_t>>& changes = {},
                       unsigned pattern = 7)
{
    testing::bytes content(size);
    for (std::size_t at = 0; at < size; ++at) {
        content[at] = static_cast<std::uint8_t>(at * pattern % 251);
    }
    for (const auto& [at, value] : changes) {
        content[at] = value;
    }
    return content;
}

struct query {
    std::uint64_t offset;
    std::uint64_t expected;
};

struct map_case {
    const char* name;
    std::vector<testing::bytes> files; // empty: a file that is not there
    std::uint64_t from;
    std::vector<query> queries; // asked to the files' ends
    bool alike_to_the_ends;     // from `from`
};

TEST(agreement_map, stretches_end_where_the_files_first_differ)
{
    const std::size_t size = 300000;
    const std::vector<map_case> cases{
        {"files alike agree to their ends",
         {file_of(size), file_of(size)},
         0,
         {{0, size}, {299999, size}, {size, size}},
         true},
        {"a changed byte ends the stretch at its block, which differs, and it agrees again after",
         {file_of(size), file_of(size, {{100000, 0xFF}})},
         0,
         {{0, 98304}, {98304, 98304}, {100000, 100000}, {200000, size}},
         false},
        {"files of different sizes differ from the shorter one's last byte",
         {file_of(size), file_of(size + 1)},
         0,
         {{0, size - 1}, {size - 1, size - 1}},
         false},
        {"nothing before `from` is compared",
         {file_of(size), file_of(size)},
         150000,
         {{100000, 100000}, {150000, size}},
         true},
        {"a file that is not there agrees nowhere", {file_of(size), {}}, 0, {{0, 0}, {1000, 1000}}, false},
        {"files that differ all along agree nowhere",
         {file_of(size), file_of(size, {}, 11)},
         0,
         {{0, 0}, {200000, 200000}},
         false},
        {"the third file decides as much as the second",
         {file_of(size), file_of(size), file_of(size, {{5000, 0}})},
         0,
         {{0, 4096}, {20000, size}},
         false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const testing::temp_folder folder;
        std::vector<std::string> names;
        for (std::size_t at = 0; at < test.files.size(); ++at) {
            names.push_back(folder.file("file" + std::to_string(at)));
            if (!test.files[at].empty()) {
                testing::write_file(names.back(), test.files[at]);
            }
        }
        fields::agreement_map map(names, test.from);
        EXPECT_EQ(map.agree_to_their_ends(test.from), test.alike_to_the_ends);
        for (const auto& [offset, expected] : test.queries) {
            EXPECT_EQ(map.agreeing_until(offset, far), expected) << "from " << offset;
        }
    }
}

// Files with differences of every spacing, from lone bytes to stretches
// that differ all along: whatever the horizon and the order of the
// questions, no stretch reaches past a differing byte, and asked to the
// ends, every map answers alike.
TEST(agreement_map, no_stretch_reaches_past_a_differing_byte_whatever_was_asked_before)
{
    const std::size_t size = 3 * 1024 * 1024 + 123;
    std::vector<std::pair<std::size_t, std::uint8_t>> changes;
    for (std::size_t at = 1000, step = 700; at < size / 2; at += step, step = step * 3 / 2) {
        changes.emplace_back(at, 0xEE); // ever further apart
    }
    for (std::size_t at = size / 2; at < size / 2 + 600000; at += 3) {
        changes.emplace_back(at, 0xEE); // a long stretch that differs all along
    }
    const auto first = file_of(size);
    const auto second = file_of(size, changes);
    const testing::temp_folder folder;
    testing::write_file(folder.file("first"), first);
    testing::write_file(folder.file("second"), second);
    const std::vector<std::string> names{folder.file("first"), folder.file("second")};

    std::vector<std::uint64_t> offsets;
    for (std::uint64_t offset = 0; offset < size; offset += 997) {
        offsets.push_back(offset);
    }
    fields::agreement_map forward(names, 0);
    std::vector<std::uint64_t> ends;
    for (const std::uint64_t offset : offsets) {
        for (const std::uint64_t horizon : {offset + 1, offset + 5000, offset + 300000, far}) {
            const std::uint64_t end = forward.agreeing_until(offset, horizon);
            ASSERT_GE(end, offset);
            ASSERT_LE(end, size);
            ASSERT_TRUE(std::equal(first.begin() + offset, first.begin() + end, second.begin() + offset)) << offset;
        }
        ends.push_back(forward.agreeing_until(offset, far));
    }
    EXPECT_GT(std::count_if(ends.begin(), ends.end(), [](std::uint64_t end) { return end == size; }), 100);
    fields::agreement_map backward(names, 0);
    for (std::size_t at = offsets.size(); at-- > 0;) {
        ASSERT_EQ(backward.agreeing_until(offsets[at], far), ends[at]) << offsets[at];
    }
}

} // namespace
} // namespace orbse
