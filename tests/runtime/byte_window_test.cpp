// The window that looks ahead in a file, and how far files agree through it.
#include "runtime/byte_window.h"
#include "runtime/failures.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbse {
namespace {

testing::bytes pattern(std::size_t size, std::size_t seed = 0)
{
    testing::bytes content(size);
    for (std::size_t at = 0; at < size; ++at) {
        content[at] = static_cast<std::uint8_t>((at * 31 + at / 251 + seed) & 0xFF);
    }
    return content;
}

// Requests in order on one window: within what it holds, a few bytes on past
// its end, a far jump, the file's end, and before what it still holds.
TEST(byte_window, hands_out_the_files_bytes_from_an_offset_on_and_never_goes_back)
{
    const auto content = pattern(300'000);
    const testing::temp_folder folder;
    const auto path = folder.file("bytes.bin");
    testing::write_file(path, content);
    struct request {
        std::uint64_t offset;
        std::size_t count;
        std::size_t expected; // bytes handed out; their values are the file's
    };
    const std::vector<request> requests{
        {0, 10, 10},           {5, 300, 300},         {100, 70'000, 70'000}, {70'050, 300, 300},
        {70'060, 200'000, 200'000}, {200'000, 100, 100}, {250'000, 100, 100},
        {299'990, 100, 10},    {300'000, 5, 0},       {299'999, 1, 1},       {100, 5, 0},
    };
    byte_window window(path);
    for (const auto& [offset, count, expected] : requests) {
        SCOPED_TRACE(offset);
        const auto bytes = window.bytes_at(offset, count);
        ASSERT_EQ(bytes.size(), expected);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), content.begin() + static_cast<std::ptrdiff_t>(offset)));
    }
}

// Two or three files compared from offsets of their own: the first byte
// that differs, found in the first piece, in a later one, or at the end of
// the shorter file.
TEST(byte_window, files_agree_up_to_their_first_difference_or_the_shorter_end)
{
    const auto content = pattern(200'000);
    struct case_ {
        const char* name;
        std::size_t changed;      // the byte changed in the second file (none past its size)
        std::size_t second_size;  // of the second file
        std::uint64_t first_from; // where the comparison starts in the first file
        std::uint64_t second_from;
        std::uint64_t agreeing;
    };
    const std::vector<case_> cases{
        {"a difference at the start", 10, 200'000, 10, 10, 0},
        {"a difference in the first piece", 100, 200'000, 0, 0, 100},
        {"a difference pieces later", 150'001, 200'000, 7, 7, 150'001 - 7},
        {"no difference: the shorter end", 300'000, 120'000, 0, 0, 120'000},
        {"from offsets of their own", 300'000, 200'000, 1000, 1000, 199'000},
        {"shifted offsets do not agree", 300'000, 200'000, 1000, 1001, 0},
    };
    const testing::temp_folder folder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto second = testing::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(test.second_size));
        if (test.changed < second.size()) {
            second[test.changed] ^= 0x40;
        }
        testing::write_file(folder.file("a.bin"), content);
        testing::write_file(folder.file("b.bin"), second);
        testing::write_file(folder.file("c.bin"), content);
        byte_window a(folder.file("a.bin"));
        byte_window b(folder.file("b.bin"));
        byte_window c(folder.file("c.bin"));
        const std::vector<std::pair<byte_window*, std::uint64_t>> three{
            {&a, test.first_from}, {&b, test.second_from}, {&c, test.first_from}};
        EXPECT_EQ(agreeing_length(three), test.agreeing);
    }
}

// A file cut short after the window opened it: a read that comes short of
// its piece raises read_beyond_end, whether the cut falls in the first piece
// or pieces later, and even where the bytes asked for lie before the cut:
// the window reads whole pieces of the file it opened.
TEST(byte_window, a_file_cut_after_opening_raises_read_beyond_end)
{
    const auto content = pattern(100'000);
    struct case_ {
        const char* name;
        std::size_t cut_to;   // the file's size once cut
        std::uint64_t offset; // asked for after the cut
        std::size_t count;
    };
    const std::vector<case_> cases{
        {"cut to nothing, the first byte asked for", 0, 0, 2'000},
        {"cut in the first piece", 1'000, 10, 2'000},
        {"cut in the piece, after the bytes asked for", 1'000, 10, 100},
        {"cut pieces after the offset", 70'000, 69'000, 2'000},
    };
    const testing::temp_folder folder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const auto path = folder.file("cut.bin");
        testing::write_file(path, content);
        byte_window window(path);
        testing::write_file(path, testing::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(test.cut_to)));
        try {
            window.bytes_at(test.offset, test.count);
            ADD_FAILURE() << "no failure raised";
        } catch (const io_failure& raised) {
            EXPECT_EQ(raised.code(), read_beyond_end);
        }
    }
}

} // namespace
} // namespace orbse
