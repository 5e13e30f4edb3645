// The whole loaded save, `saveorec`, and the records it is made of. The
// loader fills it once; everything after loading only reads it.
#pragma once

#include "orbsaves/segmented_array.h"
#include "runtime/little_endian.h"

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

// One entry of the unit class index: one object of the per-player groups,
// in file order. `unit_type` is the unit type row minus one, as the game
// stores it (-1 to 91); a post-update record's entry is all zero. `values_row`
// tells which 93-row table holds the object's values record: the player's
// units_block, its units_updates_block, or none for a post-update.
struct unit_class_entry {
    enum class values_source : std::uint8_t { none, units_block, units_updates };

    std::int32_t unit_type = 0;
    std::int32_t owner = 0;
    values_source source = values_source::none;
    std::uint8_t values_row = 0;
};

// The object number that a new object of the unit stream must carry: one
// above the latest. Formed at full width, so once the counter stands at
// 65,535 no number qualifies.
inline constexpr bool is_next_object(std::uint16_t number, std::uint16_t object_counter)
{
    return std::uint32_t{number} == std::uint32_t{object_counter} + 1;
}

inline constexpr std::size_t unit_data_size = 144;

// A named field inside a unit object's 144 bytes of unit data, by its offset
// from the start of the object: the object number and the class word take
// offsets 0 to 3, so the unit data begins at offset 4.
struct unit_field {
    std::size_t object_offset;
    std::size_t width; // 1 or 2 bytes, little-endian
};

inline constexpr std::size_t unit_data_offset = 4;

namespace unit_fields {
inline constexpr unit_field selected{42, 2};
inline constexpr unit_field unk1{100, 2};
inline constexpr unit_field unk2{102, 2};
inline constexpr unit_field unk3{112, 1};
inline constexpr unit_field speed_now{113, 2};
inline constexpr unit_field unk4{115, 1};
inline constexpr unit_field unk5{116, 2};
inline constexpr unit_field unk6{118, 1};
inline constexpr unit_field unk7{119, 1};
inline constexpr unit_field unk8{120, 2};
// The last two words of the unit data: the number of the unit's path, and 4
// when that path follows inline.
inline constexpr unit_field path_ref{144, 2};
inline constexpr unit_field path_kind{146, 2};
} // namespace unit_fields

static_assert(unit_fields::path_kind.object_offset + unit_fields::path_kind.width == unit_data_offset + unit_data_size,
              "the path words close the unit data");

inline constexpr std::uint16_t new_path_kind = 4;
inline constexpr std::uint16_t new_linked_unit_kind = 5;

// An inline path of a unit: three header words that nothing interprets and
// the number of its points. The points themselves live in the unit store's
// one flat array of path points.
struct pathdefblock {
    std::array<std::uint16_t, 3> header_words{};
    std::uint16_t point_count = 0;
};

// The record of a list slot that held a new unit object. A linked unit is
// read into the record of the unit that links it, so after a chain of links
// the record holds the innermost unit's number, class word (5), unit data,
// unit_class, aux_word and link_ref, while link_kind, unkf1 and unkf1_extra
// hold what the outer levels read last.
struct unidefrec {
    // Where the path's points begin in unidefa::path_points. Kept first so
    // that the record packs without padding.
    std::uint64_t first_point = 0;
    std::uint16_t object_id = 0;
    std::uint16_t class_word = 0;
    std::array<std::uint8_t, unit_data_size> unit_data{};
    pathdefblock path;
    std::uint16_t unit_class = 0; // position in the unit class index
    std::uint16_t aux_word = 0;
    std::uint16_t link_ref = 0;
    std::uint16_t link_kind = 0;
    std::uint16_t unkf1 = 0;
    std::uint16_t unkf1_extra = 0; // read only when unkf1 is 1

    std::uint16_t field(unit_field named) const
    {
        const std::size_t at = named.object_offset - unit_data_offset;
        return named.width == 1 ? unit_data[at] : load_u16(&unit_data[at]);
    }

    std::uint16_t selected() const { return field(unit_fields::selected); }
    std::uint16_t speed_now() const { return field(unit_fields::speed_now); }
    std::uint16_t unk1() const { return field(unit_fields::unk1); }
    std::uint16_t unk2() const { return field(unit_fields::unk2); }
    std::uint8_t unk3() const { return static_cast<std::uint8_t>(field(unit_fields::unk3)); }
    std::uint8_t unk4() const { return static_cast<std::uint8_t>(field(unit_fields::unk4)); }
    std::uint16_t unk5() const { return field(unit_fields::unk5); }
    std::uint8_t unk6() const { return static_cast<std::uint8_t>(field(unit_fields::unk6)); }
    std::uint8_t unk7() const { return static_cast<std::uint8_t>(field(unit_fields::unk7)); }
    std::uint16_t unk8() const { return field(unit_fields::unk8); }
    std::uint16_t path_ref() const { return field(unit_fields::path_ref); }
    std::uint16_t path_kind() const { return field(unit_fields::path_kind); }
};

// One slot of a unit list as the store hands it out.
struct unit_slot {
    std::size_t list = 0; // position of the list in the store, from 0
    std::size_t slot = 0; // position in its list, from 0
    std::uint16_t object_id = 0;
    // The unit read for the slot; null when the slot held only a reference
    // to an object numbered elsewhere.
    const unidefrec* unit = nullptr;

    bool present() const { return unit != nullptr; }
};

// The unit store: every unit list of the stream, kept flat. A save may hold
// millions of slots that are mere references (two bytes each in the file),
// so a slot costs its object number and one bit; only a slot that held a new
// unit has a record, and all paths share one array of points.
struct unidefa {
    // The number of the latest new object; it wraps from 65,535 to 0.
    std::uint16_t object_counter = 0;
    // One size per unit list, in stream order. No list is empty: a size of
    // 0 ends the stream.
    segmented_array<std::uint16_t> list_sizes;
    // The object number read for every slot, the lists one after another.
    segmented_array<std::uint16_t> slot_numbers;
    // One bit per slot: set when the slot held a new unit object.
    segmented_bits slot_present;
    // One record per set bit, in slot order. Records are large, and a save
    // of more than a few dozen units soon fills a large page, so their array
    // goes on to large pages after its first 4 KB: the demo's 1,900 units
    // then cost one large page and a single small fault, not sixteen.
    segmented_array<unidefrec, 4 * 1024> units;
    segmented_array<std::uint16_t> path_points;

    // Calls `visit` with every slot read, list by list and slot by slot.
    template <typename slot_visitor>
    void for_each_slot(slot_visitor&& visit) const
    {
        const std::size_t slots_read = slot_numbers.size();
        std::size_t slot_index = 0;
        std::size_t unit_index = 0;
        for (std::size_t list = 0; list < list_sizes.size(); ++list) {
            // A load cut short leaves its last list with fewer slots than its size.
            for (std::size_t slot = 0; slot < list_sizes[list] && slot_index < slots_read; ++slot, ++slot_index) {
                const unidefrec* unit = slot_present[slot_index] ? &units[unit_index++] : nullptr;
                visit(unit_slot{list, slot, unit ? unit->object_id : slot_numbers[slot_index], unit});
            }
        }
    }
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
    // Every byte after the unit stream, kept as read, on large pages as the
    // store's segments are. Its size is held at 64 bits: a tail past 2 GB
    // must not turn negative.
    large_buffer<std::uint8_t> tail_data;
    std::int64_t tail_size = 0;
};

} // namespace orbse
