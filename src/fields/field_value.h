// A value for a leaf, written as the listing writes it, turned into the
// bytes the save stores for it: the way back from what `list` shows.
//   numbers     decimal (a minus for i32) or 0x hex; where the leaf's values
//               have names (a coded setting, a clan), one of those names
//   text        a name, in double quotes or without, \xNN for any byte; at
//               most the field's size, padded with NUL
//   raw         hex, two digits a byte, as many bytes as the field holds
//   u8[], u16[] [a,b,c], as many numbers as the field holds
// From element `first` on (PATH+N) a raw stretch takes any number of bytes
// and a run any number of elements that still fit; a run also takes one
// bare number.
#pragma once

#include "orbsaves/save_walk.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbse::fields {

struct value_bytes {
    std::uint64_t offset = 0;        // where the bytes go in the file
    std::vector<std::uint8_t> bytes; // empty when the value was refused
    std::string problem;             // why, when it was
};

// The bytes of `text` as the whole value of `leaf`, or with `first` from
// that element on (a byte of a raw stretch or a name, a number of a run).
value_bytes bytes_of_value(const field_leaf& leaf, std::optional<std::uint64_t> first, std::string_view text);

} // namespace orbse::fields
