// Loading saves built by the save builder, and looking into the unit store,
// for the tests of the save loading room.
#pragma once

#include "orbsaves/save_loader.h"
#include "save_builder.h"
#include "support/test_files.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

namespace orbse::testing {

inline std::unique_ptr<saveorec> load_bytes(const bytes& content)
{
    temp_folder folder;
    const auto path = folder.file("game.sav");
    write_file(path, content);
    auto save = std::make_unique<saveorec>();
    load_save(*save, path);
    return save;
}

// The bytes the loader kept after the unit stream.
inline bytes tail_bytes(const saveorec& save)
{
    return bytes(save.tail_data.begin(), save.tail_data.end());
}

// The code of the failure a load ends with, 0 when it succeeds.
inline std::int32_t load_failure_code(const bytes& content)
{
    try {
        load_bytes(content);
    } catch (const io_failure& raised) {
        return raised.code();
    }
    return 0;
}

// A version-70 save whose unit class index has `length` entries (at least
// 372): gray, then blue, green and red get as many post-update records as
// the rest needs, up to 65,535 each. Gray comes first because records take
// object numbers: a block numbered past 65,535 after them would wrap, and
// its updates rows would then be flagged and lengthen the index.
inline save_builder::save_description save_with_index_length(std::size_t length)
{
    auto save = save_builder::empty_save(70);
    std::size_t records_left = length - 4 * unit_type_count;
    for (auto group = save.groups.rbegin(); group != save.groups.rend(); ++group) {
        const std::size_t records = std::min<std::size_t>(records_left, 0xFFFF);
        group->post_updates.resize(records);
        records_left -= records;
    }
    save_builder::number_objects(save);
    return save;
}

// One slot as the store hands it out, reduced to what numbering decides.
struct slot_seen {
    std::size_t list = 0;
    std::size_t slot = 0;
    std::uint16_t object_id = 0;
    bool present = false;

    bool operator==(const slot_seen&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const slot_seen& seen)
{
    return out << "{list " << seen.list << ", slot " << seen.slot << ", object " << seen.object_id
               << (seen.present ? ", new}" : ", reference}");
}

inline std::vector<slot_seen> slots_of(const unidefa& store)
{
    std::vector<slot_seen> seen;
    store.for_each_slot([&](const unit_slot& slot) {
        seen.push_back({slot.list, slot.slot, slot.object_id, slot.present()});
    });
    return seen;
}

inline std::vector<std::uint16_t> path_points_of(const unidefa& store, const unidefrec& unit)
{
    std::vector<std::uint16_t> points;
    for (std::size_t point = 0; point < unit.path.point_count; ++point) {
        points.push_back(store.path_points[unit.first_point + point]);
    }
    return points;
}

} // namespace orbse::testing
