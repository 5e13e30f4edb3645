#include "fields/list_alignment.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <span>

namespace orbse::fields {
namespace {

// What a list's slot is, as the slots of two saves' lists are aligned by:
// a key made of everything the slot holds but the numbers its objects take
// (which a unit more earlier in the save moves), and for a reference the
// object it refers to, in the first save's numbering. Slots left between
// the ones so matched are matched again by what they are: a reference to
// the same object, or a unit of the same unit_class, whatever else changed
// in it.
struct slot_key_maker {
    static constexpr std::uint64_t start = 14695981039346656037ULL;

    std::uint64_t key = start;

    // Each step a bijection of the key for a given value (an odd multiplier
    // and a shift folding the high bits down), so that two values never
    // lead one key to the same next key; a run's length goes in before its
    // elements, eight bytes at a time.
    void mix(std::uint64_t value)
    {
        key = (key ^ value) * 0x9E3779B97F4A7C15ULL;
        key ^= key >> 31;
    }
    template <typename element>
    void mix_run(std::span<const element> run)
    {
        mix(run.size());
        // The key lives only as long as the process, so the words are the
        // run's bytes in the machine's own order; the last is filled out
        // with zeros.
        const auto* bytes = reinterpret_cast<const unsigned char*>(run.data());
        const std::size_t size = run.size_bytes();
        for (std::size_t at = 0; at < size; at += sizeof(std::uint64_t)) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + at, std::min(sizeof(word), size - at));
            mix(word);
        }
    }

    // One leaf of the slot, which begins at `slot_start`. Where the leaf
    // lies in the slot and its size stand for its place: slots whose bytes
    // are read alike have their leaves at the same places.
    void add(const field_leaf& leaf, std::uint64_t slot_start, const numbering_map& numbers, std::uint16_t counter)
    {
        mix(leaf.offset - slot_start);
        mix(leaf.size);
        mix(static_cast<std::uint64_t>(leaf.type));
        mix(static_cast<std::uint64_t>(leaf.slot));
        if (leaf.names_object) {
            // The next object's number moves with every object added
            // before it; one met elsewhere is read in the first save's
            // numbering.
            mix(static_cast<std::uint64_t>(leaf.names_next_object));
            if (!leaf.names_next_object) {
                mix(static_cast<std::uint64_t>(numbers.in_other(leaf.number, counter)));
            }
            return;
        }
        mix(static_cast<std::uint64_t>(leaf.number));
        mix_run(leaf.bytes);
        mix_run(leaf.words);
    }

    void add_identity(const field_leaf& leaf, const numbering_map& numbers, std::uint16_t counter)
    {
        if (leaf.slot != slot_holds::not_a_slot) {
            mix(static_cast<std::uint64_t>(leaf.slot));
            if (leaf.slot == slot_holds::reference) {
                mix(static_cast<std::uint64_t>(numbers.in_other(leaf.number, counter)));
            }
        } else if (leaf.names_unit_type && leaf.chain_level == 0) {
            mix(static_cast<std::uint64_t>(leaf.number));
        }
    }
};

// The record held back, if any, or else the walk's next.
std::span<const field_leaf> next_record(save_walk& walk, std::span<const field_leaf>& held)
{
    const auto record = held;
    held = {};
    return record.empty() ? walk.next() : record;
}

// A record of a list's slots, and the part of its leaves' places that
// names their slot.
struct slot_record {
    std::span<const field_leaf> leaves;
    std::size_t slot_part = 0;
};

// The next record, where it lies in a slot of list `list_number`. Where the
// list has ended, none: the record read past it is held back, for the next
// list may begin with it.
slot_record next_slot_record(save_walk& walk, std::span<const field_leaf>& held, std::int64_t list_number)
{
    const auto record = next_record(walk, held);
    if (record.empty()) {
        return {};
    }
    const std::size_t slot_part = slot_part_of(record.front().place.view());
    if (slot_part == 0 || record.front().place.parts[slot_part - 1].index != list_number) {
        held = record;
        return {};
    }
    return {record, slot_part};
}

} // namespace

void slot_renumbering::apply(leaf_place& place) const
{
    const std::size_t part = slot_part_of(place.view());
    if (part == 0 || place.parts[part - 1].index != list || place.parts[part].index < own) {
        return;
    }
    place.parts[part].index = place.parts[part].index == own ? shown : shown + 1;
}

