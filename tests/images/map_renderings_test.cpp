#include "images/map_renderings.h"
#include "picture_checks.h"
#include "runtime/failures.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace orbse {
namespace {

using testing::bytes;
using testing::cell_shows;
using testing::temp_folder;

using renderer = void (*)(const saveorec&, const std::string&);

std::unique_ptr<saveorec> blank_save() { return std::make_unique<saveorec>(); }

bytes rendered(renderer render, const saveorec& save)
{
    temp_folder folder;
    const auto name = folder.file("map.bmp");
    render(save, name);
    bytes file = testing::read_file(name);
    EXPECT_EQ(file.size(), testing::shown_file_size);
    return file;
}

std::uint8_t& pass_byte(saveorec& save, int cell) { return save.pass_layer[static_cast<std::size_t>(cell)]; }
std::uint8_t& resource_byte_0(saveorec& save, int cell)
{
    return save.resource_layer[2 * static_cast<std::size_t>(cell)];
}
std::uint8_t& resource_byte_1(saveorec& save, int cell)
{
    return save.resource_layer[2 * static_cast<std::size_t>(cell) + 1];
}

using layer_byte = std::uint8_t& (*)(saveorec&, int);

// Layer values for the first cells in scan order, and the colour each of
// those cells must show. Every other cell keeps the value 0.
struct scan_case {
    const char* description;
    std::vector<std::uint8_t> values;
    std::vector<rgba_color> expected;
};

void expect_scans(renderer render, layer_byte byte_of, const std::vector<scan_case>& cases)
{
    for (const auto& entry : cases) {
        auto save = blank_save();
        for (std::size_t cell = 0; cell < entry.values.size(); ++cell) {
            byte_of(*save, static_cast<int>(cell)) = entry.values[cell];
        }
        const bytes file = rendered(render, *save);
        for (std::size_t cell = 0; cell < entry.expected.size(); ++cell) {
            const int index = static_cast<int>(cell);
            EXPECT_TRUE(cell_shows(file, index % map_side, index / map_side, entry.expected[cell]))
                << entry.description;
        }
    }
}

std::vector<rgba_color> repeated(rgba_color colour, std::size_t count)
{
    return std::vector<rgba_color>(count, colour);
}

TEST(render_pass_map, colours_the_terrain_and_carries_the_last_colour)
{
    std::vector<std::uint8_t> last_of_row_0_is_water(map_side + 3, 1);
    last_of_row_0_is_water[map_side - 1] = 2;
    last_of_row_0_is_water[map_side] = 0;
    last_of_row_0_is_water[map_side + 1] = 9;
    last_of_row_0_is_water[map_side + 2] = 8;
    std::vector<rgba_color> water_across_the_row(map_side + 3, col_green);
    water_across_the_row[map_side - 1] = col_blue;
    water_across_the_row[map_side] = col_blue;
    water_across_the_row[map_side + 1] = col_blue;
    water_across_the_row[map_side + 2] = col_gray;

    expect_scans(render_pass_map, pass_byte,
                 {
                     {"all land", std::vector<std::uint8_t>(map_cell_count, 1), repeated(col_green, map_cell_count)},
                     {"all blocked", std::vector<std::uint8_t>(map_cell_count, 8), repeated(col_gray, map_cell_count)},
                     {"1, 0, 7, 2", {1, 0, 7, 2}, {col_green, col_green, col_green, col_blue}},
                     {"each value once", {1, 2, 4, 8, 3, 255, 16},
                      {col_green, col_blue, col_brown, col_gray, col_gray, col_gray, col_gray}},
                     {"black before the first terrain", {0, 3, 4, 0}, {col_black, col_black, col_brown, col_brown}},
                     {"carried over the row end", last_of_row_0_is_water, water_across_the_row},
                 });
}

TEST(render_pass_map, an_empty_layer_is_black)
{
    const bytes file = rendered(render_pass_map, *blank_save());
    for (int cell = 0; cell < map_cell_count; ++cell) {
        EXPECT_TRUE(cell_shows(file, cell % map_side, cell / map_side, col_black));
    }
}

// The brightness of levels 1 to 16: 128 + 128 * level / 17, rounded.
constexpr std::uint8_t level_colours[16] = {136, 143, 151, 158, 166, 173, 181, 188,
                                            196, 203, 211, 218, 226, 233, 241, 248};

TEST(render_rm1_map, draws_every_level_of_the_three_kinds)
{
    scan_case all_levels{"levels 1 to 16 of raw material, fuel and gold", {}, {}};
    for (int level = 1; level <= 16; ++level) {
        const std::uint8_t v = level_colours[level - 1];
        all_levels.values.insert(all_levels.values.end(), {std::uint8_t(32 + level), std::uint8_t(64 + level),
                                                           std::uint8_t(128 + level)});
        all_levels.expected.insert(all_levels.expected.end(),
                                   {pack_rgba(0, v, 0, 255), pack_rgba(v, v, 0, 255), pack_rgba(v, v, v, 255)});
    }
    expect_scans(render_rm1_map, resource_byte_0,
                 {
                     all_levels,
                     {"the worked values", {33, 48, 72, 80, 129, 144, 0, 128},
                      {pack_rgba(0, 136, 0, 255), pack_rgba(0, 248, 0, 255), pack_rgba(188, 188, 0, 255),
                       pack_rgba(248, 248, 0, 255), pack_rgba(136, 136, 136, 255), pack_rgba(248, 248, 248, 255),
                       col_black, col_black}},
                 });
}

TEST(render_rm1_map, other_values_repeat_the_last_kind_and_amount)
{
    const rgba_color level_8_raw = pack_rgba(0, 188, 0, 255);
    const rgba_color level_1_fuel = pack_rgba(136, 136, 0, 255);
    expect_scans(render_rm1_map, resource_byte_0,
                 {
                     {"after 40", {40, 32, 64, 200}, {level_8_raw, level_8_raw, level_8_raw, level_8_raw}},
                     {"the empty values draw black and carry nothing", {40, 0, 128, 32, 0, 145},
                      {level_8_raw, col_black, col_black, level_8_raw, col_black, level_8_raw}},
                     {"just outside the ranges", {65, 49, 81, 96, 127, 160, 255, 1},
                      repeated(level_1_fuel, 8)},
                     {"black before the first kind", {200, 32, 0, 64, 65, 1},
                      {col_black, col_black, col_black, col_black, level_1_fuel, level_1_fuel}},
                 });
}

// The sixteen mixes of the four flags, by value / 4 (gray 4, blue 8, green
// 16, red 32).
const rgba_color flag_mixes[16] = {
    pack_rgba(0, 0, 0, 255),       pack_rgba(128, 128, 128, 255), pack_rgba(0, 0, 255, 255),
    pack_rgba(64, 64, 191, 255),   pack_rgba(0, 255, 0, 255),     pack_rgba(64, 191, 64, 255),
    pack_rgba(0, 128, 128, 255),   pack_rgba(32, 159, 96, 255),   pack_rgba(255, 0, 0, 255),
    pack_rgba(191, 64, 64, 255),   pack_rgba(128, 0, 128, 255),   pack_rgba(159, 32, 96, 255),
    pack_rgba(128, 128, 0, 255),   pack_rgba(159, 96, 32, 255),   pack_rgba(128, 64, 64, 255),
    pack_rgba(143, 80, 48, 255),
};

TEST(render_rm2_map, mixes_the_four_flags)
{
    scan_case every_value{"every value 0 to 63", {}, {}};
    scan_case other_bits{"with bits 0, 1, 6 and 7 set too", {}, {}};
    for (int value = 0; value < 64; ++value) {
        every_value.values.push_back(static_cast<std::uint8_t>(value));
        every_value.expected.push_back(flag_mixes[value / 4]);
        other_bits.values.push_back(static_cast<std::uint8_t>(value | 0xC3));
        other_bits.expected.push_back(flag_mixes[value / 4]);
    }
    const rgba_color grey = col_gray;
    expect_scans(render_rm2_map, resource_byte_1,
                 {
                     every_value,
                     other_bits,
                     {"the worked values", {4, 5, 6, 7, 12, 60, 68, 64, 128, 3, 0},
                      {grey, grey, grey, grey, pack_rgba(64, 64, 191, 255), pack_rgba(143, 80, 48, 255), grey,
                       col_black, col_black, col_black, col_black}},
                     {"nothing carried from cell to cell", {12, 0, 64, 32},
                      {pack_rgba(64, 64, 191, 255), col_black, col_black, col_red}},
                 });
}

struct corner_case {
    const char* description;
    renderer render;
    layer_byte byte_of;
    std::uint8_t top_left_value;
    rgba_color top_left;
    std::uint8_t next_value; // for cell (1, 0), of another colour than the top left
    std::uint8_t bottom_right_value;
    rgba_color bottom_right;
};

// In the file the rows run bottom-up: right after the headers comes the
// bottom pixel row of map row 111, and the last row is the top of map row 0.
TEST(map_renderings, put_row_0_at_the_top_and_column_0_at_the_left)
{
    const std::vector<corner_case> cases{
        {"pass", render_pass_map, pass_byte, 2, col_blue, 1, 4, col_brown},
        {"rm1", render_rm1_map, resource_byte_0, 33, pack_rgba(0, 136, 0, 255), 0, 144, pack_rgba(248, 248, 248, 255)},
        {"rm2", render_rm2_map, resource_byte_1, 12, pack_rgba(64, 64, 191, 255), 0, 60, pack_rgba(143, 80, 48, 255)},
    };
    constexpr int last_cell = map_cell_count - 1;
    for (const auto& entry : cases) {
        auto save = blank_save();
        entry.byte_of(*save, 0) = entry.top_left_value;
        entry.byte_of(*save, 1) = entry.next_value;
        entry.byte_of(*save, last_cell) = entry.bottom_right_value;
        const bytes file = rendered(entry.render, *save);
        ASSERT_EQ(file.size(), testing::shown_file_size) << entry.description;

        EXPECT_TRUE(cell_shows(file, 0, 0, entry.top_left)) << entry.description;
        EXPECT_TRUE(cell_shows(file, 111, 111, entry.bottom_right)) << entry.description;
        const auto file_pixel = [&](std::size_t stored_row, std::size_t x) {
            const std::size_t at = testing::bmp_headers_size + (stored_row * testing::shown_side + x) * 4;
            const auto first = file.begin() + static_cast<std::ptrdiff_t>(at);
            return bytes(first, first + 4);
        };
        const bytes top_left_in_file{entry.top_left.blue, entry.top_left.green, entry.top_left.red, 255};
        const bytes bottom_right_in_file{entry.bottom_right.blue, entry.bottom_right.green,
                                         entry.bottom_right.red, 255};
        for (const std::size_t x : {0u, 7u}) {
            EXPECT_EQ(file_pixel(895, x), top_left_in_file) << entry.description;
            EXPECT_EQ(file_pixel(888, x), top_left_in_file) << entry.description;
        }
        for (const std::size_t x : {888u, 895u}) {
            EXPECT_EQ(file_pixel(0, x), bottom_right_in_file) << entry.description;
            EXPECT_EQ(file_pixel(7, x), bottom_right_in_file) << entry.description;
        }
        EXPECT_NE(file_pixel(895, 8), top_left_in_file) << entry.description;
        EXPECT_NE(file_pixel(887, 0), top_left_in_file) << entry.description;
        EXPECT_NE(file_pixel(0, 887), bottom_right_in_file) << entry.description;
        EXPECT_NE(file_pixel(8, 895), bottom_right_in_file) << entry.description;
    }
}

TEST(map_renderings, a_missing_folder_fails_the_write)
{
    temp_folder folder;
    const auto save = blank_save();
    for (const renderer render : {render_pass_map, render_rm1_map, render_rm2_map}) {
        EXPECT_THROW(render(*save, folder.file("missing/map.bmp")), io_failure);
    }
    EXPECT_EQ(pending_io_error, 0);
}

} // namespace
} // namespace orbse
