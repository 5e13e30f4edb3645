// The constant names the game gives to a player's clan, to the research
// areas of a player record and to its map-option buttons, each in the order
// the player record holds them.
#pragma once

#include "orbsaves/save_model.h"

#include <array>
#include <string_view>

namespace orbse {

inline constexpr int clan_count = 8;

// Clan number 1 names the first entry: a player record counts clans from 1.
extern const std::array<std::string_view, clan_count> clan_names;

// One name per entry of player_record::research.
extern const std::array<std::string_view, research_count> research_names;

// One name per byte of player_record::buttons.
extern const std::array<std::string_view, button_count> button_names;

} // namespace orbse
