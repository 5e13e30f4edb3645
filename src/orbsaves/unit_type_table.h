// The 93 unit types of the game, one row per row of a player's units_block.
#pragma once

#include "orbsaves/save_model.h"

#include <array>
#include <string_view>

namespace orbse {

// A unit type's three names. The internal name and the file stem are what
// the unit listing shows; the display name is the one the game's screens use.
// A name the game leaves out is an empty text.
struct unit_type_row {
    std::string_view internal_name;
    std::string_view display_name;
    std::string_view file_stem;
};

extern const std::array<unit_type_row, unit_type_count> unit_type_table;

} // namespace orbse
