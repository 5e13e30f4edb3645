#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "support/file_size_cap.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <numeric>

namespace orbse {
namespace {

using testing::bytes;
using testing::temp_folder;

// The code a file operation left behind, cleared for the next one.
std::int32_t take_pending()
{
    return std::exchange(pending_io_error, 0);
}

bytes counting_bytes(std::size_t count)
{
    bytes content(count);
    std::iota(content.begin(), content.end(), std::uint8_t{0});
    return content;
}

// Windows refuses an over-long path in its own words (ERROR_FILENAME_EXCED_RANGE);
// elsewhere the name is taken for a path that does not exist.
#ifdef _WIN32
constexpr std::int32_t name_too_long = 206;
#else
constexpr std::int32_t name_too_long = 3;
#endif

struct open_case {
    const char* description;
    std::string relative_name;
    std::int32_t expected_code;
};

TEST(open_data_file, answers_with_the_windows_codes)
{
    temp_folder folder;
    testing::write_file(folder.file("present"), {1});
    std::filesystem::create_directory(folder.path() / "a_folder");
    const std::vector<open_case> cases{
        {"a present file", "present", 0},
        {"a missing file", "missing", 2},
        {"a file in a missing folder", "no_such_folder/missing", 3},
        {"a path through a file", "present/inside", 3},
        {"a folder", "a_folder", 5},
        {"a name too long", std::string(5000, 'n'), name_too_long},
    };
    for (const auto& entry : cases) {
        data_file file;
        open_data_file(file, folder.file(entry.relative_name));
        EXPECT_EQ(take_pending(), entry.expected_code) << entry.description;
        EXPECT_EQ(file.mode != file_mode::closed, entry.expected_code == 0) << entry.description;
        if (file.mode != file_mode::closed) {
            close_data_file(file);
        }
    }
}

TEST(open_data_file, opens_a_read_only_file)
{
    temp_folder folder;
    const auto path = folder.file("read_only");
    testing::write_file(path, {7, 8});
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    data_file file;
    open_data_file(file, path);
    ASSERT_EQ(take_pending(), 0);
    std::array<std::uint8_t, 2> content{};
    read_exact(file, content.data(), 2);
    EXPECT_EQ(take_pending(), 0);
    EXPECT_EQ(content, (std::array<std::uint8_t, 2>{7, 8}));
    close_data_file(file);
}

TEST(read_exact, reads_in_order_and_keeps_position_and_end_true)
{
    temp_folder folder;
    const auto path = folder.file("data");
    const bytes content = counting_bytes(200000);
    testing::write_file(path, content);
    data_file file;
    open_data_file(file, path);
    bytes seen;
    // Small, odd and large reads mixed, as the loader does them.
    for (const std::size_t count : {2u, 1u, 144u, 0u, 70000u, 3u, 65535u, 30u}) {
        bytes piece(count);
        read_exact(file, piece.data(), count);
        ASSERT_EQ(take_pending(), 0);
        seen.insert(seen.end(), piece.begin(), piece.end());
        EXPECT_EQ(file_position(file), seen.size());
        EXPECT_FALSE(at_end(file));
    }
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), content.begin()));
    EXPECT_EQ(file_size(file), content.size());
    bytes rest(content.size() - seen.size());
    read_exact(file, rest.data(), rest.size());
    EXPECT_EQ(take_pending(), 0);
    EXPECT_TRUE(at_end(file));
    close_data_file(file);
    EXPECT_EQ(take_pending(), 0);
}

TEST(read_exact, short_reads_leave_100_and_stand_at_the_end)
{
    temp_folder folder;
    const auto path = folder.file("data");
    testing::write_file(path, counting_bytes(5));
    for (const std::size_t count : {6u, 100000u}) {
        data_file file;
        open_data_file(file, path);
        std::array<std::uint8_t, 3> front{};
        read_exact(file, front.data(), 3);
        ASSERT_EQ(take_pending(), 0);
        bytes too_many(count);
        read_exact(file, too_many.data(), count);
        EXPECT_EQ(take_pending(), 100) << count;
        EXPECT_TRUE(at_end(file));
        EXPECT_EQ(too_many[0], 3);
        EXPECT_EQ(too_many[1], 4);
        close_data_file(file);
    }
}

TEST(data_file, operations_on_a_file_not_open_leave_103)
{
    data_file file;
    std::array<std::uint8_t, 2> buffer{};
    read_exact(file, buffer.data(), 2);
    EXPECT_EQ(take_pending(), 103);
    write_exact(file, buffer.data(), 2);
    EXPECT_EQ(take_pending(), 103);
    static_cast<void>(file_size(file));
    EXPECT_EQ(take_pending(), 103);
    static_cast<void>(file_position(file));
    EXPECT_EQ(take_pending(), 103);
    close_data_file(file);
    EXPECT_EQ(take_pending(), 103);
}

TEST(data_file, a_save_opened_for_reading_cannot_be_written)
{
    temp_folder folder;
    const auto path = folder.file("save");
    testing::write_file(path, {1, 2, 3});
    data_file file;
    open_data_file(file, path);
    const std::array<std::uint8_t, 1> byte{9};
    write_exact(file, byte.data(), 1);
    EXPECT_EQ(take_pending(), 103);
    close_data_file(file);
    EXPECT_EQ(testing::read_file(path), (bytes{1, 2, 3}));
}

TEST(create_data_file, truncates_and_writes_exactly)
{
    temp_folder folder;
    const auto path = folder.file("out");
    testing::write_file(path, counting_bytes(1000));
    data_file file;
    create_data_file(file, path);
    ASSERT_EQ(take_pending(), 0);
    const bytes content{1, 2, 3, 4};
    write_exact(file, content.data(), content.size());
    EXPECT_EQ(take_pending(), 0);
    EXPECT_EQ(file_size(file), 4u);
    EXPECT_EQ(file_position(file), 4u);
    close_data_file(file);
    EXPECT_EQ(take_pending(), 0);
    EXPECT_EQ(testing::read_file(path), content);
    close_data_file(file);
    EXPECT_EQ(take_pending(), 103);
}

TEST(create_data_file, fails_in_a_missing_folder)
{
    temp_folder folder;
    data_file file;
    create_data_file(file, folder.file("missing/out"));
    EXPECT_EQ(take_pending(), 3);
    EXPECT_EQ(file.mode, file_mode::closed);
}

TEST(write_exact, a_full_disk_is_disk_full)
{
    if (!testing::file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    data_file file;
    create_data_file(file, "/dev/full");
    ASSERT_EQ(take_pending(), 0);
    const bytes content(4096, 1);
    write_exact(file, content.data(), content.size());
    EXPECT_EQ(take_pending(), 101);
    close_data_file(file);
    take_pending();
}

#ifndef _WIN32 // Windows has no cap on the size of a process's files
// A disk that fills up in the middle of a write keeps what came before.
TEST(write_exact, a_file_that_cannot_grow_keeps_the_bytes_that_fit)
{
    temp_folder folder;
    const auto path = folder.file("capped");
    const bytes content = counting_bytes(4200);
    {
        testing::file_size_cap cap(1000);
        data_file file;
        create_data_file(file, path);
        write_exact(file, content.data(), content.size());
        EXPECT_NE(take_pending(), 0);
        close_data_file(file);
        take_pending();
    }
    EXPECT_EQ(testing::read_file(path), bytes(content.begin(), content.begin() + 1000));
}
#endif

} // namespace
} // namespace orbse
