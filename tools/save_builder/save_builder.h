// Builds save files from a readable description, for tests and for the demo.
// It writes the format independently of the loader, field by field, so a test
// that builds a save and loads it checks the two against each other.
#pragma once

#include "orbsaves/save_model.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbse::save_builder {

using bytes = std::vector<std::uint8_t>;

// A flagged row of an updates block: it carries its own object number and a
// values record. Rows not listed carry their plain number (base + row).
struct update_description {
    int row = 0;
    std::uint16_t object_number = 0;
    values_record values{};
};

struct group_description {
    std::uint16_t lead_word = 0; // written before the green, blue and gray groups
    units_block block{};
    std::vector<update_description> updates;
    std::vector<post_update_record> post_updates;
};

struct save_description {
    // The header as version 70 holds it; version 69 is written from the same
    // fields by its own rules, and other versions get no header at all.
    game_header header;
    std::uint8_t version_69_extra_byte = 0; // the one header byte only version 69 has
    std::array<std::uint8_t, map_cell_count> pass_layer{};
    std::array<std::uint8_t, map_cell_count * 2> resource_layer{};
    std::array<player_record, player_count> players{};
    std::array<std::uint8_t, 40> block40{};
    std::array<std::uint8_t, 36> block36{};
    std::array<group_description, player_count> groups{};
    bytes unit_stream;      // written as given after the groups
    bytes tail;             // written last, as given
};

// A description of an empty version-70 save whose groups are numbered.
save_description empty_save(std::uint16_t version = 70);

// A text field of 30 bytes: the text, then NUL bytes. A text of 30 bytes
// fills the field without any NUL.
name_field name(std::string_view text);

// Gives the objects of the per-player groups the numbers 1, 2, 3 ... in file
// order, as a game writes them, and returns the number the unit stream's
// first new object must carry.
std::uint32_t number_objects(save_description& save);

// The whole save file.
bytes build_save(const save_description& save);

// Where the fixed part (header, layers, players, version block) ends.
std::size_t fixed_part_size(std::uint16_t version);

// Writes `content` to `path`; throws std::runtime_error on failure.
void write_file(const std::string& path, const bytes& content);

} // namespace orbse::save_builder
