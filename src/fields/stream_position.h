// Where a walk stands in the unit stream, as far as its leaves tell: the
// object counter and the size of the list it is in. Two walks that stand at
// the same slot of the same list, at the same offset, with the same counter
// and the same list size, read whatever follows alike; where the files
// then hold the same bytes to their ends, nothing after that point can
// differ.
#pragma once

#include "fields/leaf_streams.h"

#include <cstdint>

namespace orbse::fields {

class stream_position {
public:
    // Follows the leaves of a walk, each in turn.
    void follow(const streamed_leaf& leaf) { follow(leaf.type, leaf.path, leaf.number, leaf.slot); }
    void follow(leaf_type type, std::string_view path, std::int64_t number, slot_content slot);

    // The object counter: the length of the unit class index (taken to 16
    // bits) until the first new unit, then the last number given out.
    std::uint16_t counter() const;
    std::uint16_t list_size() const { return list_size_; }

    // For a walk whose first leaves were left out: its counter and list size
    // are known again only once a unit in a slot and a list's size have come.
    void lose_track() { unit_seen_ = list_size_seen_ = false; }
    bool on_track() const { return unit_seen_ && list_size_seen_; }

private:
    void step() { counter_ = static_cast<std::uint16_t>(counter_ + 1); }

    std::uint64_t index_length_ = 0;
    bool numbering_ = false; // a new unit has been met
    std::uint16_t counter_ = 0;
    std::uint16_t list_size_ = 0;
    bool unit_seen_ = true;
    bool list_size_seen_ = true;
};

// Whether `leaf` begins a slot or a list: the places where two walks that
// agree can be seen to agree.
bool begins_slot_or_list(const streamed_leaf& leaf);

} // namespace orbse::fields