void list_scout::open(const std::string& path)
{
    walk_ = std::make_unique<save_walk>(path);
}

scouted_list list_scout::read_list(const field_leaf& size, const numbering_map& numbers)
{
    walk_->leaves_from(size.offset);
    // The list's number as the scout reads it: the comparison may show the
    // list under its partner's number.
    std::int64_t list_number = 0;
    for (;;) {
        const auto record = next_record(*walk_, held_);
        if (record.empty()) {
            return {};
        }
        if (record.back().offset >= size.offset) {
            const leaf_place& place = record.back().place;
            list_number = place.parts[list_part_of(place.view())].index;
            break;
        }
    }
    scouted_list list;
    list.counter_after = walk_->object_counter();
    std::int64_t slot_number = -1;
    for (;;) {
        const auto [record, slot_part] = next_slot_record(*walk_, held_, list_number);
        if (record.empty()) {
            break;
        }
        for (const auto& leaf : record) {
            if (leaf.place.parts[slot_part].index != slot_number) {
                slot_number = leaf.place.parts[slot_part].index;
                list.keys.push_back(slot_key_maker::start);
                list.identities.push_back(slot_key_maker::start);
                list.counters_before.push_back(list.counter_after);
                list.offsets.push_back(leaf.offset);
            }
            list.end = leaf.offset + leaf.size;
            slot_key_maker key{list.keys.back()};
            key.add(leaf, list.offsets.back(), numbers, walk_->object_counter());
            list.keys.back() = key.key;
            slot_key_maker identity{list.identities.back()};
            identity.add_identity(leaf, numbers, walk_->object_counter());
            list.identities.back() = identity.key;
        }
        list.counter_after = walk_->object_counter();
    }
    return list;
}

aligned_slots::aligned_slots(const std::vector<scouted_list>& lists, const std::vector<std::size_t>& saves)
: width_(lists.size())
{
    const std::size_t first = saves[0];
    // partner[save][slot of the first save]: the save's slot, or none.
    std::vector<std::vector<std::int64_t>> partner(width_);
    for (const auto save : saves) {
        partner[save].assign(lists[first].keys.size(), none);
        if (save == first) {
            std::iota(partner[save].begin(), partner[save].end(), 0);
            continue;
        }
        for (const auto& match : match_twice(lists[first], lists[save])) {
            partner[save][match.first] = match.second;
        }
    }
    std::vector<std::int64_t> next(width_, 0); // each save's first slot not yet in a row
    for (std::size_t slot = 0; slot <= lists[first].keys.size(); ++slot) {
        const std::size_t gap = size();
        for (const auto save : saves) {
            const auto until = slot < lists[first].keys.size() ? partner[save][slot]
                                                              : static_cast<std::int64_t>(lists[save].keys.size());
            std::size_t row = gap;
            for (; until != none && next[save] < until; ++next[save]) {
                row = place_in_gap(lists, save, next[save], row) + 1;
            }
        }
        if (slot == lists[first].keys.size()) {
            break;
        }
        const std::size_t row = rows_.size() / width_;
        rows_.resize(rows_.size() + width_, none);
        for (const auto save : saves) {
            if (partner[save][slot] != none) {
                rows_[row * width_ + save] = partner[save][slot];
                next[save] = partner[save][slot] + 1;
            }
        }
    }
}

std::vector<slot_match> aligned_slots::match_twice(const scouted_list& first, const scouted_list& second)
{
    const auto by_key = match_slots(first.keys, second.keys);
    std::vector<slot_match> matches;
    slot_match gap_start{0, 0};
    for (std::size_t at = 0; at <= by_key.size(); ++at) {
        const slot_match gap_end = at < by_key.size() ? by_key[at]
                                                      : slot_match{static_cast<std::uint32_t>(first.keys.size()),
                                                                   static_cast<std::uint32_t>(second.keys.size())};
        const auto first_gap = std::span(first.identities).subspan(gap_start.first, gap_end.first - gap_start.first);
        const auto second_gap = std::span(second.identities).subspan(gap_start.second, gap_end.second - gap_start.second);
        if (!first_gap.empty() && !second_gap.empty()) {
            for (const auto& match : match_slots(first_gap, second_gap)) {
                matches.push_back({match.first + gap_start.first, match.second + gap_start.second});
            }
        }
        if (at < by_key.size()) {
            matches.push_back(gap_end);
            gap_start = {gap_end.first + 1, gap_end.second + 1};
        }
    }
    return matches;
}

