#include "images/bmp_writer.h"
#include "runtime/failures.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace orbse {
namespace {

using testing::bytes;
using testing::temp_folder;

bytes written_bmp(const temp_folder& folder, const bytes& pixels, std::int32_t width, std::int32_t height,
                  bool flip_rows, bool swap_red_blue)
{
    const auto name = folder.file("picture.bmp");
    EXPECT_TRUE(write_bmp(name, pixels.data(), width, height, flip_rows, swap_red_blue));
    return testing::read_file(name);
}

bytes pixel_data(const bytes& file) { return bytes(file.begin() + 54, file.end()); }

TEST(write_bmp, writes_the_headers_of_an_896_by_896_picture)
{
    temp_folder folder;
    const bytes pixels(896 * 896 * 4, 0x5A);
    const bytes file = written_bmp(folder, pixels, 896, 896, false, true);
    ASSERT_EQ(file.size(), 3211318u);
    const bytes headers(file.begin(), file.begin() + 54);
    const bytes expected{
        0x42, 0x4D,             // signature "BM"
        0x36, 0x00, 0x31, 0x00, // file size 3,211,318
        0x00, 0x00, 0x00, 0x00, // reserved
        0x36, 0x00, 0x00, 0x00, // pixel data at 54
        0x28, 0x00, 0x00, 0x00, // info header size 40
        0x80, 0x03, 0x00, 0x00, // width 896
        0x80, 0x03, 0x00, 0x00, // height 896, rows bottom-up
        0x01, 0x00,             // one plane
        0x20, 0x00,             // 32 bits per pixel
        0x00, 0x00, 0x00, 0x00, // uncompressed
        0x00, 0x00, 0x31, 0x00, // image size 3,211,264
        0xE8, 0x03, 0x00, 0x00, // 1000 pixels per metre across
        0xE8, 0x03, 0x00, 0x00, // and down
        0x00, 0x00, 0x00, 0x00, // colours used
        0x00, 0x00, 0x00, 0x00, // important colours
    };
    EXPECT_EQ(headers, expected);
}

struct layout_case {
    const char* description;
    bool flip_rows;
    bool swap_red_blue;
    bytes expected_pixel_data;
};

// One pixel wide, two rows: 1 2 3 4 above 5 6 7 8.
TEST(write_bmp, stores_the_rows_in_the_three_ways)
{
    temp_folder folder;
    const bytes pixels{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<layout_case> cases{
        {"swap", false, true, {7, 6, 5, 8, 3, 2, 1, 4}},
        {"swap with flip", true, true, {7, 6, 5, 8, 3, 2, 1, 4}},
        {"as they are", false, false, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"flip only", true, false, {5, 6, 7, 8, 1, 2, 3, 4}},
    };
    for (const auto& entry : cases) {
        const bytes file = written_bmp(folder, pixels, 1, 2, entry.flip_rows, entry.swap_red_blue);
        ASSERT_EQ(file.size(), 62u) << entry.description;
        EXPECT_EQ(pixel_data(file), entry.expected_pixel_data) << entry.description;
        EXPECT_EQ(file[2], 62) << entry.description;
        EXPECT_EQ(file[34], 8) << entry.description;
    }
}

TEST(write_bmp, keeps_the_pixels_of_wider_rows_in_order)
{
    temp_folder folder;
    // Two rows of three pixels.
    const bytes pixels{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    EXPECT_EQ(pixel_data(written_bmp(folder, pixels, 3, 2, false, true)),
              (bytes{15, 14, 13, 16, 19, 18, 17, 20, 23, 22, 21, 24, 3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12}));
    EXPECT_EQ(pixel_data(written_bmp(folder, pixels, 3, 2, true, false)),
              (bytes{13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(write_bmp, a_height_of_zero_gives_the_headers_alone)
{
    temp_folder folder;
    for (const bool swap_red_blue : {true, false}) {
        for (const bool flip_rows : {true, false}) {
            const bytes file = written_bmp(folder, bytes{}, 5, 0, flip_rows, swap_red_blue);
            ASSERT_EQ(file.size(), 54u);
            EXPECT_EQ(file[2], 54);
            EXPECT_EQ(file[18], 5);  // width as given
            EXPECT_EQ(file[22], 0);  // height
            EXPECT_EQ(file[34], 0);  // image size
        }
    }
}

TEST(write_bmp, replaces_a_longer_file)
{
    temp_folder folder;
    const auto name = folder.file("picture.bmp");
    testing::write_file(name, bytes(5000, 0xEE));
    const bytes pixels{1, 2, 3, 4};
    EXPECT_TRUE(write_bmp(name, pixels.data(), 1, 1, false, true));
    const bytes file = testing::read_file(name);
    ASSERT_EQ(file.size(), 58u);
    EXPECT_EQ(pixel_data(file), (bytes{3, 2, 1, 4}));
}

TEST(write_bmp, fails_at_the_open_in_a_missing_folder)
{
    temp_folder folder;
    const auto name = folder.file("missing/picture.bmp");
    const bytes pixels{1, 2, 3, 4};
    try {
        write_bmp(name, pixels.data(), 1, 1, false, true);
        FAIL() << "no failure raised";
    } catch (const io_failure& raised) {
        EXPECT_EQ(raised.code(), 3);
        EXPECT_EQ(raised.message(), "Invalid filename");
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
    EXPECT_EQ(pending_io_error, 0);
}

// A device that takes no bytes: the first header write fails as a full disk.
TEST(write_bmp, a_failed_write_ends_it_at_once)
{
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    const bytes pixels{1, 2, 3, 4};
    try {
        write_bmp("/dev/full", pixels.data(), 1, 1, false, true);
        FAIL() << "no failure raised";
    } catch (const io_failure& raised) {
        EXPECT_EQ(raised.message(), "Disk full");
    }
    EXPECT_EQ(pending_io_error, 0);
}

struct block_picture {
    std::int32_t columns;
    std::int32_t rows;
    std::int32_t scale;
};

// Colours that differ in every channel from block to block, alpha included.
std::vector<rgba_color> varied_colours(std::size_t count)
{
    std::vector<rgba_color> colours(count);
    std::uint32_t state = 12345;
    for (auto& colour : colours) {
        state = state * 1103515245u + 12345u;
        colour = rgba_color{static_cast<std::uint8_t>(state >> 24), static_cast<std::uint8_t>(state >> 16),
                            static_cast<std::uint8_t>(state >> 8), static_cast<std::uint8_t>(state >> 4)};
    }
    return colours;
}

// The picture of blocks spread out pixel by pixel, as a rendering would
// hand it to write_bmp.
std::vector<rgba_color> spread_out(const std::vector<rgba_color>& block_colours, const block_picture& picture)
{
    const auto width = static_cast<std::size_t>(picture.columns * picture.scale);
    const auto height = static_cast<std::size_t>(picture.rows * picture.scale);
    const auto scale = static_cast<std::size_t>(picture.scale);
    std::vector<rgba_color> pixels(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            pixels[y * width + x] = block_colours[(y / scale) * static_cast<std::size_t>(picture.columns) + x / scale];
        }
    }
    return pixels;
}

TEST(write_scaled_bmp, writes_the_file_write_bmp_writes_for_the_picture_spread_out)
{
    const std::vector<block_picture> pictures{
        {112, 112, 8}, // a map picture
        {1, 1, 1},
        {3, 2, 1},
        {2, 3, 5},
        {100, 40, 3},  // more rows than one batch holds, and not a whole number of batches
        {3000, 3, 4},  // a row wider than a batch
        {0, 4, 2},     // no columns: empty rows
        {4, 0, 2},     // no rows: the headers alone
        {3, 3, 0},     // no pixels at all
    };
    temp_folder folder;
    for (const auto& picture : pictures) {
        SCOPED_TRACE(::testing::Message() << picture.columns << " x " << picture.rows << " blocks of " << picture.scale);
        const auto block_colours =
            varied_colours(static_cast<std::size_t>(picture.columns) * static_cast<std::size_t>(picture.rows));
        const auto pixels = spread_out(block_colours, picture);
        const auto spread_name = folder.file("spread.bmp");
        const auto scaled_name = folder.file("scaled.bmp");
        const std::int32_t width = picture.columns * picture.scale;
        const std::int32_t height = picture.rows * picture.scale;
        ASSERT_TRUE(write_bmp(spread_name, pixels.data(), width, height, false, true));
        ASSERT_TRUE(write_scaled_bmp(scaled_name, block_colours.data(), picture.columns, picture.rows, picture.scale));
        const bytes scaled = testing::read_file(scaled_name);
        EXPECT_EQ(scaled.size(), 54u + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        EXPECT_TRUE(scaled == testing::read_file(spread_name));
    }
}

TEST(write_scaled_bmp, fails_as_write_bmp_fails)
{
    temp_folder folder;
    const rgba_color colour{1, 2, 3, 4};
    try {
        write_scaled_bmp(folder.file("missing/picture.bmp"), &colour, 1, 1, 8);
        FAIL() << "no failure raised";
    } catch (const io_failure& raised) {
        EXPECT_EQ(raised.message(), "Invalid filename");
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_THROW(write_scaled_bmp("/dev/full", &colour, 1, 1, 8), io_failure);
    }
    EXPECT_EQ(pending_io_error, 0);
}

TEST(file_routines, check_each_operation)
{
    temp_folder folder;
    data_file file;
    EXPECT_FALSE(open_file(file, folder.file("absent"), mode_read));
    EXPECT_EQ(file.mode, file_mode::closed);
    EXPECT_EQ(pending_io_error, 0);
    EXPECT_FALSE(testing::file_exists(folder.file("absent")));

    ASSERT_TRUE(open_file(file, folder.file("made"), mode_write));
    write_block(file, "abc", 3);
    close_file(file);
    EXPECT_EQ(testing::read_text_file(folder.file("made")), "abc");

    ASSERT_TRUE(open_file(file, folder.file("made"), mode_read));
    close_file(file);
    EXPECT_THROW(close_file(file), io_failure);
    EXPECT_THROW(write_block(file, "abc", 3), io_failure);
    EXPECT_THROW(open_file(file, folder.path().string(), mode_read), io_failure);
    EXPECT_EQ(pending_io_error, 0);
}

} // namespace
} // namespace orbse
