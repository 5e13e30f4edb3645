#include "orbsaves/name_tables.h"

namespace orbse {

// The spellings are the game's own, "Choosen" included.
const std::array<std::string_view, clan_count> clan_names{
    "The Choosen", "Crimson Path", "Von Griffin", "Ayer's Hand", "Musashi", "Sacred Eights", "7 Knights", "Axis Inc.",
};

const std::array<std::string_view, research_count> research_names{
    "Attack", "Shot", "Range", "Armor", "Hits", "Speed", "Scan", "Cost",
};

const std::array<std::string_view, button_count> button_names{
    "Range", "Scan", "Status", "Colors", "Hits", "Ammo", "Names", "2X", "TNT", "Grid", "Survey",
};

} // namespace orbse
