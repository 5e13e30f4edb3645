// The alignment of a unit list whose slots differ between saves: each
// save's list read ahead by a second walk for one key per slot (what the
// slot holds, the numbers its objects take aside), the slots of each save
// matched to the first save's by those keys, and each save's object numbers
// read in the first save's numbering, which a unit only one save holds
// shifts. Comparing the aligned slots is the diff's own work.
#pragma once

#include "fields/slot_alignment.h"
#include "orbsaves/save_walk.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orbse::fields {

// How one save's object numbers read in the numbering of the save the
// others are aligned to: from `from` on, add `shift`, or, where the objects
// are ones that save has not (a unit only this save holds), no number of it.
// Objects are numbered in file order, so the shift changes only where an
// aligned list holds objects in one save alone; the changes come in file
// order. Numbers that wrap past 65,535 are taken as they stand.
class numbering_map {
public:
    // The save's objects from `from` on.
    void shift_from(std::uint32_t from, std::int64_t shift, bool counterpart)
    {
        if (!changes_.empty() && changes_.back().from >= from) {
            changes_.pop_back();
        }
        if (!changes_.empty() && changes_.back().shift == shift && changes_.back().counterpart == counterpart) {
            return;
        }
        if (changes_.empty() && shift == 0 && counterpart) {
            return;
        }
        changes_.push_back({from, shift, counterpart});
    }

    // The number in the other save's numbering; a negative one where the
    // object has no counterpart there. A number past `counter`, the last
    // the save has given (or the next, which a linked unit takes only after
    // its body), names no object yet and stands as it is.
    std::int64_t in_other(std::int64_t number, std::uint16_t counter) const
    {
        if (number > std::int64_t{counter} + 1) {
            return number;
        }
        const auto after = std::upper_bound(changes_.begin(), changes_.end(), number,
                                            [](std::int64_t value, const change& at) { return value < at.from; });
        if (after == changes_.begin()) {
            return number;
        }
        const change& applying = *(after - 1);
        return applying.counterpart ? number + applying.shift : -1 - number;
    }

    // The shift of the numbers from the last change on.
    std::int64_t shift() const { return changes_.empty() ? 0 : changes_.back().shift; }

private:
    struct change {
        std::int64_t from;
        std::int64_t shift;
        bool counterpart;
    };
    std::vector<change> changes_;
};

// Slots of an aligned list are compared with their partners, whose numbers
// in their own list may differ: while a slot is compared, each save's
// leaves are placed as if their slot had the number of its partner in the
// first save (`shown`), and the slots after it one further.
struct slot_renumbering {
    std::int64_t list = 0;
    std::int64_t own = 0;
    std::int64_t shown = 0;

    void apply(leaf_place& place) const;
};

// Lists compared past lists only some saves hold are placed as their
// partners in the first save are numbered: from list `from` on, a save's
// list numbers are shown `shift` further.
struct list_renumbering {
    std::int64_t from = 0;
    std::int64_t shift = 0;

    void apply(leaf_place& place) const;
};

// A list's slots as the scout read them: each one's key and the object
// counter before it, and the counter after the list.
struct scouted_list {
    std::vector<std::uint64_t> keys;
    std::vector<std::uint64_t> identities;
    std::vector<std::uint16_t> counters_before;
    std::vector<std::uint64_t> offsets; // where each slot begins
    std::uint16_t counter_after = 0;
    std::uint64_t end = 0; // where the list's last leaf ends

    // Where slot `slot` begins, or the list ends after its last.
    std::uint64_t offset_of(std::size_t slot) const { return slot < offsets.size() ? offsets[slot] : end; }
};

// A second walk of a save, ahead of the comparison's, that reads a list's
// slots for their keys before the list is compared; and the record it read
// past the list, which the next list may begin with.
class list_scout {
public:
    bool is_open() const { return walk_ != nullptr; }
    // Raises the io_failure of a save that cannot be opened a second time.
    void open(const std::string& path);

    // The slots of the list whose size is `size`, their keys made with the
    // save's `numbers`: the scout passes over what lies before without
    // leaves. A save that breaks in the list gives the slots read up to its
    // break.
    scouted_list read_list(const field_leaf& size, const numbering_map& numbers);

private:
    std::unique_ptr<save_walk> walk_;
    std::span<const field_leaf> held_; // the record read past the last list
};

