#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "runtime/text_channel.h"
#include "support/file_size_cap.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

using testing::temp_folder;

std::int32_t take_pending()
{
    return std::exchange(pending_io_error, 0);
}

std::size_t size_on_disk(const std::string& path)
{
    return testing::read_file(path).size();
}

TEST(text_channel, creates_its_file_only_at_the_first_write)
{
    temp_folder folder;
    const auto path = folder.file("report.inf");
    text_channel channel;
    channel.bind(path);
    channel.flush();
    EXPECT_EQ(take_pending(), 0);
    EXPECT_FALSE(testing::file_exists(path));
    channel.write_line("Game info:");
    EXPECT_EQ(take_pending(), 0);
    EXPECT_TRUE(testing::file_exists(path));
    EXPECT_EQ(size_on_disk(path), 0u); // still in the buffer
    channel.close();
    EXPECT_EQ(take_pending(), 0);
    EXPECT_EQ(testing::read_text_file(path), "Game info:\r\n");
}

TEST(text_channel, a_channel_never_written_closes_without_a_file)
{
    temp_folder folder;
    const auto path = folder.file("report.inf");
    testing::write_text_file(path, "older report");
    text_channel channel;
    channel.bind(path);
    channel.close();
    EXPECT_EQ(take_pending(), 0);
    EXPECT_EQ(testing::read_text_file(path), "older report");
}

struct block_case {
    std::size_t report_size;
    std::size_t on_disk_during_run;
};

TEST(text_channel, reaches_the_file_in_whole_blocks_of_128)
{
    for (const block_case entry : {block_case{127, 0}, block_case{128, 128}, block_case{256, 256},
                                   block_case{300, 256}, block_case{1000, 896}}) {
        temp_folder folder;
        const auto path = folder.file("report.inf");
        text_channel channel;
        channel.bind(path);
        // Lines of ten characters and CR LF, the last one shortened to fit.
        std::size_t written = 0;
        while (written < entry.report_size) {
            const std::size_t left = entry.report_size - written;
            if (left >= 12) {
                channel.write_line("0123456789");
                written += 12;
            } else {
                channel.write_text(std::string(left, 'x'));
                written += left;
            }
            ASSERT_EQ(take_pending(), 0);
        }
        EXPECT_EQ(size_on_disk(path), entry.on_disk_during_run) << entry.report_size;
        channel.close();
        EXPECT_EQ(take_pending(), 0);
        EXPECT_EQ(size_on_disk(path), entry.report_size) << entry.report_size;
    }
}

TEST(text_channel, a_target_that_cannot_be_created_leaves_105)
{
    temp_folder folder;
    std::filesystem::create_directory(folder.path() / "taken.inf");
    for (const auto& target : {folder.file("taken.inf"), folder.file("missing/report.inf")}) {
        text_channel channel;
        channel.bind(target);
        channel.write_line("Game info:");
        EXPECT_EQ(take_pending(), 105) << target;
        EXPECT_FALSE(channel.is_open());
        channel.close();
        EXPECT_EQ(take_pending(), 0);
    }
}

TEST(text_channel, a_console_sees_every_write_at_once)
{
    if (!testing::file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    // /dev/full is a character device that is always full: the first write
    // goes out at once and fails as a full disk.
    text_channel channel;
    channel.bind("/dev/full");
    channel.write_text("x");
    EXPECT_EQ(take_pending(), 101);
    channel.close();
    take_pending();
}

#ifndef _WIN32 // Windows has no cap on the size of a process's files
using testing::file_size_cap;

TEST(text_channel, text_that_cannot_reach_the_disk_is_a_failure)
{
    temp_folder folder;
    {
        // A block that fails is lost with the rest of its write.
        const auto path = folder.file("during_run.inf");
        file_size_cap cap(100);
        text_channel channel;
        channel.bind(path);
        channel.write_text(std::string(300, 'x'));
        EXPECT_NE(take_pending(), 0);
        channel.close();
        take_pending();
    }
    {
        // The last buffered bytes, written at close.
        const auto path = folder.file("at_close.inf");
        file_size_cap cap(100);
        text_channel channel;
        channel.bind(path);
        channel.write_text(std::string(120, 'x'));
        EXPECT_EQ(take_pending(), 0);
        channel.close();
        EXPECT_NE(take_pending(), 0);
    }
}
#endif

} // namespace
} // namespace orbse
