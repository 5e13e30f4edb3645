// Runs the real executable on built saves and checks the three map pictures
// it leaves, byte for byte, against pictures assembled here from the colour
// each cell must have.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <regex>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::bytes;
using testing::temp_folder;

constexpr int cells_per_side = 112;
constexpr int pixels_per_cell = 8;
constexpr int picture_side = cells_per_side * pixels_per_cell;
constexpr std::size_t picture_file_size = 3211318;

struct rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

using cell_colour = std::function<rgb(int column, int row)>;

// What a viewer expects of an 896 x 896 32-bit BMP: the two headers, then
// the pixel rows bottom-up, each pixel blue, green, red, alpha.
bytes assembled_picture(const cell_colour& colour_of)
{
    bytes file{
        0x42, 0x4D, 0x36, 0x00, 0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00, // file header
        0x28, 0x00, 0x00, 0x00, 0x80, 0x03, 0x00, 0x00, 0x80, 0x03, 0x00, 0x00, 0x01, 0x00, // info header
        0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00, 0xE8, 0x03, 0x00, 0x00,
        0xE8, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    file.reserve(picture_file_size);
    for (int y = picture_side - 1; y >= 0; --y) {
        for (int x = 0; x < picture_side; ++x) {
            const rgb colour = colour_of(x / pixels_per_cell, y / pixels_per_cell);
            file.insert(file.end(), {colour.blue, colour.green, colour.red, 255});
        }
    }
    return file;
}

// Equal, or where the first difference lies, in pixels of the picture.
::testing::AssertionResult same_picture(const bytes& actual, const bytes& expected)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << "size " << actual.size() << ", expected " << expected.size();
    }
    const auto [at, _] = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (at == actual.end()) {
        return ::testing::AssertionSuccess();
    }
    const auto offset = static_cast<std::size_t>(at - actual.begin());
    if (offset < 54) {
        return ::testing::AssertionFailure() << "header byte " << offset << " differs";
    }
    const std::size_t pixel = (offset - 54) / 4;
    return ::testing::AssertionFailure() << "first difference at byte " << offset << ", shown pixel ("
                                         << pixel % picture_side << ", "
                                         << picture_side - 1 - static_cast<int>(pixel / picture_side) << ")";
}

constexpr rgb black{0, 0, 0};
constexpr rgb green{0, 255, 0};
constexpr rgb blue{0, 0, 255};
constexpr rgb brown{150, 75, 0};
constexpr rgb grey{128, 128, 128};

// The pass layer repeats 1, 2, 4, 8, 0, 7 in scan order, so 0 and 7 always
// follow an 8 and repeat its grey, and the rows shift against each other.
constexpr std::array<std::uint8_t, 6> pass_pattern{1, 2, 4, 8, 0, 7};
constexpr std::array<rgb, 6> pass_pattern_colours{green, blue, brown, grey, grey, grey};

// Byte 0 of the resource layer repeats eight values across each row, at the
// level row mod 16 + 1: raw material, empty, fuel, a value of no kind, empty,
// gold, another of no kind, one just past the gold range. No kind repeats
// the cell before.
constexpr std::array<std::uint8_t, 16> level_brightness{136, 143, 151, 158, 166, 173, 181, 188,
                                                        196, 203, 211, 218, 226, 233, 241, 248};

int level_of_row(int row) { return row % 16 + 1; }

std::uint8_t resource_kind_value(int column, int row)
{
    const int level = level_of_row(row);
    const std::array<int, 8> values{32 + level, 0, 64 + level, 200, 128, 128 + level, 64, 145};
    return static_cast<std::uint8_t>(values[static_cast<std::size_t>(column % 8)]);
}

rgb resource_kind_colour(int column, int row)
{
    const std::uint8_t v = level_brightness[static_cast<std::size_t>(level_of_row(row) - 1)];
    const std::array<rgb, 8> colours{rgb{0, v, 0}, black, rgb{v, v, 0}, rgb{v, v, 0},
                                     black,        rgb{v, v, v}, rgb{v, v, v}, rgb{v, v, v}};
    return colours[static_cast<std::size_t>(column % 8)];
}