// A list as the look ahead read it: where it lies, what it holds, and one
// key for all its slots' keys in their order, so that the lists of two
// saves can be aligned as their slots are.
struct list_ahead {
    std::int64_t number = 0;  // its number in its save (`lists[L]`)
    std::uint64_t offset = 0; // of its size
    std::uint64_t key = 0;
    std::uint64_t slots = 0;
    std::uint64_t units = 0; // slots that hold a unit
    std::uint16_t counter_before = 0;
};

// A third walk of a save that reads the lists from one on for their keys,
// to tell whether a list of another size is a list the other saves have
// not. It reads a bounded distance (most_lists lists, most_slots slots)
// and keeps the lists read, so that its memory stays small and no byte is
// read twice: the walk never turns back, and a list it has passed without
// keeping is not seen again.
class lists_ahead {
public:
    static constexpr std::size_t most_lists = 8;
    static constexpr std::uint64_t most_slots = 65536;

    bool is_open() const { return walk_ != nullptr; }
    // Raises the io_failure of a save that cannot be opened again.
    void open(const std::string& path);

    // The lists from the one whose size is at `offset` on, as many as the
    // bounds let the walk see whole; empty where the walk has passed that
    // list. The slots' keys read object numbers up to `mapped_up_to` (where
    // the comparison stands) through `numbers`, later ones as they stand:
    // the shifts of those are not known yet, and would change the keys of
    // lists kept.
    std::span<const list_ahead> from(std::uint64_t offset, const numbering_map& numbers, std::uint16_t mapped_up_to);
    // Whether the lists kept go on to the stream's end, rather than to
    // where the bounds stopped the walk.
    bool seen_to_stream_end() const { return to_stream_end_; }

private:
    bool reach(std::uint64_t offset);
    bool read_list(const numbering_map& numbers, std::uint16_t mapped_up_to, std::uint64_t& slots_left);
    std::unique_ptr<save_walk> walk_;
    std::span<const field_leaf> held_; // the record read past the last list
    std::vector<list_ahead> read_;
    bool can_go_on_ = false;   // the walk stands at the size of the list after the last kept
    bool to_stream_end_ = false;
};

// One list number per save (the index of its list in the lists ahead), or
// none where the save lacks the list.
using list_row = std::vector<std::int64_t>;

// The lists read ahead of `saves` aligned by their keys to the first
// save's, as slots are: the rows up to and with the first list every save
// holds. Empty where the lists seen hold no such row, where it is the
// first, or where before it the first save and another each hold a list
// the other has not: lists changed rather than added or removed, whose
// slots are aligned one list at a time. Where the bounds stopped a save's
// walk (`to_stream_end[save]` false), each save's lists are taken only as
// far as the fewest such a save saw: the ends of the lists seen are then
// lists of one stretch of the stream, not a later list of one save held
// against an earlier of another that happens to hold the same.
std::vector<list_row> lists_before_partners(std::vector<std::span<const list_ahead>> ahead,
                                            const std::vector<bool>& to_stream_end, const std::vector<std::size_t>& saves);

// The slots of an aligned list, each a row of one slot number per save, or
// none where the save has no such slot: the slots of the first save in
// their order, those other saves hold without it before the first save's
// slot they come before. A series is aligned save by save to the first;
// slots that several saves hold without the first share a row where their
// keys agree, in the order of each save's slots.
class aligned_slots {
public:
    static constexpr std::int64_t none = -1;

    // lists[save] for each of `saves`, the first of them the save the
    // others are aligned to.
    aligned_slots(const std::vector<scouted_list>& lists, const std::vector<std::size_t>& saves);

    std::size_t size() const { return rows_.size() / width_; }
    std::int64_t slot(std::size_t row, std::size_t save) const { return rows_[row * width_ + save]; }

    // Matched by their keys, and the slots left between two matches by
    // their identities.
    static std::vector<slot_match> match_twice(const scouted_list& first, const scouted_list& second);

private:
    std::size_t place_in_gap(const std::vector<scouted_list>& lists, std::size_t save, std::int64_t slot, std::size_t from);

    std::size_t width_;
    std::vector<std::int64_t> rows_;
};

// Whether the slots of each save's list find partners in the first save's
// list for more than half of the shorter of the two: the lists are one list
// that changed. Where a save's do not, its list may be one that only some
// saves hold, which the lists ahead can tell.
bool lists_partnered(const aligned_slots& rows, const std::vector<scouted_list>& lists, const std::vector<std::size_t>& saves);

} // namespace orbse::fields
