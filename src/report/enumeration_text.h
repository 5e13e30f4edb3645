// The texts the report prints for the coded settings of a save: a small
// table of value and text per setting, and the look-up through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// Who plays a colour; the game-info section and the player sections share it.
inline constexpr std::array<enumeration_entry, 3> player_kind_texts{{
    {0, "Absent"},
    {1, "Human"},
    {2, "Computer"},
}};

} // namespace orbse