// Byte 1: the four flags (values 4 to 32) run through all sixteen mixes in
// scan order, with bits 0, 1, 6 and 7 set from the column and row.
constexpr std::array<rgb, 16> flag_mixes{{
    {0, 0, 0},       {128, 128, 128}, {0, 0, 255},   {64, 64, 191}, {0, 255, 0},    {64, 191, 64},
    {0, 128, 128},   {32, 159, 96},   {255, 0, 0},   {191, 64, 64}, {128, 0, 128},  {159, 32, 96},
    {128, 128, 0},   {159, 96, 32},   {128, 64, 64}, {143, 80, 48},
}};

int cell_index(int column, int row) { return row * cells_per_side + column; }

std::uint8_t flag_value(int column, int row)
{
    return static_cast<std::uint8_t>((cell_index(column, row) % 16) << 2 | column % 4 | (row % 4) << 6);
}

sb::save_description patterned_save()
{
    sb::save_description save = sb::empty_save();
    for (int row = 0; row < cells_per_side; ++row) {
        for (int column = 0; column < cells_per_side; ++column) {
            const auto cell = static_cast<std::size_t>(cell_index(column, row));
            save.pass_layer[cell] = pass_pattern[cell % pass_pattern.size()];
            save.resource_layer[2 * cell] = resource_kind_value(column, row);
            save.resource_layer[2 * cell + 1] = flag_value(column, row);
        }
    }
    return save;
}

TEST(inspector_pictures, are_written_byte_for_byte_over_older_files)
{
    temp_folder folder;
    const auto save = folder.file("patterned.sav");
    testing::write_file(save, sb::build_save(patterned_save()));
    // Older files of the same names, one longer and one shorter than a picture.
    testing::write_file(save + "_pass.bmp", bytes(picture_file_size + 1000, 0xEE));
    testing::write_file(save + "_rm1.bmp", bytes(10, 0xEE));

    const auto run = testing::run_inspector({save});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.standard_output, "");
    EXPECT_EQ(run.standard_error, "");

    EXPECT_TRUE(same_picture(testing::read_file(save + "_pass.bmp"), assembled_picture([](int column, int row) {
        return pass_pattern_colours[static_cast<std::size_t>(cell_index(column, row)) % pass_pattern.size()];
    })));
    EXPECT_TRUE(same_picture(testing::read_file(save + "_rm1.bmp"), assembled_picture(resource_kind_colour)));
    EXPECT_TRUE(same_picture(testing::read_file(save + "_rm2.bmp"), assembled_picture([](int column, int row) {
        return flag_mixes[static_cast<std::size_t>(cell_index(column, row) % 16)];
    })));
}

// A save whose layers are all zeros: nothing to carry in the pass picture
// and no resources, so all three pictures are black.
TEST(inspector_pictures, of_empty_layers_are_black)
{
    temp_folder folder;
    const auto save = folder.file("empty.sav");
    testing::write_file(save, sb::build_save(sb::empty_save()));
    const auto run = testing::run_inspector({save});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.standard_error, "");
    const bytes all_black = assembled_picture([](int, int) { return black; });
    for (const char* suffix : {"_pass.bmp", "_rm1.bmp", "_rm2.bmp"}) {
        EXPECT_TRUE(same_picture(testing::read_file(save + suffix), all_black)) << suffix;
    }
}

// The pictures are written in order before the report, and the first one
// that cannot be created ends the run: the ones before it are complete, the
// ones after it and the report keep what they held.
TEST(inspector_pictures, a_picture_that_cannot_be_created_ends_the_run)
{
    temp_folder folder;
    const auto save = folder.file("blocked.sav");
    testing::write_file(save, sb::build_save(sb::empty_save()));
    std::filesystem::create_directory(save + "_rm1.bmp");
    testing::write_text_file(save + "_rm2.bmp", "older picture");
    testing::write_text_file(save + ".inf", "older report");

    const auto run = testing::run_inspector({save});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.standard_output, "");
    const std::regex report("Exception EInOutError in module " +
                            testing::module_name_pattern(testing::inspector_path()) +
                            " at [0-9A-F]{8}\\.\r\nFile access denied\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(run.standard_error, report)) << run.standard_error;

    EXPECT_EQ(testing::read_file(save + "_pass.bmp").size(), picture_file_size);
    EXPECT_TRUE(std::filesystem::is_directory(save + "_rm1.bmp"));
    EXPECT_EQ(testing::read_text_file(save + "_rm2.bmp"), "older picture");
    EXPECT_EQ(testing::read_text_file(save + ".inf"), "older report");
}

} // namespace
} // namespace orbse
