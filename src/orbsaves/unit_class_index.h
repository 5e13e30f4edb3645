// The unit class index: one entry for every object of the per-player groups,
// in file order. Position k belongs to the object numbered k + 1. Its length
// tells the unit stream where its own object numbers begin, and the unit
// listing finds a unit's type through it.
#pragma once

#include "orbsaves/save_model.h"
#include "orbsaves/unit_type_table.h"

#include <cstdint>

namespace orbse {

// 372 (four blocks of 93) plus every flagged updates entry plus every
// post-update record of the four players.
std::size_t class_index_length(const saveorec& save);

// Replaces save.unit_class_index with the entries of the groups read so far.
void build_class_index(saveorec& save);

// The unit type row that a unit's `unit_class` resolves to: the `unit_type`
// of the index entry at that position. Null when the position lies past the
// index or its entry names no row of the unit type table (-1 for the first
// object of every block).
const unit_type_row* find_unit_type(const saveorec& save, std::uint16_t unit_class);

} // namespace orbse
