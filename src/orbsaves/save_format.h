// The save format, described once. Every on-disk record is one mapping
// function that names its fields in file order and hands each to a visitor:
// the loader's visitors read the fields into `saveorec`, the walk's visitor
// reads them and tells where each lies. Both therefore read the same bytes in
// the same pieces, and the rules that decide what comes next (the version's
// header, the updates rows that carry values, the unit stream's numbering)
// exist only here.
//
// A visitor offers:
//   u8/u16/u32/i32(name, value, note)  one number, read from the file or taken
//                                      from the piece being mapped
//   text(name, field)                  a 30-byte name
//   raw(name, bytes)                   bytes stored as read, read by nothing
//   skip(name, count)                  bytes read and thrown away
//   piece(size, what, fields)          `size` bytes in one read, then `fields`
//                                      mapped over them
//   record(name, fields)               a named part of the path of the fields
//   element(name, index, fields)       a numbered one
// and the few records whose shape is a run of one kind: layer, unit_data,
// path_points, post_update_records, references, tail, and the stream's
// store hooks (list_begun, slot_read, unit_record, stream_closed). The unit stream is
// mapped a step at a time (map_stream_step), the front of the save a step
// at a time too (map_front_step), so that a reader may pull it record by
// record.
#pragma once

#include "orbsaves/save_model.h"
#include "orbsaves/setting_names.h"
#include "orbsaves/unit_class_index.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbse {

inline constexpr std::uint16_t version_69 = 69;
inline constexpr std::uint16_t version_70 = 70;

