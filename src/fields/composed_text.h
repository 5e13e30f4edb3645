// Pieces of a line composed in place in room reserved in the output: each
// writes at `at` and returns the end.
#pragma once

#include <cstddef>
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

} // namespace orbse::fields