// Slot `slot` of `save`, which the first save lacks, into the first row
// from `from` on that another save's slot of the same key holds without
// it, or into a row of its own at the end; returns the row.
std::size_t aligned_slots::place_in_gap(const std::vector<scouted_list>& lists, std::size_t save, std::int64_t slot,
                                    std::size_t from)
{
    const auto key = lists[save].keys[static_cast<std::size_t>(slot)];
    for (std::size_t row = from; row < size(); ++row) {
        const auto holder = std::find_if(rows_.begin() + static_cast<std::ptrdiff_t>(row * width_),
                                         rows_.begin() + static_cast<std::ptrdiff_t>((row + 1) * width_),
                                         [](std::int64_t held) { return held != none; });
        const auto other = static_cast<std::size_t>(holder - rows_.begin()) - row * width_;
        if (this->slot(row, save) == none && lists[other].keys[static_cast<std::size_t>(*holder)] == key) {
            rows_[row * width_ + save] = slot;
            return row;
        }
    }
    rows_.resize(rows_.size() + width_, none);
    rows_[rows_.size() - width_ + save] = slot;
    return size() - 1;
}


void list_renumbering::apply(leaf_place& place) const
{
    const std::size_t part = list_part_of(place.view());
    if (part != 0 && place.parts[part].index >= from) {
        place.parts[part].index += shift;
    }
}

void lists_ahead::open(const std::string& path)
{
    walk_ = std::make_unique<save_walk>(path);
}

std::span<const list_ahead> lists_ahead::from(std::uint64_t offset, const numbering_map& numbers, std::uint16_t mapped_up_to)
{
    std::erase_if(read_, [&](const list_ahead& list) { return list.offset < offset; });
    if (read_.empty() ? !reach(offset) : read_.front().offset != offset) {
        return {};
    }
    std::uint64_t slots_left = most_slots;
    while (can_go_on_ && read_.size() < most_lists && read_list(numbers, mapped_up_to, slots_left)) {
    }
    return read_;
}

// Brings the walk to the size of the list at `offset`, unless it has
// passed it: the bytes before are passed over without leaves.
bool lists_ahead::reach(std::uint64_t offset)
{
    can_go_on_ = false;
    to_stream_end_ = false;
    const std::uint64_t standing = held_.empty() ? walk_->offset() : held_.front().offset;
    if (standing > offset) {
        return false;
    }
    if (held_.empty() || held_.front().offset < offset) {
        held_ = {};
        walk_->leaves_from(offset);
    }
    for (;;) {
        const auto record = next_record(*walk_, held_);
        if (record.empty()) {
            return false;
        }
        if (record.back().offset >= offset) {
            held_ = record;
            const field_leaf& size = record.front();
            can_go_on_ = size.offset == offset && size.sizes_list && !size.closes_stream;
            return can_go_on_;
        }
    }
}

