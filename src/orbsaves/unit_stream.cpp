#include "orbsaves/unit_stream.h"

#include "orbsaves/save_format.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace orbse {
namespace {

// The record fields sit back to back: a unit costs these bytes and nothing
// more, close to the 158 bytes that the smallest unit object takes in a file.
static_assert(sizeof(unidefrec) == 176);

// Reads the unit stream as the format's description walks it, into the
// unit store: every field a read of its own, except the unit data (one read
// of 144 bytes), a path's points (read in pieces) and runs of references
// (taken from the read-ahead in one sweep). Every read is checked at the
// description's line.
class unit_stream_loader : public format::structure_passed_through {
public:
    explicit unit_stream_loader(save_reader& reader, unidefa& store) : reader_(reader), store_(store) {}

    void u16(const char*, std::uint16_t& value, format::note = {}, const check_site& site = check_site::current())
    {
        value = reader_.read_u16(site);
    }

    // The word after a path's points.
    void skip(const char*, std::size_t, const check_site& site = check_site::current())
    {
        reader_.read_u16(site);
    }

    void unit_data(unidefrec& unit, std::uint16_t, const check_site& site = check_site::current())
    {
        reader_.read_bytes(unit.unit_data, site);
    }

    // A linked unit that brings a path of its own replaces the one read
    // before it into the same record; that one is the last thing in the
    // points array, so its place is reused.
    void path_points(unidefrec& unit, const check_site& site = check_site::current())
    {
        store_.path_points.shrink_to(unit.first_point);
        store_.path_points.append_stretches(
            unit.path.point_count, [this, &site](std::span<std::uint16_t> points) { reader_.read_u16s(points, site); });
    }

    void stream_closed() {}

    void list_begun(std::uint16_t list_size) { store_.list_sizes.append(list_size); }

    void slot_read(std::uint16_t number, bool new_unit)
    {
        store_.slot_numbers.append(number);
        store_.slot_present.append(new_unit);
    }

    unidefrec& unit_record()
    {
        unidefrec& unit = store_.units.append();
        unit.first_point = store_.path_points.size();
        return unit;
    }

    // A run of reference slots, two bytes each and the bulk of many a save:
    // those whose numbers the read-ahead already holds are taken in one
    // sweep that stops before the number of a new object.
    std::size_t references(std::uint16_t object_counter, std::size_t, std::size_t slots_left)
    {
        const std::uint32_t new_object_number = std::uint32_t{object_counter} + 1;
        const std::span<std::uint16_t> room = store_.slot_numbers.room();
        const std::size_t taken =
            reader_.take_buffered_u16s_until(new_object_number, room.first(std::min(room.size(), slots_left)));
        store_.slot_numbers.commit_room(taken);
        store_.slot_present.append_zeros(taken);
        return taken;
    }

    bool at_end(const check_site& site = check_site::current()) { return reader_.at_end(site); }

private:
    save_reader& reader_;
    unidefa& store_;
};

} // namespace

void read_units(save_reader& reader, unidefa& store)
{
    unit_stream_loader loader(reader, store);
    format::stream_cursor at;
    at.object_counter = store.object_counter;
    // The counter is the store's own, also where a read fails part way.
    try {
        while (format::map_stream_step(loader, at)) {
        }
    } catch (...) {
        store.object_counter = at.object_counter;
        throw;
    }
    store.object_counter = at.object_counter;
}

} // namespace orbse
