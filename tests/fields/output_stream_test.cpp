// The output stream hands its buffer to the system whenever it holds a
// block: whatever the mix of writes, the file must hold every byte in order,
// and a failed write must come back from flush.
#include "fields/output_stream.h"
#include "support/case_name.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace orbse::fields {
namespace {

// Text that tells one place from another: the decimal places, one after
// the other, each ending in a newline.
std::string numbered_text(std::size_t bytes)
{
    std::string text;
    for (std::size_t line = 0; text.size() < bytes; ++line) {
        text += std::to_string(line);
        text += '\n';
    }
    text.resize(bytes);
    return text;
}

// How the text reaches the stream: in writes of `piece` bytes, or by put
// character by character.
enum class way { write, put };

struct stream_case {
    const char* name;
    std::size_t bytes;
    way how;
    std::size_t piece;
    bool flushed; // flushed before the stream ends, not just ended
};

// The buffer is handed over once it holds a block of 64 KB: the cases lie
// below, at and just past that edge, and across it again and again.
constexpr std::size_t block = 64 * 1024;

const stream_case stream_cases[] = {
    {"nothing", 0, way::write, 1, true},
    {"less_than_a_block", 1000, way::write, 7, true},
    {"a_block_exactly", block, way::write, 1024, true},
    {"a_byte_past_a_block", block + 1, way::put, 1, true},
    {"many_blocks_in_odd_pieces", 6 * block + 13, way::write, 4093, true},
    {"one_write_longer_than_two_blocks", 5 * block, way::write, 5 * block, true},
    {"ended_without_a_flush", 5 * block + 3, way::write, 999, false},
};

class output_stream_cases : public ::testing::TestWithParam<stream_case> {};

void feed(output_stream& out, const std::string& text, way how, std::size_t piece)
{
    for (std::size_t at = 0; at < text.size(); at += piece) {
        const std::string_view part = std::string_view(text).substr(at, piece);
        switch (how) {
        case way::write:
            out.write(part);
            break;
        case way::put:
            for (const char character : part) {
                out.put(character);
            }
            break;
        }
    }
}

TEST_P(output_stream_cases, the_file_holds_every_byte_in_order)
{
    const stream_case& param = GetParam();
    const testing::temp_folder folder;
    const std::string path = folder.file("out.txt");
    const std::string text = numbered_text(param.bytes);
    platform::native_file file;
    ASSERT_EQ(platform::create_always(path, false, file), 0);
    {
        output_stream out(file);
        feed(out, text, param.how, param.piece);
        if (param.flushed) {
            EXPECT_TRUE(out.flush());
            // After flush every byte is the system's, before the stream ends.
            EXPECT_EQ(testing::read_text_file(path).size(), text.size());
        }
        EXPECT_FALSE(out.failed());
    }
    platform::close(file);
    EXPECT_TRUE(testing::read_text_file(path) == text) << "the file differs from what was written";
}

INSTANTIATE_TEST_SUITE_P(table, output_stream_cases, ::testing::ValuesIn(stream_cases), testing::case_name{});

// A device that is always full fails every write: the failure comes back
// from flush whether it happened at a block's hand-over or at the flush, and
// the writes after it are dropped.
TEST(output_stream, a_failed_write_comes_back_from_flush)
{
    if (!testing::file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    for (const std::size_t bytes : {std::size_t{10}, std::size_t{9 * 1024 * 1024}}) {
        SCOPED_TRACE(bytes);
        platform::native_file full;
        ASSERT_EQ(platform::create_always("/dev/full", false, full), 0);
        {
            output_stream out(full);
            feed(out, numbered_text(bytes), way::write, 4096);
            EXPECT_FALSE(out.flush());
            EXPECT_TRUE(out.failed());
            feed(out, numbered_text(bytes), way::write, 4096);
            EXPECT_FALSE(out.flush());
        }
        platform::close(full);
    }
}

} // namespace
} // namespace orbse::fields
