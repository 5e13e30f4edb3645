#include "orbsaves/unit_stream.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace orbse {
namespace {

// The record fields sit back to back: a unit costs these bytes and nothing
// more, close to the 158 bytes that the smallest unit object takes in a file.
static_assert(sizeof(unidefrec) == 176);

void step(std::uint16_t& object_counter)
{
    // Wraps from 65,535 to 0, as a 16-bit counter does.
    object_counter = static_cast<std::uint16_t>(object_counter + 1);
}

// An inline path. Its number is counted only after the path has been read:
// the path carries the number that the unit reading it compared with.
// A linked unit that brings a path of its own replaces the one read before
// it into the same record; that one is the last thing in the points array,
// so its place is reused.
void read_path(save_reader& reader, std::uint16_t& object_counter, unidefrec& unit,
               segmented_array<std::uint16_t>& path_points)
{
    for (auto& word : unit.path.header_words) {
        word = reader.read_u16();
    }
    unit.path.point_count = reader.read_u16();
    path_points.shrink_to(unit.first_point);
    path_points.append_stretches(unit.path.point_count,
                                 [&reader](std::span<std::uint16_t> points) { reader.read_u16s(points); });
    reader.read_u16(); // a word after the points that nothing uses
    step(object_counter);
}

void read_unkf1(save_reader& reader, unidefrec& unit)
{
    constexpr std::uint16_t extra_word_follows = 1;
    unit.unkf1 = reader.read_u16();
    if (unit.unkf1 == extra_word_follows) {
        unit.unkf1_extra = reader.read_u16();
    }
}

// One level of a unit object, up to the point where a linked unit would
// follow. Returns true when one does: the record's link_ref carries the next
// number and link_kind says a new linked unit.
bool read_unit_level(save_reader& reader, std::uint16_t& object_counter, unidefrec& unit,
                     segmented_array<std::uint16_t>& path_points)
{
    reader.read_bytes(unit.unit_data);
    if (is_next_object(unit.path_ref(), object_counter) && unit.path_kind() == new_path_kind) {
        read_path(reader, object_counter, unit, path_points);
    }
    unit.unit_class = reader.read_u16();
    unit.aux_word = reader.read_u16();
    unit.link_ref = reader.read_u16();
    unit.link_kind = reader.read_u16();
    return is_next_object(unit.link_ref, object_counter) && unit.link_kind == new_linked_unit_kind;
}

// The body of a unit object, with the linked units it carries inline, each
// read into the same record. As the game writes it, a linked unit sits inside
// the body of the unit that links it, between that unit's four words and its
// unkf1: the linked unit takes its number only after its whole body, and then
// the linking unit reads one more word into link_kind before its own unkf1.
// Chains may be as long as the file allows, so the nesting is walked with a
// count of the levels still open rather than by recursion.
void read_unit_body(save_reader& reader, std::uint16_t& object_counter, unidefrec& unit, std::uint16_t number,
                    std::uint16_t kind, segmented_array<std::uint16_t>& path_points)
{
    std::uint64_t open_levels = 0;
    unit.object_id = number;
    unit.class_word = kind;
    while (read_unit_level(reader, object_counter, unit, path_points)) {
        ++open_levels;
        unit.object_id = unit.link_ref;
        unit.class_word = unit.link_kind;
    }
    read_unkf1(reader, unit);
    for (; open_levels > 0; --open_levels) {
        step(object_counter);
        unit.link_kind = reader.read_u16();
        read_unkf1(reader, unit);
    }
}

void read_slot(save_reader& reader, unidefa& store)
{
    const std::uint16_t number = reader.read_u16();
    store.slot_numbers.append(number);
    const bool new_unit = is_next_object(number, store.object_counter);
    store.slot_present.append(new_unit);
    if (!new_unit) {
        return;
    }
    // A unit in a list slot takes its number before its body is read.
    step(store.object_counter);
    const std::uint16_t class_word = reader.read_u16();
    unidefrec& unit = store.units.append();
    unit.first_point = store.path_points.size();
    read_unit_body(reader, store.object_counter, unit, number, class_word, store.path_points);
}

// A run of reference slots, two bytes each and the bulk of many a save:
// those whose numbers the read-ahead already holds are taken in one sweep
// that stops before the number of a new object. Returns the slots taken;
// the slot after them, whatever it holds, goes through read_slot.
std::size_t take_references(save_reader& reader, unidefa& store, std::size_t slots_left)
{
    const std::uint32_t new_object_number = std::uint32_t{store.object_counter} + 1;
    const std::span<std::uint16_t> room = store.slot_numbers.room();
    const std::size_t taken =
        reader.take_buffered_u16s_until(new_object_number, room.first(std::min(room.size(), slots_left)));
    store.slot_numbers.commit_room(taken);
    store.slot_present.append_zeros(taken);
    return taken;
}

} // namespace

void read_units(save_reader& reader, unidefa& store)
{
    for (;;) {
        // The first size is read without asking whether the file has ended:
        // a save must hold at least one list or the closing size of 0.
        const std::uint16_t list_size = reader.read_u16();
        if (list_size == 0) {
            return;
        }
        store.list_sizes.append(list_size);
        for (std::size_t slot = 0; slot < list_size; ++slot) {
            slot += take_references(reader, store, list_size - slot);
            if (slot < list_size) {
                read_slot(reader, store);
            }
        }
        if (reader.at_end()) {
            return;
        }
    }
}

} // namespace orbse
