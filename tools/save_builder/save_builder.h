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

// An inline path: three header words that nothing interprets, the points,
// and the word the game writes after them.
struct path_description {
    std::array<std::uint16_t, 3> header_words{};
    std::vector<std::uint16_t> points;
    std::uint16_t trailing_word = 0;
};

// One unit object as the stream carries it: the unit of a list slot, or a
// unit linked inline by another. `data` gives all 144 bytes of unit data;
// the named fields are then written over it at their own places.
struct unit_description {
    std::array<std::uint8_t, unit_data_size> data{};
    std::uint16_t selected = 0;
    std::uint16_t unk1 = 0;
    std::uint16_t unk2 = 0;
    std::uint8_t unk3 = 0;
    std::uint16_t speed_now = 0;
    std::uint8_t unk4 = 0;
    std::uint16_t unk5 = 0;
    std::uint8_t unk6 = 0;
    std::uint8_t unk7 = 0;
    std::uint16_t unk8 = 0;
    std::uint16_t path_ref = 0;  // the last two words of the unit data
    std::uint16_t path_kind = 0;
    // Written inline after the unit data when given, whatever path_ref and
    // path_kind say, so a test may also describe a save the game would not
    // write.
    std::optional<path_description> path;
    std::uint16_t unit_class = 0;
    std::uint16_t aux_word = 0;
    std::uint16_t link_ref = 0;
    std::uint16_t link_kind = 0;
    // Written after the unit this one links, when it links one.
    std::uint16_t word_after_link = 0;
    std::uint16_t unkf1 = 0;
    std::optional<std::uint16_t> unkf1_extra; // written after unkf1 when given
};

// One slot of a unit list: an object number, and for a new unit object its
// class word and the chain of units written inline. chain[0] is the slot's
// own unit and every further entry is linked by the one before it, so the
// deepest unit comes last. A slot with an empty chain holds only its number.
struct slot_description {
    std::uint16_t object_number = 0;
    std::uint16_t class_word = 0;
    std::vector<unit_description> chain;
};

// A slot that holds only the number of an object met elsewhere.
slot_description reference(std::uint16_t object_number);

// A slot with a new unit object and the units it links, numbered later by
// number_units (or by hand).
slot_description new_unit(std::uint16_t class_word, std::vector<unit_description> chain);

struct unit_list_description {
    std::vector<slot_description> slots; // its size is the number of slots
};

struct save_description {
    // The header as version 70 holds it; version 69 is written from the same
    // fields by its own rules, and other versions get no header at all.
    game_header header;
    std::uint8_t version_69_byte = 0; // the one header byte only version 69 has
    std::array<std::uint8_t, map_cell_count> pass_layer{};
    std::array<std::uint8_t, map_cell_count * 2> resource_layer{};
    std::array<player_record, player_count> players{};
    std::array<std::uint8_t, 40> block40{};
    std::array<std::uint8_t, 36> block36{};
    std::array<group_description, player_count> groups{};
    std::vector<unit_list_description> unit_lists; // the unit stream, after the groups
    // A list size of 0 after the lists, which ends the stream wherever it
    // stands. Without it the stream ends only where the file does, so the
    // tail must then be empty.
    bool closing_zero_size = true;
    // Raw stream bytes for what the lists cannot describe: when not empty,
    // written as given in place of the unit lists and the closing size.
    bytes unit_stream;
    bytes tail; // written last, as given
};

// A small deterministic generator (xorshift) for the variety of made-up
// saves: the same seed gives the same save on every machine and build.
struct scatter {
    std::uint32_t state = 0x9E3779B9u;

    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

// A description of a version-70 save whose groups are numbered and whose
// unit stream holds only its closing size of 0.
save_description empty_save(std::uint16_t version = 70);

// A text field of 30 bytes: the text, then NUL bytes. A text of 30 bytes
// fills the field without any NUL.
name_field name(std::string_view text);

// Gives the objects of the per-player groups the numbers 1, 2, 3 ... in file
// order, as a game writes them, and returns the number the unit stream's
// first new object must carry.
std::uint32_t number_objects(save_description& save);

// The length of the unit class index that a loader builds from the groups:
// 93 per player, plus the updates rows whose number is not the plain one,
// plus the post-update records.
std::size_t index_length(const save_description& save);

// Numbers every new object of the unit stream as the game does, going on
// from the index length: each slot with a chain gets the next number; a unit
// with a path gets path_ref = the next number and path_kind 4, counted once
// the path is written; a unit that links the next one in its chain gets
// link_ref = the next number and link_kind 5, counted once the linked unit
// is written. References keep their numbers. Returns the counter at the end
// of the stream, kept to 16 bits like the game's; throws std::logic_error
// when a new object would need a number past 65,535.
std::uint16_t number_units(save_description& save);

// The whole save file.
bytes build_save(const save_description& save);

// Where the fixed part (header, layers, players, version block) ends.
std::size_t fixed_part_size(std::uint16_t version);

// Writes `content` to `path`; throws std::runtime_error on failure.
void write_file(const std::string& path, const bytes& content);

} // namespace orbse::save_builder
