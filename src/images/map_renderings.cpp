#include "images/map_renderings.h"

#include "images/bmp_writer.h"
#include "images/colours.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

namespace orbse {
namespace {

// A rendering's picture. Every pixel of a cell takes the cell's colour, so
// the drawing keeps one colour per cell, and the writer spreads each row of
// cells into a row of pixels only as it goes to the file.
//
// The three pictures go to the writer with the red-blue swap, which stores
// the rows last to first whether the rows are flipped as well (the resource
// byte 1 picture) or not (the other two): so in every picture map row 0 is
// at the top.
class map_picture {
public:
    map_picture() : cell_colours_(map_cell_count) {}

    void visit(int cell_index) { cell_ = static_cast<std::size_t>(cell_index); }

    void fill_cell(rgba_color colour) { cell_colours_[cell_] = colour; }

    void write(const std::string& file_name) const
    {
        write_scaled_bmp(file_name, cell_colours_.data(), map_side, map_side, cell_scale);
    }

private:
    std::vector<rgba_color> cell_colours_;
    std::size_t cell_ = 0;
};

// The frame all three share: visit every cell in file order, let the cell
// rule draw it, write the picture. The picture goes with the call.
template <typename cell_rule>
void render_map(const std::string& file_name, cell_rule&& draw_cell)
{
    map_picture picture;
    for (int cell_index = 0; cell_index < map_cell_count; ++cell_index) {
        picture.visit(cell_index);
        draw_cell(picture, static_cast<std::size_t>(cell_index));
    }
    picture.write(file_name);
}

// Pass layer: the terrain values that name a colour.
struct terrain_colour {
    std::uint8_t pass_value;
    rgba_color colour;
};

constexpr std::array<terrain_colour, 4> terrain_colours{{
    {1, col_green},
    {2, col_blue},
    {4, col_brown},
    {8, col_gray},
}};

const rgba_color* colour_of_terrain(std::uint8_t pass_value)
{
    for (const auto& terrain : terrain_colours) {
        if (terrain.pass_value == pass_value) {
            return &terrain.colour;
        }
    }
    return nullptr;
}

// Resource byte 0: a base of 32, 64 or 128 for the kind plus a level from 1
// to 16. The kind decides which channels carry the level.
struct resource_kind {
    std::uint8_t base;
    bool red;
    bool green;
    bool blue;
};

constexpr std::array<resource_kind, 3> resource_kinds{{
    {32, false, true, false}, // green
    {64, true, true, false},  // yellow
    {128, true, true, true},  // grey to white
}};

constexpr int highest_level = 16;
// The levels are spread over seventeen steps, so even level 16 stays short
// of full brightness.
constexpr double level_steps = 17.0;
constexpr double level_colour_floor = 128.0;
constexpr double level_colour_range = 128.0;

struct resource_reading {
    const resource_kind* kind = nullptr;
    double amount = 0.0;
};

bool is_empty_resource(std::uint8_t value) { return value == 0 || value == 128; }

std::optional<resource_reading> read_resource(std::uint8_t value)
{
    for (const auto& kind : resource_kinds) {
        const int level = value - kind.base;
        if (level >= 1 && level <= highest_level) {
            return resource_reading{&kind, level / level_steps};
        }
    }
    return std::nullopt;
}

rgba_color colour_of_resource(const resource_reading& reading)
{
    const auto level_colour =
        static_cast<std::uint8_t>(std::nearbyint(reading.amount * level_colour_range + level_colour_floor));
    const auto channel = [level_colour](bool lit) { return lit ? level_colour : std::uint8_t{0}; };
    return pack_rgba(channel(reading.kind->red), channel(reading.kind->green), channel(reading.kind->blue),
                     opaque);
}

// Resource byte 1: four flags, each with a colour, mixed in this order.
struct survey_flag {
    std::uint8_t bit;
    rgba_color colour;
};

constexpr std::array<survey_flag, 4> survey_flags{{
    {4, col_gray},
    {8, col_blue},
    {16, col_green},
    {32, col_red},
}};

constexpr float half_and_half = 0.5f;

rgba_color colour_of_survey(std::uint8_t value)
{
    // Alpha 0 marks "no flag yet": the first flag then comes out as its own
    // colour (weight 0), and every later one is mixed in half and half.
    rgba_color mixed = col_black;
    mixed.alpha = 0;
    for (const auto& flag : survey_flags) {
        if ((value & flag.bit) != 0) {
            mixed = blend_rgba(mixed, flag.colour, mixed.alpha != 0 ? half_and_half : 0.0f);
        }
    }
    mixed.alpha = opaque;
    return mixed;
}

std::uint8_t resource_byte(const saveorec& save, std::size_t cell_index, std::size_t byte)
{
    return save.resource_layer[cell_index * 2 + byte];
}

} // namespace

void render_pass_map(const saveorec& save, const std::string& file_name)
{
    // A value without a colour of its own repeats the colour of the last
    // cell that had one; before the first such cell there is none to repeat,
    // and those cells stay black.
    rgba_color current = col_black;
    render_map(file_name, [&](map_picture& picture, std::size_t cell_index) {
        if (const rgba_color* terrain = colour_of_terrain(save.pass_layer[cell_index])) {
            current = *terrain;
        }
        picture.fill_cell(current);
    });
}

void render_rm1_map(const saveorec& save, const std::string& file_name)
{
    // A value outside the three kinds (other than the empty 0 and 128)
    // repeats the kind and amount last read; black until there is one.
    std::optional<resource_reading> current;
    render_map(file_name, [&](map_picture& picture, std::size_t cell_index) {
        picture.fill_cell(col_black);
        const std::uint8_t value = resource_byte(save, cell_index, 0);
        if (is_empty_resource(value)) {
            return;
        }
        if (const auto reading = read_resource(value)) {
            current = reading;
        }
        if (current) {
            picture.fill_cell(colour_of_resource(*current));
        }
    });
}

void render_rm2_map(const saveorec& save, const std::string& file_name)
{
    render_map(file_name, [&](map_picture& picture, std::size_t cell_index) {
        picture.fill_cell(col_black);
        const std::uint8_t value = resource_byte(save, cell_index, 1);
        if (value != 0) {
            picture.fill_cell(colour_of_survey(value));
        }
    });
}

} // namespace orbse
