// The whole loaded save, `saveorec`, and the records it is made of. The
// loader fills it once; everything after loading only reads it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbse {

inline constexpr int map_side = 112;
inline constexpr int map_cell_count = map_side * map_side;
inline constexpr int player_count = 4;
inline constexpr int unit_type_count = 93;
inline constexpr std::size_t name_size = 30;
inline constexpr std::size_t values_record_size = 30;
inline constexpr std::size_t post_update_record_size = 18;
inline constexpr std::size_t header_size = 224;
inline constexpr std::size_t player_record_size = 565;

enum player_colour : int { red = 0, green = 1, blue = 2, gray = 3 };

using name_field = std::array<std::uint8_t, name_size>;

// The game settings at the front of the save, as a version-70 save lays them
// out in its first 224 bytes.
struct game_header {
    std::uint16_t version = 0;
    std::uint8_t save_type = 0;
    name_field game_name{};
    std::uint8_t map_number = 0;
    std::uint16_t level_number = 0;
    std::array<name_field, player_count> player_names{};
    std::array<std::uint8_t, player_count> player_kinds{};
    std::uint8_t alien_player = 0;
    std::array<std::uint8_t, 5> reserved{};
    std::uint32_t save_date = 0;
    std::uint8_t cpu_iq = 0;
    std::uint16_t turn_time_1 = 0;
    std::uint16_t end_turn_time_1 = 0;
    std::uint8_t turn_mode_1 = 0;
    std::int32_t map_number_2 = 0;
    std::int32_t turn_time_2 = 0;
    std::int32_t end_turn_time_2 = 0;
    std::int32_t start_gold = 0;
    std::int32_t turn_mode_2 = 0;
    std::int32_t end_type = 0;
    std::int32_t end_amount = 0;
    std::int32_t cpu_iq_2 = 0;
    std::int32_t raw_richness = 0;
    std::int32_t fuel_richness = 0;
    std::int32_t gold_richness = 0;
    std::int32_t alien_frequency = 0;
};

struct research_entry {
    std::int32_t now = 0;
    std::int32_t unk = 0;
    std::int32_t labs = 0;
};

inline constexpr int research_count = 8;
inline constexpr int button_count = 11;

// One player's record: 565 bytes, the same layout in the file and here.
struct player_record {
    std::array<std::uint8_t, 40> reserved_front{};
    std::uint8_t player_type = 0;
    std::uint8_t unk0 = 0;
    std::uint8_t clan = 0;
    std::array<research_entry, research_count> research{};
    std::int32_t score = 0;
    std::uint16_t unk2 = 0;
    std::array<std::uint8_t, 93> unkarr1{};
    std::array<std::uint8_t, 110> reserved_middle{};
    std::uint16_t unk3 = 0;
    std::uint16_t selunit = 0;
    std::uint16_t zoom = 0;
    std::uint16_t xoff = 0;
    std::uint16_t yoff = 0;
    std::array<std::uint8_t, button_count> buttons{};
    std::uint16_t unk4 = 0;
    std::uint16_t unk5 = 0;
    std::uint16_t unk6 = 0;
    std::uint16_t unk7 = 0;
    std::array<std::uint8_t, 176> loses{};
    std::array<std::uint8_t, 10> unkarr2{};
    std::uint16_t gold_used = 0;
};

using values_record = std::array<std::uint8_t, values_record_size>;

// An object of the per-player groups: its number and a values record that
// nothing interprets.
struct unit_type_entry {
    std::uint16_t object_number = 0;
    values_record values{};
};

// One entry per unit type row; entry 0's number is the player's base number.
using units_block = std::array<unit_type_entry, unit_type_count>;

struct units_updates_block {
    std::int32_t count = 0;
    std::array<std::uint8_t, unit_type_count> flags{};
    std::array<unit_type_entry, unit_type_count> entries{};
};

using post_update_record = std::array<std::uint8_t, post_update_record_size>;

struct units_post_updates_block_record {
    std::uint16_t count = 0;
    std::vector<post_update_record> records;
};

// One object of the per-player groups as the unit listing resolves it.
// `values_row` tells which 93-row table holds its values record: the
// player's units_block, its units_updates_block, or none for a post-update.
struct unit_class_entry {
    enum class values_source : std::uint8_t { none, units_block, units_updates };

    std::int32_t unit_type = 0;
    std::int32_t owner = 0;
    values_source source = values_source::none;
    std::uint8_t values_row = 0;
};

// An inline path of a unit: three words nothing interprets and its points.
struct pathdefblock {
    std::array<std::uint16_t, 3> header_words{};
    std::uint16_t point_count = 0;
    std::vector<std::uint16_t> points;
};

inline constexpr std::size_t unit_data_size = 144;

// One unit as read from a list slot of the unit stream.
struct unidefrec {
    std::uint16_t object_id = 0;
    std::uint16_t class_word = 0;
    std::array<std::uint8_t, unit_data_size> unit_data{};
    pathdefblock path;
    std::uint16_t unit_class = 0;
    std::uint16_t aux_word = 0;
    std::uint16_t link_ref = 0;
    std::uint16_t link_kind = 0;
    std::uint16_t unkf1 = 0;
    std::uint16_t unkf1_extra = 0;
    std::uint8_t present = 0;
};

// The unit store: every unit list of the stream.
struct unidefa {
    std::uint16_t object_counter = 0;
    std::vector<std::uint16_t> list_sizes;
    std::vector<std::vector<unidefrec>> unit_lists;
};

struct saveorec {
    game_header header;
    std::array<std::uint8_t, map_cell_count> pass_layer{};
    // Two bytes per cell, byte 0 of cell i at 2i and byte 1 at 2i + 1.
    std::array<std::uint8_t, map_cell_count * 2> resource_layer{};
    std::array<player_record, player_count> players{};
    std::array<std::uint8_t, 40> block40{};
    std::array<std::uint8_t, 36> block36{};
    std::array<units_block, player_count> units_blocks{};
    std::array<units_updates_block, player_count> units_updates{};
    std::array<units_post_updates_block_record, player_count> post_updates{};
    std::array<std::uint16_t, player_count - 1> lead_words{};
    std::vector<unit_class_entry> unit_class_index;
    unidefa unit_store;
    std::vector<std::uint8_t> tail_data;
    std::int64_t tail_size = 0;
};

} // namespace orbse