// Reads the list whose size the walk stands at and keeps it; false where
// it cannot be kept whole (the stream closes, the save breaks, the slots
// left run out), after which the walk goes on no further from there.
bool lists_ahead::read_list(const numbering_map& numbers, std::uint16_t mapped_up_to, std::uint64_t& slots_left)
{
    can_go_on_ = false;
    const auto size_record = next_record(*walk_, held_);
    if (size_record.empty() || !size_record.front().sizes_list || size_record.front().closes_stream) {
        held_ = size_record;
        to_stream_end_ = size_record.empty() ? !walk_->summary().broken : size_record.front().closes_stream;
        return false;
    }
    const field_leaf& size = size_record.front();
    list_ahead list;
    list.number = size.place.parts[list_part_of(size.place.view())].index;
    list.offset = size.offset;
    list.counter_before = walk_->object_counter();
    const auto slot_count = static_cast<std::uint64_t>(size.number);
    // The numbers past `mapped_up_to` stand as they are (see in_other).
    const auto mapped_counter = static_cast<std::uint16_t>(std::max<std::uint16_t>(mapped_up_to, 1) - 1);
    slot_key_maker list_key;
    std::uint64_t slot_key = slot_key_maker::start;
    std::uint64_t slot_start = 0;
    std::int64_t slot_number = -1;
    for (;;) {
        const auto [record, slot_part] = next_slot_record(*walk_, held_, list.number);
        if (record.empty()) {
            break;
        }
        for (const auto& leaf : record) {
            if (leaf.place.parts[slot_part].index != slot_number) {
                if (slot_number >= 0) {
                    list_key.mix(slot_key);
                }
                if (slots_left == 0) {
                    return false;
                }
                --slots_left;
                ++list.slots;
                slot_number = leaf.place.parts[slot_part].index;
                slot_key = slot_key_maker::start;
                slot_start = leaf.offset;
            }
            slot_key_maker key{slot_key};
            key.add(leaf, slot_start, numbers, mapped_counter);
            slot_key = key.key;
            list.units += leaf.slot == slot_holds::unit ? 1 : 0;
        }
    }
    if (list.slots != slot_count || walk_->summary().broken) {
        return false;
    }
    list_key.mix(slot_key);
    list_key.mix(list.slots);
    list.key = list_key.key;
    read_.push_back(list);
    can_go_on_ = !held_.empty();
    to_stream_end_ = held_.empty(); // the file ended with the list
    return true;
}

namespace {

// Whether before the meeting row some save and the first each hold a list
// the other has not.
bool lists_changed(const std::vector<list_row>& rows, const std::vector<std::size_t>& saves)
{
    const std::size_t first = saves[0];
    return std::any_of(saves.begin() + 1, saves.end(), [&](std::size_t save) {
        const auto holds_alone = [&](std::size_t one, std::size_t other) {
            return std::any_of(rows.begin(), rows.end() - 1, [&](const list_row& row) {
                return row[one] != aligned_slots::none && row[other] == aligned_slots::none;
            });
        };
        return holds_alone(first, save) && holds_alone(save, first);
    });
}

} // namespace

bool lists_partnered(const aligned_slots& rows, const std::vector<scouted_list>& lists, const std::vector<std::size_t>& saves)
{
    const std::size_t first = saves[0];
    return std::all_of(saves.begin() + 1, saves.end(), [&](std::size_t save) {
        std::size_t partnered = 0;
        for (std::size_t row = 0; row < rows.size(); ++row) {
            partnered += rows.slot(row, first) != aligned_slots::none && rows.slot(row, save) != aligned_slots::none ? 1 : 0;
        }
        return 2 * partnered > std::min(lists[first].keys.size(), lists[save].keys.size());
    });
}

std::vector<list_row> lists_before_partners(std::vector<std::span<const list_ahead>> ahead,
                                            const std::vector<bool>& to_stream_end, const std::vector<std::size_t>& saves)
{
    std::size_t fewest_cut = SIZE_MAX;
    for (const auto save : saves) {
        fewest_cut = to_stream_end[save] ? fewest_cut : std::min(fewest_cut, ahead[save].size());
    }
    for (const auto save : saves) {
        ahead[save] = ahead[save].first(std::min(fewest_cut, ahead[save].size()));
    }
    // The lists as sequences of keys, aligned by the slots' own alignment.
    std::vector<scouted_list> keyed(ahead.size());
    for (const auto save : saves) {
        for (const auto& list : ahead[save]) {
            keyed[save].keys.push_back(list.key);
            keyed[save].identities.push_back(list.key);
        }
    }
    const aligned_slots aligned(keyed, saves);
    std::vector<list_row> rows;
    for (std::size_t row = 0; row < aligned.size(); ++row) {
        list_row& lists = rows.emplace_back(ahead.size(), aligned_slots::none);
        bool everywhere = true;
        for (const auto save : saves) {
            lists[save] = aligned.slot(row, save);
            everywhere = everywhere && lists[save] != aligned_slots::none;
        }
        if (everywhere) {
            return row == 0 || lists_changed(rows, saves) ? std::vector<list_row>{} : rows;
        }
    }
    return {};
}

} // namespace orbse::fields
