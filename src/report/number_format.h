// The few conversions that turn every value of the info report into text.
// They only return text; nothing here writes to the report.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orbse {

// Decimal digits, with "-" before a negative value; no padding, no grouping.
// Unsigned 8-bit and 16-bit fields are widened before the call and so print
// unsigned; 32-bit fields are passed as they are and print signed.
std::string int_to_text(std::int32_t value);

// Room for the longest number text, "-2147483648" and any 64-bit count.
using number_text_storage = std::array<char, 20>;

// int_to_text without allocating: the text is written into `storage` and
// the view stays valid as long as it.
std::string_view int_to_text(std::int32_t value, number_text_storage& storage);

// A count or position, unsigned and 64 bits wide: past the 32-bit range it
// goes on counting rather than turn negative.
std::string_view count_to_text(std::uint64_t value, number_text_storage& storage);

// At least two digits: a value below 10 gets one leading "0".
std::string zero_pad_2(std::int32_t value);

// At least four digits for 0 to 9999, chosen by the size of the value: a
// longer number is never cut.
std::string zero_pad_4(std::int32_t value);

// A save timestamp (seconds since 1970-01-01 00:00:00 UTC, unsigned) as
// YYYY:MM:DD-hh:mm:ss, always in UTC whatever the machine's time zone.
std::string save_date_text(std::uint32_t seconds);

} // namespace orbse