namespace format {

// What a value means beyond its number: the tables that name it, or the part
// it plays in the object numbering. The loader ignores notes; the walk shows
// them beside the value.
struct note {
    enum class kind : std::uint8_t {
        none,
        clan,        // a clan number, counted from 1
        button,      // a map-option button; `context` is its position
        unit_row,    // the object of a units_block or updates row; `context` is the row
        unit_class,  // a position in the unit class index
        slot_object, // a slot's object number; `context` is the counter before it
        link_kind,   // `context` is the link_ref when it is the next number, else 0
        setting,     // a coded setting; `context` is the orbse::setting that names its values
        object_ref,  // an object number: the next object's or one met elsewhere; `context` is the counter before it
    };
    kind what = kind::none;
    std::uint32_t context = 0;
    // The value decides how the rest of the save is read: what follows it,
    // how long it is, or how the objects after it are numbered. A value
    // changed there makes the bytes after it read as something else.
    bool decides_layout = false;
};

inline constexpr note no_note{};

constexpr note named_by(setting which) { return note{note::kind::setting, static_cast<std::uint32_t>(which)}; }

// The same meaning, for a value the reading of what follows turns on.
constexpr note deciding(note meaning)
{
    meaning.decides_layout = true;
    return meaning;
}

inline constexpr note decides_layout = deciding(no_note);

// A slot's object number, where `object_counter` is the number before it:
// whether a new unit follows turns on it.
constexpr note slot_number(std::uint16_t object_counter)
{
    return deciding(note{note::kind::slot_object, object_counter});
}

// The unit data's named fields, by their offsets in the unit object. The
// rest of its 144 bytes is stored as read and interpreted by nothing.
struct named_unit_field {
    std::string_view name;
    unit_field field;
    bool decides_layout = false; // whether an inline path follows turns on it
};

inline constexpr std::array<named_unit_field, 12> unit_data_fields{{
    {"selected", unit_fields::selected},
    {"unk1", unit_fields::unk1},
    {"unk2", unit_fields::unk2},
    {"unk3", unit_fields::unk3},
    {"speed_now", unit_fields::speed_now},
    {"unk4", unit_fields::unk4},
    {"unk5", unit_fields::unk5},
    {"unk6", unit_fields::unk6},
    {"unk7", unit_fields::unk7},
    {"unk8", unit_fields::unk8},
    {"path_ref", unit_fields::path_ref, true},
    {"path_kind", unit_fields::path_kind, true},
}};

// Sizes of the fixed part's pieces: each is one read.
inline constexpr std::size_t version_size = 2;
inline constexpr std::size_t v70_header_read = header_size - version_size; // 222
// Version 69 has no alien player and no reserved bytes: its header is five
// bytes shorter and has one byte of its own in their place, which is skipped.
inline constexpr std::size_t v69_header_read = 217;
inline constexpr std::size_t units_block_entry_size = 2 + values_record_size;
inline constexpr std::size_t units_block_size = unit_type_count * units_block_entry_size;

// ---- The fixed part -------------------------------------------------------

// save_type to player_kinds: where both versions keep them.
template <typename io>
void map_header_front(io& visitor, game_header& header)
{
    visitor.u8("save_type", header.save_type, named_by(setting::save_type));
    visitor.text("game_name", header.game_name);
    visitor.u8("map_number", header.map_number);
    visitor.u16("level_number", header.level_number);
    for (std::size_t player = 0; player < header.player_names.size(); ++player) {
        visitor.element("player_names", player, [&] { visitor.text(nullptr, header.player_names[player]); });
    }
    for (std::size_t player = 0; player < header.player_kinds.size(); ++player) {
        visitor.element("player_kinds", player,
                        [&] { visitor.u8(nullptr, header.player_kinds[player], named_by(setting::player_kind)); });
    }
}

// save_date to alien_frequency: version 69 has them five bytes earlier.
template <typename io>
void map_header_back(io& visitor, game_header& header)
{
    visitor.u32("save_date", header.save_date);
    visitor.u8("cpu_iq", header.cpu_iq);
    visitor.u16("turn_time_1", header.turn_time_1);
    visitor.u16("end_turn_time_1", header.end_turn_time_1);
    visitor.u8("turn_mode_1", header.turn_mode_1, named_by(setting::turn_mode));
    visitor.i32("map_number_2", header.map_number_2);
    visitor.i32("turn_time_2", header.turn_time_2);
    visitor.i32("end_turn_time_2", header.end_turn_time_2);
    visitor.i32("start_gold", header.start_gold);
    visitor.i32("turn_mode_2", header.turn_mode_2, named_by(setting::turn_mode));
    visitor.i32("end_type", header.end_type, named_by(setting::end_type));
    visitor.i32("end_amount", header.end_amount);
    visitor.i32("cpu_iq_2", header.cpu_iq_2);
    visitor.i32("raw_richness", header.raw_richness, named_by(setting::richness));
    visitor.i32("fuel_richness", header.fuel_richness, named_by(setting::richness));
    visitor.i32("gold_richness", header.gold_richness, named_by(setting::richness));
    visitor.i32("alien_frequency", header.alien_frequency, named_by(setting::alien_frequency));
}

// The version word, then the header as the version lays it out. Version 70
// stores the 224-byte header as it is held; version 69 drops alien_player
// and the reserved bytes (they stay 0) and has a byte of its own after
// player_kinds. Any other version has no header: the map follows the word.
template <typename io>
void map_header(io& visitor, game_header& header)
{
    visitor.record("header", [&] {
        visitor.u16("version", header.version, decides_layout);
        if (header.version == version_70) {
            visitor.piece(v70_header_read, nullptr, [&] {
                map_header_front(visitor, header);
                visitor.u8("alien_player", header.alien_player);
                visitor.raw("reserved", std::span(header.reserved));
                map_header_back(visitor, header);
            });
        } else if (header.version == version_69) {
            visitor.piece(v69_header_read, nullptr, [&] {
                map_header_front(visitor, header);
                visitor.skip("version_69_byte", 1);
                map_header_back(visitor, header);
            });
        }
    });
}

template <typename io>
void map_research_entry(io& visitor, research_entry& entry)
{
    visitor.i32("now", entry.now);
    visitor.i32("unk", entry.unk);
    visitor.i32("labs", entry.labs);
}

// One player record, 565 bytes read in one piece.
template <typename io>
void map_player_record(io& visitor, player_record& player)
{
    visitor.piece(player_record_size, nullptr, [&] {
        visitor.raw("reserved_front", std::span(player.reserved_front));
        visitor.u8("player_type", player.player_type, named_by(setting::player_kind));
        visitor.u8("unk0", player.unk0);
        visitor.u8("clan", player.clan, note{note::kind::clan, 0});
        for (std::size_t area = 0; area < player.research.size(); ++area) {
            visitor.element("research", area, [&] { map_research_entry(visitor, player.research[area]); });
        }
        visitor.i32("score", player.score);
        visitor.u16("unk2", player.unk2);
        visitor.raw("unkarr1", std::span(player.unkarr1));
        visitor.raw("reserved_middle", std::span(player.reserved_middle));
        visitor.u16("unk3", player.unk3);
        visitor.u16("selunit", player.selunit);
        visitor.u16("zoom", player.zoom);
        visitor.u16("xoff", player.xoff);
        visitor.u16("yoff", player.yoff);
        for (std::size_t button = 0; button < player.buttons.size(); ++button) {
            visitor.element("buttons", button, [&] {
                visitor.u8(nullptr, player.buttons[button], note{note::kind::button, static_cast<std::uint32_t>(button)});
            });
        }
        visitor.u16("unk4", player.unk4);
        visitor.u16("unk5", player.unk5);
        visitor.u16("unk6", player.unk6);
        visitor.u16("unk7", player.unk7);
        visitor.raw("loses", std::span(player.loses));
        visitor.raw("unkarr2", std::span(player.unkarr2));
        visitor.u16("gold_used", player.gold_used);
    });
}

// Version 70 ends its fixed part with 40 bytes, version 69 with 36; no
// other version has the block.
template <typename io>
void map_version_block(io& visitor, saveorec& save)
{
    if (save.header.version == version_70) {
        visitor.raw("block40", std::span(save.block40));
    } else if (save.header.version == version_69) {
        visitor.raw("block36", std::span(save.block36));
    }
}

// ---- The per-player groups -----------------------------------------------

// 93 entries of an object number and a values record, in one read. Entry
// 0's number is the player's base number, which decides the updates rows
// that carry values; every row's number decides the unit types the class
// index gives the stream's units.
template <typename io>
void map_units_block(io& visitor, units_block& block)
{
    visitor.piece(units_block_size, "units_block", [&] {
        for (std::size_t row = 0; row < block.size(); ++row) {
            visitor.element("units_block", row, [&] {
                visitor.u16("object_number", block[row].object_number,
                            deciding(note{note::kind::unit_row, static_cast<std::uint32_t>(row)}));
                visitor.raw("values", std::span(block[row].values));
            });
        }
    });
}

// For each of the 93 rows an object number, followed by a values record only
// when the number is not the row's own (base + row). The sum is formed at
// full width: near the top of the range no number matches.
template <typename io>
void map_updates(io& visitor, units_updates_block& updates, std::uint16_t base)
{
    updates.count = 0;
    for (int row = 0; row < unit_type_count; ++row) {
        auto& entry = updates.entries[row];
        updates.flags[row] = 0;
        visitor.element("updates", static_cast<std::size_t>(row), [&] {
            visitor.u16("object_number", entry.object_number,
                        deciding(note{note::kind::unit_row, static_cast<std::uint32_t>(row)}));
            if (entry.object_number != static_cast<std::int32_t>(base) + row) {
                updates.flags[row] = 1;
                ++updates.count;
                visitor.raw("values", std::span(entry.values));
            }
        });
    }
}

// A count and that many 18-byte records, one read each.
template <typename io>
void map_post_updates(io& visitor, units_post_updates_block_record& post_updates)
{
    visitor.record("post_updates", [&] {
        visitor.u16("count", post_updates.count, decides_layout);
        visitor.post_update_records(post_updates);
    });
}

template <typename io>
void map_player_group(io& visitor, saveorec& save, int player)
{
    visitor.element("groups", static_cast<std::size_t>(player), [&] {
        if (player != red) {
            visitor.u16("lead_word", save.lead_words[player - 1]);
        }
        map_units_block(visitor, save.units_blocks[player]);
        map_updates(visitor, save.units_updates[player], save.units_blocks[player][0].object_number);
        map_post_updates(visitor, save.post_updates[player]);
    });
}

// ---- The front of the save, step by step ----------------------------------

// What comes before the unit stream, in the steps a reader may take it by:
// the header, the two layers, the four player records, the version's block
// and the four groups.
enum class front_step : std::uint8_t {
    header,
    pass_layer,
    resource_layer,
    players,
    version_block = players + player_count,
    groups,
    done = groups + player_count,
};

inline constexpr std::size_t front_step_count = static_cast<std::size_t>(front_step::done);

template <typename io>
void map_front_step(io& visitor, saveorec& save, std::size_t step)
{
    const auto players = static_cast<std::size_t>(front_step::players);
    const auto groups = static_cast<std::size_t>(front_step::groups);
    if (step == static_cast<std::size_t>(front_step::header)) {
        map_header(visitor, save.header);
    } else if (step == static_cast<std::size_t>(front_step::pass_layer)) {
        visitor.layer("pass_layer", std::span(save.pass_layer), 1);
    } else if (step == static_cast<std::size_t>(front_step::resource_layer)) {
        visitor.layer("resource_layer", std::span(save.resource_layer), 2);
    } else if (step < players + player_count) {
        visitor.element("players", step - players, [&] { map_player_record(visitor, save.players[step - players]); });
    } else if (step == static_cast<std::size_t>(front_step::version_block)) {
        map_version_block(visitor, save);
    } else if (step < groups + player_count) {
        map_player_group(visitor, save, static_cast<int>(step - groups));
    }
}

// ---- The unit object stream ----------------------------------------------

inline void step(std::uint16_t& object_counter)
{
    // Wraps from 65,535 to 0, as a 16-bit counter does.
    object_counter = static_cast<std::uint16_t>(object_counter + 1);
}

// An inline path. Its number is counted only after the path has been read:
// the path carries the number that the unit reading it compared with.
template <typename io>
void map_path(io& visitor, std::uint16_t& object_counter, unidefrec& unit)
{
    visitor.record("path", [&] {
        for (std::size_t word = 0; word < unit.path.header_words.size(); ++word) {
            visitor.element("header_words", word, [&] { visitor.u16(nullptr, unit.path.header_words[word]); });
        }
        visitor.u16("point_count", unit.path.point_count, decides_layout);
        visitor.path_points(unit);
        visitor.skip("word_after_points", 2); // a word after the points that nothing uses
    });
    step(object_counter);
}

template <typename io>
void map_unkf1(io& visitor, unidefrec& unit)
{
    constexpr std::uint16_t extra_word_follows = 1;
    visitor.u16("unkf1", unit.unkf1, decides_layout);
    if (unit.unkf1 == extra_word_follows) {
        visitor.u16("unkf1_extra", unit.unkf1_extra);
    }
}

// One level of a unit object, up to the point where a linked unit would
// follow. Returns true when one does: the record's link_ref carries the next
// number and link_kind says a new linked unit.
template <typename io>
bool map_unit_level(io& visitor, std::uint16_t& object_counter, unidefrec& unit)
{
    visitor.unit_data(unit, object_counter);
    if (is_next_object(unit.path_ref(), object_counter) && unit.path_kind() == new_path_kind) {
        map_path(visitor, object_counter, unit);
    }
    visitor.u16("unit_class", unit.unit_class, note{note::kind::unit_class, 0});
    visitor.u16("aux_word", unit.aux_word);
    visitor.u16("link_ref", unit.link_ref, deciding(note{note::kind::object_ref, object_counter}));
    // A number that is the next one is never 0, so 0 says "not the next".
    const std::uint32_t next_number = is_next_object(unit.link_ref, object_counter) ? unit.link_ref : 0;
    visitor.u16("link_kind", unit.link_kind, deciding(note{note::kind::link_kind, next_number}));
    return next_number != 0 && unit.link_kind == new_linked_unit_kind;
}

// Which part of a level of a chain a step reads: its body, up to its linked
// unit, or the words that close it (the word after the linked unit, unkf1
// and its extra word), which come after every deeper level.
enum class level_part : std::uint8_t { body, closing };

// Where the reading of the unit stream stands between two of its steps. The
// stream is read one step at a time, so that a reader may take it a record
// at a time: a list's size, a slot, one level of a unit object, the unkf1 of
// its deepest level, and each return through the levels of a chain.
//
// As the game writes it, a linked unit sits inside the body of the unit that
// links it, between that unit's four words and its unkf1: the linked unit
// takes its number only after its whole body, and then the linking unit
// reads one more word into link_kind before its own unkf1. Chains may be as
// long as the file allows, so the open levels are a count, not a recursion.
struct stream_cursor {
    enum class step : std::uint8_t {
        list_size,    // a list's size; 0 closes the stream
        slot,         // a slot's object number (and a new unit's class word)
        unit_level,   // one level of a unit object up to its linked unit
        unit_end,     // the deepest level's unkf1
        chain_return, // back one level: the word after the linked unit, unkf1
        ended,
    };
    step next = step::list_size;
    std::uint16_t object_counter = 0;
    std::size_t list = 0;      // the list being read
    std::size_t list_size = 0;
    std::size_t slot = 0;      // the slot being read
    std::uint64_t level = 0;   // of a chain: 0 the slot's own unit
    unidefrec* unit = nullptr; // the record the slot's unit is read into
};

// What a reader of the stream carries from what it has read into what
// follows: the numbering, where it stands among lists and slots, and inside
// a unit the step and the level of its chain. Every mark that decides what
// follows (a path, a linked unit, unkf1's extra word) is read in the step
// it decides, so the unit record read so far decides nothing ahead: two
// readers that stand alike read the same bytes after it as the same leaves.
inline bool read_on_alike(const stream_cursor& a, const stream_cursor& b)
{
    return a.next == b.next && a.next != stream_cursor::step::ended && a.object_counter == b.object_counter &&
           a.list == b.list && a.list_size == b.list_size && a.slot == b.slot && a.level == b.level;
}

// In the fixed part the version decides how a later step is read (the
// version's block), and the groups read so far decide where the stream's
// object numbering starts (the length of the unit class index); every other
// count that decides a length is read in the step it decides.
inline bool read_on_alike(const saveorec& a, const saveorec& b)
{
    return a.header.version == b.header.version && class_index_length(a) == class_index_length(b);
}

// A list's size opens the list, or, when 0, closes the stream: the list it
// would have opened is none.
inline constexpr bool closes_stream(std::uint16_t list_size) { return list_size == 0; }

// After a list's last slot: the next list, unless the file has ended
// there. Only a whole list may end the stream with the file; the first size
// is read without asking.
template <typename io>
void end_list(io& visitor, stream_cursor& at)
{
    ++at.list;
    at.next = visitor.at_end() ? stream_cursor::step::ended : stream_cursor::step::list_size;
}

template <typename io>
void end_slot(io& visitor, stream_cursor& at)
{
    ++at.slot;
    if (at.slot < at.list_size) {
        at.next = stream_cursor::step::slot;
    } else {
        end_list(visitor, at);
    }
}

template <typename io>
void map_list_size(io& visitor, stream_cursor& at)
{
    std::uint16_t list_size = 0;
    visitor.u16("size", list_size, decides_layout);
    if (closes_stream(list_size)) {
        visitor.stream_closed();
        at.next = stream_cursor::step::ended;
        return;
    }
    visitor.list_begun(list_size);
    at.list_size = list_size;
    at.slot = 0;
    at.next = stream_cursor::step::slot;
}

// A slot: an object number, and when it is the next one a new unit object.
// A unit in a list slot takes its number before its body is read. A run of
// reference slots may be taken in one sweep by a visitor that can
// (`references` returns how many it took).
template <typename io>
void map_slot(io& visitor, stream_cursor& at)
{
    at.slot += visitor.references(at.object_counter, at.slot, at.list_size - at.slot);
    if (at.slot == at.list_size) {
        end_list(visitor, at); // the run took the list's last slot
        return;
    }
    visitor.element("slots", at.slot, [&] {
        std::uint16_t number = 0;
        visitor.u16("object_id", number, slot_number(at.object_counter));
        const bool new_unit = is_next_object(number, at.object_counter);
        visitor.slot_read(number, new_unit);
        if (!new_unit) {
            end_slot(visitor, at);
            return;
        }
        step(at.object_counter);
        visitor.record("unit", [&] {
            visitor.unit_level(0, level_part::body, [&] {
                std::uint16_t class_word = 0;
                visitor.u16("class_word", class_word);
                at.unit = &visitor.unit_record();
                at.unit->object_id = number;
                at.unit->class_word = class_word;
            });
        });
        at.level = 0;
        at.next = stream_cursor::step::unit_level;
    });
}

// The fields of one level of the slot's unit: the unit itself, or its
// linked unit at that depth. Each level is a unit object of its own, whose
// unit_class names its type.
template <typename io, typename fields_of>
void in_unit_level(io& visitor, const stream_cursor& at, level_part part, fields_of&& fields)
{
    visitor.element("slots", at.slot, [&] {
        visitor.record("unit", [&] {
            if (at.level == 0) {
                visitor.unit_level(0, part, fields);
            } else {
                visitor.element("linked", at.level, [&] { visitor.unit_level(at.level, part, fields); });
            }
        });
    });
}

template <typename io>
void map_unit_step(io& visitor, stream_cursor& at)
{
    using step_of = stream_cursor::step;
    unidefrec& unit = *at.unit;
    switch (at.next) {
    case step_of::unit_level:
        in_unit_level(visitor, at, level_part::body, [&] {
            if (!map_unit_level(visitor, at.object_counter, unit)) {
                at.next = step_of::unit_end;
            }
        });
        if (at.next == step_of::unit_level) {
            ++at.level;
            unit.object_id = unit.link_ref;
            unit.class_word = unit.link_kind;
        }
        return;
    case step_of::unit_end:
        in_unit_level(visitor, at, level_part::closing, [&] { map_unkf1(visitor, unit); });
        break;
    case step_of::chain_return:
        --at.level;
        in_unit_level(visitor, at, level_part::closing, [&] {
            step(at.object_counter);
            visitor.u16("word_after_link", unit.link_kind);
            map_unkf1(visitor, unit);
        });
        break;
    default:
        return;
    }
    if (at.level > 0) {
        at.next = step_of::chain_return;
    } else {
        end_slot(visitor, at);
    }
}

// One step of the unit stream: unit lists, each a size and that many slots,
// until a size of 0 or the end of the file after a whole list. Returns false
// once the stream has ended.
template <typename io>
bool map_stream_step(io& visitor, stream_cursor& at)
{
    using step_of = stream_cursor::step;
    if (at.next == step_of::ended) {
        return false;
    }
    visitor.record("units", [&] {
        visitor.element("lists", at.list, [&] {
            switch (at.next) {
            case step_of::list_size:
                map_list_size(visitor, at);
                return;
            case step_of::slot:
                map_slot(visitor, at);
                return;
            default:
                map_unit_step(visitor, at);
                return;
            }
        });
    });
    return true;
}

// What a visitor that only reads values does with the structure around
// them: records and elements name nothing it needs, so their fields are
// simply visited in place.
struct structure_passed_through {
    template <typename fields_of>
    void record(const char*, fields_of&& fields)
    {
        fields();
    }

    template <typename fields_of>
    void element(const char*, std::size_t, fields_of&& fields)
    {
        fields();
    }

    template <typename fields_of>
    void unit_level(std::uint64_t, level_part, fields_of&& fields)
    {
        fields();
    }
};

} // namespace format
} // namespace orbse
