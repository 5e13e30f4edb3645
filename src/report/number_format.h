// The few conversions that turn every value of the info report into text.
// They only return text; nothing here writes to the report.
#pragma once

#include <array>
#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orbse {

// Decimal digits, with "-" before a negative value; no padding, no grouping.
// Unsigned 8-bit and 16-bit fields are widened before the call and so print
// unsigned; 32-bit fields are passed as they are and print signed.
std::string int_to_text(std::int32_t value);

// Room for the longest number text, "-2147483648" and any 64-bit count.
inline constexpr std::size_t max_number_text = 20;
using number_text_storage = std::array<char, max_number_text>;

// The one way the report turns a number into decimal digits: writes them at
// `out`, which has room for max_number_text characters, and returns the end.
// Inline, since a listing of millions of units formats a dozen numbers each.
template <std::integral number>
char* put_decimal(char* out, number value)
{
    return std::to_chars(out, out + max_number_text, value).ptr;
}

// int_to_text without allocating: the text is written into `storage` and
// the view stays valid as long as it.
std::string_view int_to_text(std::int32_t value, number_text_storage& storage);

// At least two digits: a value below 10 gets one leading "0".
std::string zero_pad_2(std::int32_t value);

// At least four digits for 0 to 9999, chosen by the size of the value: a
// longer number is never cut.
std::string zero_pad_4(std::int32_t value);

// A save timestamp (seconds since 1970-01-01 00:00:00 UTC, unsigned) as
// YYYY:MM:DD-hh:mm:ss, always in UTC whatever the machine's time zone.
std::string save_date_text(std::uint32_t seconds);

} // namespace orbse
