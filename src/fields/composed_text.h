// Pieces of a line composed in place in room reserved in the output: each
// writes at `at` and returns the end.
#pragma once

#include "fields/decimal_digits.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orbse::fields {

// A literal, copied as a piece of known size.
template <std::size_t size>
char* put_literal(char* at, const char (&text)[size])
{
    std::memcpy(at, text, size - 1);
    return at + size - 1;
}

inline char* put_text(char* at, std::string_view text)
{
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// A reference slot's object number with its note around it, as each
// output shows them: the number, `between`, the number again, `after`.
template <std::size_t between_size, std::size_t after_size>
char* put_reference(char* at, std::uint16_t object, const char (&between)[between_size],
                    const char (&after)[after_size])
{
    const small_decimal digits(object);
    at = digits.put(at);
    at = put_literal(at, between);
    at = digits.put(at);
    return put_literal(at, after);
}

} // namespace orbse::fields
