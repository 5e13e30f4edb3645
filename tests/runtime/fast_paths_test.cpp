// Lines written in pieces, or many lines in one write, must reach the report
// exactly as the lines written one by one would, in the same blocks and with
// the same losses when a block fails; and large buffers must come aligned
// to large pages.
#include "runtime/failures.h"
#include "runtime/large_buffer.h"
#include "runtime/text_channel.h"
#include "support/failing_file_operation.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orbse {
namespace {

using testing::temp_folder;

// Fails the platform write numbered `failing` (from 1) with `code` while it
// lives; 0 fails none.
struct failing_write : testing::failing_file_operation {
    failing_write(std::uint64_t failing, platform::error_code code)
        : failing_file_operation(platform::seam::file_operation::write, failing, code)
    {
    }
};

using line_pieces = std::vector<std::string>;

// Lines whose pieces fill blocks of 128 bytes at every kind of place: inside
// a piece, at a piece's end, inside the line break.
const std::vector<line_pieces> report_lines{
    {"Unit ", "0", ":", "0", ":"},
    {" Type=", "Tank", ":", "tank"},
    {std::string(100, 'a'), std::string(26, 'b')},
    {std::string(127, 'c')},
    {"", std::string(200, 'd'), ""},
    {" unkf1=", "1"},
    {std::string(383, 'e'), "f"},
};

struct written_report {
    std::string text;
    std::int32_t code = 0;
};

enum class writing { joined_lines, lines_in_pieces, all_lines_at_once };

std::string joined(const line_pieces& pieces)
{
    std::string line;
    for (const std::string& piece : pieces) {
        line += piece;
    }
    return line;
}

// Writes every line of `report_lines` in one of the three ways: each line
// joined through write_line, each in pieces through write_joined_line, or
// all of them with their line breaks in one write_text, as the unit
// listing writes a unit's lines. Stops at the first failure as the report
// does; then closes the channel.
written_report write_report(const std::string& path, writing way)
{
    text_channel channel;
    channel.bind(path);
    written_report written;
    if (way == writing::all_lines_at_once) {
        std::string text;
        for (const line_pieces& pieces : report_lines) {
            text += joined(pieces) + "\r\n";
        }
        channel.write_text(text);
        written.code = std::exchange(pending_io_error, 0);
    }
    for (const line_pieces& pieces : report_lines) {
        if (way == writing::all_lines_at_once) {
            break;
        }
        if (way == writing::lines_in_pieces) {
            channel.write_joined_line({pieces[0], pieces.size() > 1 ? pieces[1] : "",
                                       pieces.size() > 2 ? pieces[2] : "", pieces.size() > 3 ? pieces[3] : "",
                                       pieces.size() > 4 ? pieces[4] : ""});
        } else {
            channel.write_line(joined(pieces));
        }
        written.code = std::exchange(pending_io_error, 0);
        if (written.code != 0) {
            break;
        }
    }
    channel.close();
    pending_io_error = 0;
    written.text = testing::read_text_file(path);
    return written;
}

TEST(text_channel, a_line_in_pieces_writes_what_the_joined_line_writes)
{
    temp_folder folder;
    const written_report lines = write_report(folder.file("lines.inf"), writing::joined_lines);
    const written_report pieces = write_report(folder.file("pieces.inf"), writing::lines_in_pieces);
    const written_report at_once = write_report(folder.file("at_once.inf"), writing::all_lines_at_once);
    EXPECT_EQ(lines.code, 0);
    EXPECT_EQ(pieces.code, 0);
    EXPECT_EQ(at_once.code, 0);
    EXPECT_EQ(pieces.text, lines.text);
    EXPECT_EQ(at_once.text, lines.text);
    EXPECT_EQ(pieces.text.substr(0, 17), "Unit 0:0:\r\n Type=");
}

TEST(text_channel, a_failed_block_loses_the_same_bytes_however_the_lines_were_written)
{
    constexpr platform::error_code disk_full = 101;
    // The report of report_lines is 883 bytes: six blocks during the run
    // and the remainder at close, seven writes in all.
    for (std::uint64_t failing = 1; failing <= 7; ++failing) {
        SCOPED_TRACE(failing);
        temp_folder folder;
        const auto written_with_fault = [&](const std::string& name, writing way) {
            const failing_write fault(failing, disk_full);
            return write_report(folder.file(name), way);
        };
        const written_report lines = written_with_fault("lines.inf", writing::joined_lines);
        const written_report pieces = written_with_fault("pieces.inf", writing::lines_in_pieces);
        const written_report at_once = written_with_fault("at_once.inf", writing::all_lines_at_once);
        for (const written_report* other : {&pieces, &at_once}) {
            EXPECT_EQ(other->code, lines.code);
            EXPECT_EQ(other->text, lines.text);
        }
        EXPECT_EQ(lines.text.size() % text_channel::block_size, 0u);
    }
}

TEST(large_buffer, comes_aligned_to_large_pages_and_holds_what_is_asked)
{
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{3'211'318}}) {
        SCOPED_TRACE(count);
        large_buffer<unsigned char> large(count);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.data()) % large_page_size, 0u);
        ASSERT_EQ(large.size(), count);
        for (std::size_t index = 0; index < count; index += 4096) {
            large[index] = 1;
        }
        const large_buffer<unsigned char> moved = std::move(large);
        EXPECT_EQ(moved.size(), count);
        EXPECT_EQ(large.size(), 0u);
        if (count > 0) {
            EXPECT_EQ(moved[0], 1);
        }
    }
}

} // namespace
} // namespace orbse
