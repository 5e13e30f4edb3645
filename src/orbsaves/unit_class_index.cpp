#include "orbsaves/unit_class_index.h"

#include "orbsaves/unit_type_table.h"

#include <algorithm>

namespace orbse {
namespace {

// The game stores each row's type one below the row itself.
constexpr std::int32_t stored_type(int row) { return row - 1; }

std::size_t fill_player_entries(saveorec& save, int player, std::size_t position)
{
    for (int row = 0; row < unit_type_count; ++row) {
        save.unit_class_index[position++] = {stored_type(row), player, unit_class_entry::values_source::units_block,
                                             static_cast<std::uint8_t>(row)};
    }
    const units_updates_block& updates = save.units_updates[player];
    for (int row = 0; row < unit_type_count; ++row) {
        if (updates.flags[row] != 0) {
            save.unit_class_index[position++] = {stored_type(row), player,
                                                 unit_class_entry::values_source::units_updates,
                                                 static_cast<std::uint8_t>(row)};
        }
    }
    // Post-update records stay all zero: no type, no owner, no values.
    return position + save.post_updates[player].count;
}

} // namespace

std::size_t class_index_length(const saveorec& save)
{
    std::size_t length = 0;
    for (int player = red; player < player_count; ++player) {
        // The flags themselves rather than the block's count: the two agree
        // after loading, and counting what the fill walks keeps it inside
        // the index whatever the record holds.
        const auto& flags = save.units_updates[player].flags;
        length += unit_type_count;
        length += static_cast<std::size_t>(std::count_if(flags.begin(), flags.end(), [](std::uint8_t flag) { return flag != 0; }));
        length += save.post_updates[player].count;
    }
    return length;
}

void build_class_index(saveorec& save)
{
    save.unit_class_index.assign(class_index_length(save), unit_class_entry{});
    std::size_t position = 0;
    for (int player = red; player < player_count; ++player) {
        position = fill_player_entries(save, player, position);
    }
}

const unit_type_row* find_unit_type(const saveorec& save, std::uint16_t unit_class)
{
    if (unit_class >= save.unit_class_index.size()) {
        return nullptr;
    }
    const std::int32_t row = save.unit_class_index[unit_class].unit_type;
    if (row < 0 || row >= unit_type_count) {
        return nullptr;
    }
    return &unit_type_table[static_cast<std::size_t>(row)];
}

} // namespace orbse
