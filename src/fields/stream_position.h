// Where a walk stands in the unit stream, as far as its leaves tell: its
// object counter, which decides whether a slot's number is a reference or
// the next unit. Two walks that stand at the same list's size, at the same
// offset, with the same counter, read whatever follows alike: where the
// files then hold the same bytes, none of the leaves they read can differ.
#pragma once

#include "fields/leaf_streams.h"

#include <cstdint>

namespace orbse::fields {

class stream_position {
public:
    // Follows every leaf of a walk, each in turn.
    void follow(leaf_type type, std::string_view path, std::int64_t number, slot_content slot);

    // The object counter: the length of the unit class index (taken to 16
    // bits) until the first new unit, then the last number given out.
    std::uint16_t counter() const;

private:
    void step() { counter_ = static_cast<std::uint16_t>(counter_ + 1); }

    std::uint64_t index_length_ = 0;
    bool numbering_ = false; // a new unit has been met
    std::uint16_t counter_ = 0;
};

} // namespace orbse::fields
