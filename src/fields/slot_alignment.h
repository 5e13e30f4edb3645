// Which slots of two unit lists are the same slot: the lists as sequences
// of keys, one key per slot, aligned by their longest common subsequence.
// A unit built or destroyed between two saves is then one slot that one
// list holds alone, and the slots around it keep their true partners.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace orbse::fields {

struct slot_match {
    std::uint32_t first = 0;  // the slot's index in the first list
    std::uint32_t second = 0; // in the second
    bool operator==(const slot_match&) const = default;
};

// The most edits the alignment looks for between the slots that the lists'
// common front and back leave: each edit it allows costs its trace about
// 4 (2 edits + 1) bytes, so that 1,024 cost about 4 MB at most.
inline constexpr std::size_t most_slot_edits = 1024;

// A longest common subsequence of `first` and `second`, as pairs of
// indexes in increasing order (Myers' difference, whose cost grows with
// the number of edits rather than with the lists' lengths). Beyond
// `most_edits` edits the slots between the common front and back are
// paired by position instead, as they stand.
std::vector<slot_match> match_slots(std::span<const std::uint64_t> first, std::span<const std::uint64_t> second,
                                    std::size_t most_edits = most_slot_edits);

} // namespace orbse::fields
