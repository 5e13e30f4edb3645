// The names the game gives to the values of a save's coded settings: a
// small table of value and name per setting, and the look-up through it.
// The report prints them beside its labels; the walk over a save's fields
// shows them beside the numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace orbse {

struct enumeration_entry {
    std::int32_t value;
    std::string_view text;
};

// What the report prints for a value its table does not list.
inline constexpr std::string_view unknown_text = "Unknown";

// The text of `value` in `table`, or `unlisted` when no entry holds it. The
// value is compared whole, so a 32-bit field matches only its exact value.
template <std::size_t entry_count>
constexpr std::string_view enumeration_text(const std::array<enumeration_entry, entry_count>& table,
                                            std::int32_t value, std::string_view unlisted)
{
    for (const enumeration_entry& entry : table) {
        if (entry.value == value) {
            return entry.text;
        }
    }
    return unlisted;
}

// The spellings are the game's own, "Campaing" included.
inline constexpr std::array<enumeration_entry, 4> save_type_texts{{
    {0, "Singleplayer"},
    {2, "Campaing"},
    {3, "Multiplayer"},
    {5, "Demo"},
}};

// Who plays a colour: the header's player kinds and a player record's type.
inline constexpr std::array<enumeration_entry, 3> player_kind_texts{{
    {0, "Absent"},
    {1, "Human"},
    {2, "Computer"},
}};

inline constexpr std::array<enumeration_entry, 2> turn_mode_texts{{
    {0, "Turn Based"},
    {1, "Simultaneous"},
}};

inline constexpr std::array<enumeration_entry, 2> end_type_texts{{
    {0, "Turns"},
    {1, "Score"},
}};

// Of raw material, fuel and gold alike.
inline constexpr std::array<enumeration_entry, 3> richness_texts{{
    {0, "Poor"},
    {1, "Medium"},
    {2, "Rich"},
}};

inline constexpr std::array<enumeration_entry, 3> alien_frequency_texts{{
    {0, "None"},
    {1, "Rare"},
    {2, "Common"},
}};

// The coded settings by the table that names their values.
enum class setting : std::uint8_t { save_type, player_kind, turn_mode, end_type, richness, alien_frequency };

// The table that names a setting's values.
constexpr std::span<const enumeration_entry> setting_table(setting which)
{
    switch (which) {
    case setting::save_type:
        return save_type_texts;
    case setting::player_kind:
        return player_kind_texts;
    case setting::turn_mode:
        return turn_mode_texts;
    case setting::end_type:
        return end_type_texts;
    case setting::richness:
        return richness_texts;
    case setting::alien_frequency:
        return alien_frequency_texts;
    }
    return {};
}

// The name of `value` of a setting, or `unlisted` when its table has none.
constexpr std::string_view setting_name(setting which, std::int32_t value, std::string_view unlisted)
{
    for (const enumeration_entry& entry : setting_table(which)) {
        if (entry.value == value) {
            return entry.text;
        }
    }
    return unlisted;
}

// The value a setting's table names `text`, if it names one so.
constexpr std::optional<std::int32_t> setting_value(setting which, std::string_view text)
{
    for (const enumeration_entry& entry : setting_table(which)) {
        if (entry.text == text) {
            return entry.value;
        }
    }
    return std::nullopt;
}

} // namespace orbse
