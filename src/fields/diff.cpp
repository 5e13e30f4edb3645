// orbse-fields diff: the leaves of several saves side by side, in file
// order, and the ones whose values differ. A byte diff says nothing once one
// unit more early in the stream shifts every later byte; the leaves' places
// do not shift, so they are what the saves are aligned by.
//
// One walk per save, each advanced a leaf at a time, in step. Where every
// save stands at the same place, the values are compared. Where they do
// not, the saves' structures part: a list, a slot, a unit's path, an
// updates row's values or a linked unit's extra word is there in some saves
// only. The places tell which save is behind (slots[3] comes before
// slots[4], a unit's path before its unit_class; a save still inside the
// record the others have just left holds more of it), and the record it
// holds alone is named in one line and passed over, after which the saves
// stand at the same place again. Where the places tell nothing (a chain of
// linked units of another depth), the record the saves still share is
// passed over whole and named as differing in shape.
#include "fields/commands.h"
#include "fields/diff_lines.h"
#include "fields/list_alignment.h"
#include "fields/save_input.h"
#include "runtime/byte_window.h"
#include "runtime/failures.h"
#include "runtime/platform.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

namespace orbse::fields {
namespace {

// Elements of a leaf that differ between the saves, gathered into runs of
// consecutive elements, each written as one line showing its first 64
// elements.
class run_gatherer {
public:
    using values_at = std::vector<std::optional<std::uint16_t>>;

    // leaves[i]: save i's leaf, null where it is not compared; `named` is
    // the leaf whose path the runs are written under.
    run_gatherer(diff_writer& writer, const field_leaf& named, leaf_type type, const std::vector<const field_leaf*>& leaves)
        : writer_(writer), named_(named), type_(type), leaves_(leaves), columns_(leaves.size())
    {
    }

    // Elements `first` to `last` differ; values(at) gives element `at` of
    // each save, asked for only while the run shows more of its elements.
    template <typename values_of>
    void differ(std::uint64_t first, std::uint64_t last, values_of&& values)
    {
        for (std::uint64_t at = first; at <= last; ++at) {
            if (open_ && at == last_ + 1 && last_ - first_ + 1 > raw_head_size) {
                last_ = last; // shows no more of itself: only lengthened
                return;
            }
            differs(at, values(at));
        }
    }

    void close()
    {
        if (open_) {
            // Made only for a run written: most leaves compared agree.
            if (path_.empty()) {
                path_ = path_of(named_);
            }
            writer_.run(path_, type_, first_, last_, columns_);
            open_ = false;
        }
    }

    bool any() const { return written_; }

private:
    void differs(std::uint64_t at, const values_at& values)
    {
        if (!open_ || at != last_ + 1) {
            close();
            open_ = true;
            first_ = at;
            for (std::size_t save = 0; save < columns_.size(); ++save) {
                columns_[save] = run_column{};
                columns_[save].present = values[save].has_value();
                if (columns_[save].present) {
                    columns_[save].offset = leaves_[save]->offset + at * (type_ == leaf_type::u16_array ? 2 : 1);
                }
            }
        }
        last_ = at;
        written_ = true;
        for (std::size_t save = 0; save < columns_.size(); ++save) {
            keep(columns_[save], values[save]);
        }
    }

    void keep(run_column& column, const std::optional<std::uint16_t>& value) const
    {
        if (!column.present || !value) {
            return;
        }
        if (column.bytes.size() + column.words.size() >= raw_head_size) {
            column.cut = true;
        } else if (type_ == leaf_type::u16_array) {
            column.words.push_back(*value);
        } else {
            column.bytes.push_back(static_cast<std::uint8_t>(*value));
        }
    }

    diff_writer& writer_;
    const field_leaf& named_;
    std::string path_;
    leaf_type type_;
    const std::vector<const field_leaf*>& leaves_;
    std::vector<run_column> columns_;
    bool open_ = false;
    bool written_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
};

// Elements `from` to `to` (not included) that every save holds, save i's
// from at_hand[i]: stretches on which all agree end the run open, the others
// go to it.
template <typename element, typename values_of>
void compare_stretch(run_gatherer& runs, std::vector<const element*> at_hand, std::uint64_t from, std::uint64_t to,
                     values_of&& values)
{
    for (std::uint64_t at = from; at < to;) {
        const auto length = static_cast<std::size_t>(to - at);
        std::size_t agreeing = length;
        for (std::size_t save = 1; save < at_hand.size(); ++save) {
            agreeing = static_cast<std::size_t>(std::mismatch(at_hand[0], at_hand[0] + agreeing, at_hand[save]).first - at_hand[0]);
        }
        std::size_t step = agreeing;
        if (step > 0) {
            runs.close();
        } else {
            step = 1;
            while (step < length && !std::all_of(at_hand.begin() + 1, at_hand.end(), [&](const element* first) {
                       return first[step] == at_hand[0][step];
                   })) {
                ++step;
            }
            runs.differ(at, at + step - 1, values);
        }
        at += step;
        for (auto& first : at_hand) {
            first += step;
        }
    }
}

// The first byte of `bytes` at which one of `numbers` stands as a 16-bit
// word, both its bytes in `bytes`; bytes.size() where none does.
std::size_t first_word_among(std::span<const std::uint8_t> bytes, const std::vector<std::uint16_t>& numbers)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t first = bytes.size();
    for (const std::uint16_t number : numbers) {
        const std::array<char, 2> word{static_cast<char>(number & 0xFF), static_cast<char>(number >> 8)};
        // Only a word that begins before the first found so far counts.
        first = std::min(first, text.substr(0, std::min(first + 1, text.size())).find(std::string_view(word.data(), word.size())));
    }
    return first;
}

// How far the files' bytes agree from their offsets, as agreeing_length
// tells, and hold no 16-bit value (at any byte) among `next_numbers`: with
// the numbering shifted between the saves, such a value may be the next
// object in one save and a reference in the other, so that the same bytes
// are read otherwise. Ends before the first such value.
std::uint64_t agreeing_without(std::span<const std::pair<byte_window*, std::uint64_t>> starts,
                               const std::vector<std::uint16_t>& next_numbers)
{
    std::uint64_t done = 0;
    std::optional<std::uint8_t> previous; // the last byte of the piece before
    // Pieces that grow from a few hundred bytes, as agreeing_length reads
    // them: the next slot's number is often near.
    for (std::size_t piece = 256;; piece = std::min(2 * piece, byte_window::piece_size)) {
        const auto first = starts[0].first->bytes_at(starts[0].second + done, piece);
        std::size_t length = first.size();
        for (const auto& [window, offset] : starts.subspan(1)) {
            const auto other = window->bytes_at(offset + done, length);
            length = static_cast<std::size_t>(
                std::mismatch(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(std::min(length, other.size())), other.begin()).first -
                first.begin());
        }
        if (previous && length > 0) {
            const std::array<std::uint8_t, 2> across{*previous, first[0]};
            if (first_word_among(across, next_numbers) == 0) {
                return done - 1;
            }
        }
        if (const std::size_t found = first_word_among(first.first(length), next_numbers); found < length) {
            return done + found;
        }
        done += length;
        if (length == 0 || length < first.size()) {
            return done;
        }
        previous = first[length - 1];
    }
}

// One save's side of the comparison: its walk and the leaf it stands at.
struct side {
    std::string path; // the file its walks read
    std::unique_ptr<save_walk> walk;
    std::span<const field_leaf> record;
    std::size_t at = 0;
    bool retired = false;  // broke: compared no further
    bool parked = false;   // takes no part in the slot of an aligned list being compared
    leaf_place last;       // the alignment place of the last leaf taken
    // The size of the last list this save held alone, which another save's
    // stream may have closed at instead.
    std::optional<field_leaf> lone_list_size;
    list_scout scout;
    // A third, that reads the lists from one on for their keys, where a
    // list may be one the other saves have not.
    lists_ahead ahead;
    numbering_map numbers;
    std::optional<list_renumbering> lists_renumbered;
    std::optional<slot_renumbering> renumbered;
    std::span<const field_leaf> walked;  // the record as the walk gave it
    std::vector<field_leaf> renamed;     // and as renumbered

    // The next record is asked for only when a leaf is: between records the
    // saves may pass over bytes on which they agree.
    bool has_leaf()
    {
        if (at == record.size()) {
            walked = walk->next();
            at = 0;
            place_record();
        }
        return at < record.size();
    }
    bool between_records() const { return at == record.size(); }
    // The object counter before the leaf it stands at, as near as records
    // tell: the walk numbers a record's objects as it reads the record, so
    // at a record's first leaf it is the count before that record.
    std::uint16_t counter_at_leaf() const
    {
        return at == 0 && !record.empty() ? walk->object_counter_before_record() : walk->object_counter();
    }
    const field_leaf& leaf() const { return record[at]; }
    void advance() { ++at; }

    void renumber(std::optional<slot_renumbering> how)
    {
        renumbered = how;
        place_record();
    }
    void renumber_lists(std::optional<list_renumbering> how)
    {
        lists_renumbered = how;
        place_record();
    }

    // The number list `own` of this save is shown under.
    std::int64_t shown_list(std::int64_t own) const
    {
        return lists_renumbered && own >= lists_renumbered->from ? own + lists_renumbered->shift : own;
    }
    // How far this save's list numbers, from where it stands on, are shown
    // from its own.
    std::int64_t list_shift() const { return lists_renumbered ? lists_renumbered->shift : 0; }

private:
    void place_record()
    {
        if (!renumbered && !lists_renumbered) {
            record = walked;
            return;
        }
        renamed.assign(walked.begin(), walked.end());
        for (auto& leaf : renamed) {
            if (lists_renumbered) {
                lists_renumbered->apply(leaf.place);
            }
            if (renumbered) {
                renumbered->apply(leaf.place);
            }
        }
        record = renamed;
    }
};

// One save's elements of a raw leaf or a path's points; the tail's bytes
// come a piece at a time.
template <typename element>
struct element_source {
    side* from = nullptr;
    std::uint64_t size = 0;
    std::span<const element> held; // the piece at hand
    std::uint64_t start = 0;       // its position in the leaf
    bool pieces = false;

    // Makes the piece at hand hold position `at`, which the save has.
    void reach(std::uint64_t at)
    {
        if constexpr (std::is_same_v<element, std::uint8_t>) {
            while (pieces && at >= start + held.size()) {
                const auto piece = from->walk->next_tail_piece();
                start += held.size();
                held = piece;
                if (piece.empty()) {
                    size = start; // fewer bytes came than the leaf said
                    return;
                }
            }
        }
    }
    bool has(std::uint64_t at) const { return at < size && at >= start && at < start + held.size(); }
};

class comparison {
public:
    comparison(std::vector<side>& sides, diff_writer& writer, std::vector<std::unique_ptr<byte_window>> windows)
        : sides_(sides), writer_(writer), windows_(std::move(windows))
    {
    }

    void run()
    {
        std::vector<std::size_t> live;
        for (;;) {
            follow_numbering_start();
            pass_over_agreeing_bytes();
            settle_ends();
            live.clear();
            std::size_t taking_part = 0;
            for (std::size_t save = 0; save < sides_.size(); ++save) {
                taking_part += in_play(save) ? 1 : 0;
                if (in_play(save) && sides_[save].has_leaf()) {
                    live.push_back(save);
                }
            }
            if (taking_part < 2 || live.empty()) {
                return;
            }
            if (live.size() == taking_part && same_places(live) && opens_lists_of_other_sizes(live)) {
                align_lists_or_slots(live);
            } else if (live.size() == taking_part && same_places(live)) {
                compare_leaves(live);
            } else {
                part_ways(live);
            }
        }
    }

    bool differed() const { return differed_; }
    const std::vector<std::size_t>& broken_saves() const { return broken_; }

private:
    bool in_play(std::size_t save) const { return !sides_[save].retired && !sides_[save].parked; }

    // A save whose leaves have run out: a damaged one is named where it
    // breaks and compared no further.
    void settle_ends()
    {
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            auto& current = sides_[save];
            if (!current.retired && !current.has_leaf() && current.walk->summary().broken) {
                writer_.broken(save, *current.walk->summary().broken);
                broken_.push_back(save);
                current.retired = true;
            }
        }
    }

    // Between records, where the walks read on alike, the bytes on which
    // every save agrees would give leaves that agree: the walks go on
    // without making them, up to the first byte that differs.
    void pass_over_agreeing_bytes()
    {
        starts_.clear();
        const side* first = nullptr;
        for (std::size_t save = 0; save < sides_.size() && !windows_.empty(); ++save) {
            const side& current = sides_[save];
            if (!in_play(save)) {
                continue;
            }
            // A save whose numbers run ahead of the first's by the shift its
            // aligned lists made reads the same bytes as the same leaves,
            // their object numbers but for that shift.
            if (!current.between_records() ||
                (first != nullptr && !current.walk->reads_on_like(*first->walk, first->numbers.shift() - current.numbers.shift(),
                                                      first->list_shift() - current.list_shift()))) {
                return;
            }
            first = first != nullptr ? first : &current;
            starts_.emplace_back(windows_[save].get(), current.walk->offset());
        }
        if (starts_.size() < 2) {
            return;
        }
        std::vector<std::uint16_t>& next_numbers = next_numbers_;
        next_numbers.clear();
        bool shifted = false;
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            if (in_play(save)) {
                next_numbers.push_back(static_cast<std::uint16_t>(sides_[save].walk->object_counter() + 1));
                shifted = shifted || sides_[save].numbers.shift() != first->numbers.shift();
            }
        }
        try {
            const std::uint64_t agreeing = shifted ? agreeing_without(starts_, next_numbers) : agreeing_length(starts_);
            for (std::size_t save = 0, at = 0; save < sides_.size(); ++save) {
                if (in_play(save)) {
                    sides_[save].walk->leaves_from(starts_[at++].second + agreeing);
                }
            }
        } catch (const io_failure&) {
            windows_.clear(); // the walks will name what fails; the leaves are compared one by one
        }
    }

    leaf_place place_of(std::size_t save)
    {
        return sides_[save].has_leaf() ? alignment_place_of(sides_[save].leaf()) : sides_[save].last;
    }

    // Every save has a leaf here: they stand alike where their leaves'
    // places, names and parts in the stream's ending are alike.
    bool same_places(const std::vector<std::size_t>& live)
    {
        const field_leaf& first = sides_[live[0]].leaf();
        return std::all_of(live.begin() + 1, live.end(), [&](std::size_t save) {
            const field_leaf& leaf = sides_[save].leaf();
            if (leaf.name != first.name || leaf.closes_stream != first.closes_stream) {
                return false;
            }
            return leaf.closes_stream ? std::ranges::equal(alignment_place_of(leaf).view(), alignment_place_of(first).view())
                                      : std::ranges::equal(leaf.place.view(), first.place.view());
        });
    }

    void take(std::size_t save)
    {
        sides_[save].last = alignment_place_of(sides_[save].leaf());
        sides_[save].advance();
    }

    // Takes the leaves of `save` that lie in `record`.
    void pass_over(std::size_t save, const leaf_place& record)
    {
        auto& current = sides_[save];
        while (current.has_leaf() && lies_in(alignment_place_of(current.leaf()).view(), record.view())) {
            if (current.leaf().sizes_list) {
                current.lone_list_size = current.leaf();
            }
            take(save);
        }
    }

    void compare_leaves(const std::vector<std::size_t>& live)
    {
        std::vector<const field_leaf*>& leaves = leaves_;
        leaves.clear();
        by_save_.assign(sides_.size(), nullptr);
        for (const auto save : live) {
            leaves.push_back(&sides_[save].leaf());
            by_save_[save] = leaves.back();
        }
        const field_leaf& first = *leaves[0];
        const auto all_of_type = [&](leaf_type type) {
            return std::all_of(leaves.begin(), leaves.end(), [&](const field_leaf* leaf) { return leaf->type == type; });
        };
        if (std::any_of(leaves.begin(), leaves.end(), [&](const field_leaf* leaf) { return leaf->slot != first.slot; })) {
            compare_slot(live, leaves);
            return;
        }
        if (all_of_type(leaf_type::raw)) {
            compare_elements<std::uint8_t>(live, leaves, leaf_type::raw);
        } else if (all_of_type(leaf_type::u16_array)) {
            compare_elements<std::uint16_t>(live, leaves, leaf_type::u16_array);
        } else if (!all_equal(live, leaves)) {
            writer_.values(path_of(first), by_save_);
            differed_ = true;
        }
        for (const auto save : live) {
            take(save);
        }
    }

    // Object numbers agree where they name the same object, each read
    // through its save's shift of the numbering.
    bool all_equal(const std::vector<std::size_t>& live, const std::vector<const field_leaf*>& leaves) const
    {
        const field_leaf& first = *leaves[0];
        const auto number_of = [&](std::size_t at) {
            const field_leaf& leaf = *leaves[at];
            const side& holder = sides_[live[at]];
            return leaf.names_object ? holder.numbers.in_other(leaf.number, holder.walk->object_counter()) : leaf.number;
        };
        const std::int64_t first_number = number_of(0);
        for (std::size_t at = 1; at < leaves.size(); ++at) {
            const field_leaf& leaf = *leaves[at];
            if (leaf.type != first.type || leaf.size != first.size || number_of(at) != first_number ||
                !std::ranges::equal(leaf.bytes, first.bytes)) {
                return false;
            }
        }
        return true;
    }

    // A slot that holds a reference in one save and a unit in another: one
    // line, and the units are passed over.
    void compare_slot(const std::vector<std::size_t>& live, const std::vector<const field_leaf*>& leaves)
    {
        std::vector<slot_column> columns(sides_.size());
        for (std::size_t at = 0; at < live.size(); ++at) {
            columns[live[at]] = {leaves[at]->slot, leaves[at]->number};
        }
        writer_.slot(path_of(leaves[0]->place.view()), leaves[0]->offset, columns);
        differed_ = true;
        // The rest of each slot is its unit, if it holds one.
        const leaf_place slot = leaves[0]->place;
        for (const auto save : live) {
            take(save);
            pass_over(save, slot);
        }
    }

    // Raw stretches byte by byte, the tail piece by piece, and a path's
    // points point by point; where one save's are longer (the tail, a path),
    // its further elements differ from the others' none.
    template <typename element>
    void compare_elements(const std::vector<std::size_t>& live, const std::vector<const field_leaf*>& leaves, leaf_type type)
    {
        run_gatherer runs(writer_, *leaves[0], type, by_save_);
        std::vector<element_source<element>> sources;
        for (std::size_t at = 0; at < live.size(); ++at) {
            const field_leaf& leaf = *leaves[at];
            if constexpr (std::is_same_v<element, std::uint8_t>) {
                sources.push_back({&sides_[live[at]], leaf.size, leaf.bytes, 0, leaf.bytes.size() < leaf.size});
            } else {
                sources.push_back({&sides_[live[at]], leaf.words.size(), leaf.words, 0, false});
            }
        }
        const auto by_size = [](const auto& a, const auto& b) { return a.size < b.size; };
        const std::uint64_t shortest = std::min_element(sources.begin(), sources.end(), by_size)->size;
        const std::uint64_t longest = std::max_element(sources.begin(), sources.end(), by_size)->size;
        const auto values = [&](std::uint64_t at) -> const run_gatherer::values_at& {
            values_.assign(sides_.size(), std::nullopt);
            for (std::size_t index = 0; index < sources.size(); ++index) {
                if (at < sources[index].size) {
                    sources[index].reach(at);
                }
                if (sources[index].has(at)) {
                    values_[live[index]] = sources[index].held[static_cast<std::size_t>(at - sources[index].start)];
                }
            }
            return values_;
        };
        std::uint64_t at = 0;
        while (at < shortest) {
            const std::uint64_t stretch_end = reach_all(sources, at, shortest);
            if (stretch_end == at) {
                // A source came short of its leaf's size: one by one.
                const auto& held = values(at);
                if (std::all_of(live.begin(), live.end(), [&](std::size_t save) { return held[save] == held[live[0]]; })) {
                    runs.close();
                } else {
                    runs.differ(at, at, values);
                }
                ++at;
                continue;
            }
            std::vector<const element*> firsts;
            for (const auto& source : sources) {
                firsts.push_back(source.held.data() + (at - source.start));
            }
            compare_stretch(runs, firsts, at, stretch_end, values);
            at = stretch_end;
        }
        // Past the shortest every element differs, as some save has none
        // there: one run to the end, whose first elements are shown.
        if (at < longest) {
            runs.differ(at, longest - 1, values);
        }
        runs.close();
        differed_ = differed_ || runs.any();
    }

    // Brings every source to position `at` and returns where the stretch
    // that all of them hold in their pieces at hand ends (at itself when a
    // source lacks the position).
    template <typename element>
    static std::uint64_t reach_all(std::vector<element_source<element>>& sources, std::uint64_t at, std::uint64_t shortest)
    {
        std::uint64_t end = shortest;
        for (auto& source : sources) {
            if (at < source.size) {
                source.reach(at);
            }
            if (!source.has(at)) {
                return at;
            }
            end = std::min(end, source.start + source.held.size());
        }
        return end;
    }

    // The saves stand at different places: find the record one of them
    // holds alone and pass over it, or the record they share whose fields
    // stop matching.
    void part_ways(const std::vector<std::size_t>& live)
    {
        std::vector<leaf_place> places(sides_.size());
        std::vector<std::size_t> placed; // live saves, and saves that ended whole
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            if (in_play(save)) {
                places[save] = place_of(save);
                placed.push_back(save);
            }
        }
        std::size_t depth = places[placed[0]].depth;
        for (const auto save : placed) {
            depth = std::min(depth, shared_length(places[save].view(), places[placed[0]].view()));
        }
        std::vector<std::size_t> behind = still_inside(live, places);
        bool known = true;
        if (behind.empty()) {
            behind = {live[0]};
            known = places[live[0]].depth > depth;
            for (std::size_t at = 1; known && at < live.size(); ++at) {
                const auto save = live[at];
                if (places[save].depth <= depth) {
                    known = false;
                    break;
                }
                switch (order_of_parts(places[save].parts[depth], places[behind[0]].parts[depth])) {
                case place_order::before:
                    behind = {save};
                    break;
                case place_order::same:
                    behind.push_back(save);
                    break;
                case place_order::after:
                    break;
                case place_order::unknown:
                    known = false;
                    break;
                }
            }
        }
        if (!known && depth > 0) {
            differ_in_shape(live, places, depth);
            return;
        }
        if (!known) {
            behind = {live[0]};
        }
        if (behind.size() == 1 && compare_closing_size(behind[0])) {
            return;
        }
        name_lone_record(behind, places, depth);
    }

    // Saves that stood at one place a step ago part where some go on inside
    // the record they were in and the others leave it for one of another
    // kind, or back to a part of the same kind with a lower number (a linked
    // unit's unkf1_extra in one save, the word after the linked unit one
    // level up in the other): those still inside hold more of it and are
    // behind. Saves that go on to the next part of the same kind (the next
    // slot, a deeper level of a chain) are left to the order of places.
    // Empty when this does not tell.
    std::vector<std::size_t> still_inside(const std::vector<std::size_t>& live, const std::vector<leaf_place>& places) const
    {
        if (live.size() < 2) {
            return {};
        }
        const leaf_place& last = sides_[live[0]].last;
        std::size_t deepest = 0;
        std::size_t shallowest = SIZE_MAX;
        for (const auto save : live) {
            if (!std::ranges::equal(sides_[save].last.view(), last.view())) {
                return {};
            }
            const std::size_t kept = shared_length(places[save].view(), last.view());
            if (kept < places[save].depth && kept < last.depth && places[save].parts[kept].name == last.parts[kept].name &&
                places[save].parts[kept].index > last.parts[kept].index) {
                return {};
            }
            deepest = std::max(deepest, kept);
            shallowest = std::min(shallowest, kept);
        }
        std::vector<std::size_t> behind;
        for (const auto save : live) {
            if (deepest > shallowest && shared_length(places[save].view(), last.view()) == deepest) {
                behind.push_back(save);
            }
        }
        return behind;
    }

    // The saves behind hold a record the others have not: the part where
    // they part, or, when they had been inside that part already (a slot
    // whose number both saves have), the first part below it that they had
    // not been in.
    void name_lone_record(const std::vector<std::size_t>& behind, const std::vector<leaf_place>& places, std::size_t depth)
    {
        std::vector<bool> present(sides_.size(), false);
        std::vector<leaf_place> records;
        for (const auto save : behind) {
            leaf_place record = places[save];
            record.depth = std::min(depth + 1, places[save].depth);
            // The closing size is no list: it is named by its own path.
            while (record.depth < places[save].depth &&
                   (lies_in(sides_[save].last.view(), record.view()) || sides_[save].leaf().closes_stream)) {
                ++record.depth;
            }
            records.push_back(record);
            present[save] = true;
        }
        const field_leaf& first = sides_[behind[0]].leaf();
        const std::string path = path_of(first, records[0].depth);
        const std::uint64_t offset = first.offset;
        // A level of a chain some saves lack: the deeper levels and the
        // words that close them lie within it in the file, and are named
        // with it.
        const bool levels = first.chain_level > 0 && records[0].depth == first.unit_depth;
        const std::size_t slot_part = slot_part_of(records[0].view());
        const bool in_unit = slot_part != 0 && slot_part + 1 < records[0].depth;
        std::vector<std::uint16_t> counters_before(sides_.size());
        for (const auto save : behind) {
            counters_before[save] = sides_[save].walk->object_counter_before_record();
        }
        writer_.only_in(path, offset, present);
        differed_ = true;
        for (std::size_t at = 0; at < behind.size(); ++at) {
            pass_over(behind[at], records[at]);
            if (levels) {
                pass_over_while_before_others(behind[at], present);
            }
        }
        if (in_unit) {
            follow_numbering_past(present, counters_before, path, offset);
        }
        if (!numbering_start_followed_) {
            front_lone_record_.emplace(path, offset);
        }
    }

    // The stream's numbering begins after the objects the groups make (the
    // unit class index), so an updates row with values or a post-update
    // record more in one save numbers all of its stream's objects higher.
    // Once every save in play has read its groups, each save's numbers map
    // to the first save's by where their counters begin, said once, on the
    // record one save held alone there.
    void follow_numbering_start()
    {
        if (numbering_start_followed_) {
            return;
        }
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            // Every save's groups compared first: the line follows theirs.
            const auto start = sides_[save].walk->numbering_start();
            if (in_play(save) && (!start || (sides_[save].has_leaf() && sides_[save].leaf().offset < start->offset))) {
                return;
            }
        }
        numbering_start_followed_ = true;
        const auto before = shifts_now();
        counters_at counters(sides_.size());
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            if (in_play(save)) {
                counters[save] = sides_[save].walk->numbering_start()->object_counter;
            }
        }
        realign_numbering(counters);
        if (front_lone_record_) {
            say_shifts_changed(counters, before, front_lone_record_->first, front_lone_record_->second);
        }
    }

    // Each save's numbers, from where its counter stands at one point of
    // the files (counters[save]; none for a save not compared there), map to
    // what those of the first save with a counter there map to. That save's
    // own map stays: where save 0 has left the comparison, it still reads
    // the others' numbers in save 0's numbering.
    using counters_at = std::vector<std::optional<std::int64_t>>;
    void realign_numbering(const counters_at& counters)
    {
        const auto first = static_cast<std::size_t>(
            std::ranges::find_if(counters, [](const auto& counter) { return counter.has_value(); }) - counters.begin());
        if (first == counters.size()) {
            return;
        }
        const std::int64_t target = *counters[first] + sides_[first].numbers.shift();
        for (std::size_t save = first + 1; save < sides_.size(); ++save) {
            if (counters[save]) {
                sides_[save].numbers.shift_from(static_cast<std::uint32_t>(*counters[save]) + 1, target - *counters[save], true);
            }
        }
    }

    std::vector<std::int64_t> shifts_now() const
    {
        std::vector<std::int64_t> shifts;
        for (const auto& save : sides_) {
            shifts.push_back(save.numbers.shift());
        }
        return shifts;
    }

    // One line, under `path`, with the shift of each save `shown` (those
    // with a value there), where one of them changed since `before`.
    template <typename shown_saves>
    void say_shifts_changed(const shown_saves& shown, const std::vector<std::int64_t>& before, std::string_view path, std::uint64_t offset)
    {
        std::vector<std::optional<std::int64_t>> shifts(sides_.size());
        bool changed = false;
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            if (shown[save]) {
                shifts[save] = -sides_[save].numbers.shift();
                changed = changed || sides_[save].numbers.shift() != before[save];
            }
        }
        if (changed) {
            writer_.numbering(path, offset, shifts);
        }
    }

    // Takes the leaves of `save` that come before the places where every
    // other save in play stands.
    void pass_over_while_before_others(std::size_t save, const std::vector<bool>& holders)
    {
        const auto before_others = [&] {
            const leaf_place mine = alignment_place_of(sides_[save].leaf());
            for (std::size_t other = 0; other < sides_.size(); ++other) {
                if (!holders[other] && in_play(other) && order_of_places(mine.view(), place_of(other).view()) != place_order::before) {
                    return false;
                }
            }
            return true;
        };
        while (sides_[save].has_leaf() && before_others()) {
            take(save);
        }
    }

    // Objects of a record that only the `holders` hold (an inline path, the
    // linked units of a chain's deeper levels) took numbers the other saves
    // never gave: from here on each save's numbers map to the first save's
    // by where their counters stand, and a shift that changed is said once.
    // Within the record, a save's objects have their counterparts in the
    // first save's only where the first save holds it too.
    void follow_numbering_past(const std::vector<bool>& holders, const std::vector<std::uint16_t>& counters_before,
                               std::string_view path, std::uint64_t offset)
    {
        std::size_t first = 0;
        while (first < sides_.size() && !in_play(first)) {
            ++first;
        }
        bool numbered = false;
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            numbered = numbered || (holders[save] && sides_[save].counter_at_leaf() != counters_before[save]);
        }
        if (first == sides_.size() || !numbered) {
            return;
        }
        const auto before = shifts_now();
        counters_at counters(sides_.size());
        for (std::size_t save = first; save < sides_.size(); ++save) {
            if (!in_play(save)) {
                continue;
            }
            // In the numbering the first save's numbers map to, as realign_numbering maps the rest.
            if (holders[save] && save != first) {
                const std::int64_t first_before = std::int64_t{counters_before[first]} + sides_[first].numbers.shift();
                sides_[save].numbers.shift_from(std::uint32_t{counters_before[save]} + 1, first_before - counters_before[save], holders[first]);
            }
            counters[save] = sides_[save].counter_at_leaf();
        }
        realign_numbering(counters);
        say_shifts_changed(counters, before, path, offset);
    }

    // A save's stream that closes with a list size of 0 where another save's
    // list of that number, which it held alone, ended its stream with the
    // file: both hold the leaf, with their values.
    bool compare_closing_size(std::size_t save)
    {
        const field_leaf& closing = sides_[save].leaf();
        if (!closing.closes_stream) {
            return false;
        }
        std::vector<const field_leaf*> shown(sides_.size(), nullptr);
        bool shared = false;
        for (std::size_t other = 0; other < sides_.size(); ++other) {
            const auto& kept = sides_[other].lone_list_size;
            if (other == save) {
                shown[other] = &closing;
            } else if (in_play(other) && !sides_[other].has_leaf() && kept &&
                       std::ranges::equal(kept->place.view(), closing.place.view())) {
                shown[other] = &*kept;
                shared = true;
            }
        }
        if (!shared) {
            return false;
        }
        writer_.values(path_of(closing), shown);
        differed_ = true;
        take(save);
        return true;
    }

    void differ_in_shape(const std::vector<std::size_t>& live, const std::vector<leaf_place>& places, std::size_t depth)
    {
        leaf_place record = places[live[0]];
        record.depth = depth;
        std::vector<std::optional<std::string>> where(sides_.size());
        for (const auto save : live) {
            where[save] = path_of(places[save].view().subspan(std::min(depth, places[save].depth)));
        }
        writer_.shape(path_of(sides_[live[0]].leaf(), depth), sides_[live[0]].leaf().offset, where);
        differed_ = true;
        for (const auto save : live) {
            pass_over(save, record);
        }
    }

    // Every save stands at the size of one list, and the sizes differ:
    // slots were added or removed.
    bool opens_lists_of_other_sizes(const std::vector<std::size_t>& live)
    {
        const field_leaf& first = sides_[live[0]].leaf();
        return live.size() > 1 && first.sizes_list && !first.closes_stream &&
               std::any_of(live.begin() + 1, live.end(), [&](std::size_t save) {
                   const field_leaf& size = sides_[save].leaf();
                   return size.sizes_list && !size.closes_stream && size.number != first.number;
               }) &&
               scouts_open(live);
    }

    // Each save's scout, opened the first time a list is aligned. A save
    // that cannot be opened a second time leaves the lists compared slot by
    // slot.
    bool scouts_open(const std::vector<std::size_t>& live)
    {
        try {
            for (const auto save : live) {
                if (!sides_[save].scout.is_open()) {
                    sides_[save].scout.open(sides_[save].path);
                }
            }
            return true;
        } catch (const io_failure&) {
            return false;
        }
    }

    // Every save stands at a list whose size differs: each save's list is
    // read ahead, and where its slots find partners in the first save's,
    // they are aligned; where they do not, the lists ahead may tell that
    // the list is one some saves hold alone.
    void align_lists_or_slots(const std::vector<std::size_t>& live)
    {
        std::vector<scouted_list> lists(sides_.size());
        for (const auto save : live) {
            lists[save] = sides_[save].scout.read_list(sides_[save].leaf(), sides_[save].numbers);
        }
        const aligned_slots rows(lists, live);
        if (lists_partnered(rows, lists, live) || !align_lone_lists(live)) {
            align_list(live, lists, rows);
        }
    }

    // A list whose size differs between the saves may be one that only
    // some of them hold, before lists every save holds: the lists ahead of
    // each save, read for their keys, tell. Each list held alone is named in
    // one line and passed over, the numbering its objects shift is followed,
    // and the lists after it are compared with their partners, under the
    // first save's list numbers. False where the lists ahead tell no such
    // thing (or the walks cannot see that far): the list's slots are aligned
    // instead.
    bool align_lone_lists(const std::vector<std::size_t>& live)
    {
        std::vector<std::span<const list_ahead>> ahead(sides_.size());
        std::vector<bool> to_stream_end(sides_.size(), false);
        for (const auto save : live) {
            side& current = sides_[save];
            if (!lists_ahead_open(current)) {
                return false;
            }
            ahead[save] = current.ahead.from(current.leaf().offset, current.numbers, current.walk->object_counter());
            if (ahead[save].empty()) {
                return false;
            }
            to_stream_end[save] = current.ahead.seen_to_stream_end();
        }
        const auto rows = lists_before_partners(ahead, to_stream_end, live);
        if (rows.empty()) {
            return false;
        }
        const std::size_t first = live[0];
        const list_row& partners = rows.back();
        const auto lone_rows = std::span(rows).first(rows.size() - 1);
        const auto shifts_before = shifts_now();
        std::optional<std::pair<std::string, std::uint64_t>> named_first;
        for (const auto& row : lone_rows) {
            const auto name = name_lone_list(ahead, row, live);
            named_first = named_first ? named_first : name;
        }
        follow_numbering_past_lists(ahead, rows, live);
        if (named_first) {
            std::vector<bool> shown(sides_.size(), false);
            for (const auto save : live) {
                shown[save] = true;
            }
            say_shifts_changed(shown, shifts_before, named_first->first, named_first->second);
        }
        const std::int64_t shown = sides_[first].shown_list(ahead[first][static_cast<std::size_t>(partners[first])].number);
        for (const auto save : live) {
            const list_ahead& partner = ahead[save][static_cast<std::size_t>(partners[save])];
            if (partners[save] > 0) {
                pass_over_to(sides_[save], partner.offset);
            }
            if (save != first && sides_[save].shown_list(partner.number) != shown) {
                sides_[save].renumber_lists(list_renumbering{partner.number, shown - partner.number});
            }
        }
        return true;
    }

    bool lists_ahead_open(side& save)
    {
        try {
            if (!save.ahead.is_open()) {
                save.ahead.open(save.path);
            }
            return true;
        } catch (const io_failure&) {
            return false;
        }
    }

    // A list only some saves hold: one line naming what it holds, under
    // the number its first holder shows it; the line's path and offset.
    std::pair<std::string, std::uint64_t> name_lone_list(const std::vector<std::span<const list_ahead>>& ahead, const list_row& row,
                                                         const std::vector<std::size_t>& live)
    {
        std::vector<bool> present(sides_.size(), false);
        std::optional<std::size_t> holder;
        for (const auto save : live) {
            if (row[save] != aligned_slots::none) {
                present[save] = true;
                holder = holder ? holder : save;
            }
        }
        const list_ahead& list = ahead[*holder][static_cast<std::size_t>(row[*holder])];
        leaf_place place = sides_[*holder].leaf().place;
        const std::size_t part = list_part_of(place.view());
        place.depth = part + 1;
        place.parts[part].index = sides_[*holder].shown_list(list.number);
        lone_list named{path_of(place.view()), list.offset, list.slots, list.units};
        writer_.only_in(named, present);
        differed_ = true;
        return {std::move(named.path), named.offset};
    }

    // The objects of the lists in `rows`, as the slots' of an aligned list:
    // those of a list the first save holds too take its numbers, those of a
    // list it has not none of them, and the numbers after the last row go
    // on from where each save's partner of the first save's list begins.
    void follow_numbering_past_lists(const std::vector<std::span<const list_ahead>>& ahead, const std::vector<list_row>& rows,
                                     const std::vector<std::size_t>& live)
    {
        const std::size_t first = live[0];
        for (const auto& row : rows) {
            const bool partnered = row[first] != aligned_slots::none;
            for (const auto save : live) {
                if (save == first || row[save] == aligned_slots::none) {
                    continue;
                }
                const auto own = ahead[save][static_cast<std::size_t>(row[save])].counter_before;
                const auto first_counter = partnered ? ahead[first][static_cast<std::size_t>(row[first])].counter_before : own;
                sides_[save].numbers.shift_from(std::uint32_t{own} + 1, std::int64_t{first_counter} - own, partnered);
            }
        }
    }

    // A list whose size differs between the saves: its slots are read
    // ahead by each save's scout, aligned by their keys to the first
    // save's, and compared row by row, a slot only some saves hold named in
    // one line. One list's keys at a time are held.
    void align_list(const std::vector<std::size_t>& live, const std::vector<scouted_list>& lists, const aligned_slots& rows)
    {
        const auto shifts_before = shifts_now();
        const field_leaf& size = sides_[live[0]].leaf();
        const leaf_place list_place = size.place;
        const std::int64_t list_number = list_place.parts[list_place.depth - 1].index;
        const std::uint64_t list_offset = size.offset;
        compare_leaves(live);
        std::vector<std::int64_t> own_slots(sides_.size(), aligned_slots::none);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            std::vector<std::size_t> holding;
            for (const auto save : live) {
                if (rows.slot(row, save) != aligned_slots::none && !sides_[save].retired) {
                    holding.push_back(save);
                }
            }
            if (holding.empty()) {
                continue;
            }
            shift_numbering(lists, live[0], holding, row, rows);
            const auto staying = std::count_if(live.begin(), live.end(), [&](std::size_t save) { return !sides_[save].retired; });
            if (static_cast<std::size_t>(staying) == holding.size() && keys_agree(lists, holding, row, rows)) {
                // The same content but for the numbers, which the shift
                // maps: passed over, up to the next row whose keys differ.
                std::size_t last = row;
                while (last + 1 < rows.size() && keys_agree(lists, holding, last + 1, rows)) {
                    shift_numbering(lists, live[0], holding, ++last, rows);
                }
                for (const auto save : holding) {
                    pass_over_to(sides_[save], lists[save].offset_of(static_cast<std::size_t>(rows.slot(last, save)) + 1));
                }
                row = last;
            } else if (static_cast<std::size_t>(staying) == holding.size()) {
                for (const auto save : holding) {
                    own_slots[save] = rows.slot(row, save);
                }
                compare_aligned_slot(holding, list_number, own_slots);
            } else {
                name_lone_slot(holding);
            }
        }
        // After the list, the numbers go on from where each save's list
        // ended; a shift that changed here is said once.
        // A save that broke in the list read only part of it: it has no
        // shift after it, nor has any save against a first save that broke.
        settle_ends();
        counters_at counters(sides_.size());
        for (const auto save : live) {
            if (!sides_[save].retired && !sides_[live[0]].retired) {
                counters[save] = lists[save].counter_after;
            }
        }
        realign_numbering(counters);
        say_shifts_changed(counters, shifts_before, path_of(list_place.view()), list_offset);
    }

    // Every save holds the row's slot, and their keys agree.
    static bool keys_agree(const std::vector<scouted_list>& lists, const std::vector<std::size_t>& holding, std::size_t row,
                           const aligned_slots& rows)
    {
        const auto key_of = [&](std::size_t save) {
            const auto slot = rows.slot(row, save);
            return slot == aligned_slots::none ? std::optional<std::uint64_t>{}
                                               : lists[save].keys[static_cast<std::size_t>(slot)];
        };
        return std::all_of(holding.begin(), holding.end(), [&](std::size_t save) { return key_of(save) && key_of(save) == key_of(holding[0]); });
    }

    // The save's leaves before `offset` are not handed out: the walk reads
    // them without making them.
    static void pass_over_to(side& save, std::uint64_t offset)
    {
        while (save.at < save.record.size() && save.record[save.at].offset < offset) {
            save.advance();
        }
        if (save.at == save.record.size()) {
            save.walk->leaves_from(offset + 1); // not the leaf that ends there
        }
    }

    // The objects of a row's slots: those of saves whose slot is the first
    // save's partner take its numbers, those of a slot no partner holds
    // none of them.
    void shift_numbering(const std::vector<scouted_list>& lists, std::size_t first, const std::vector<std::size_t>& holding,
                         std::size_t row, const aligned_slots& rows)
    {
        const bool partnered = rows.slot(row, first) != aligned_slots::none;
        for (const auto save : holding) {
            const auto own_counter = lists[save].counters_before[static_cast<std::size_t>(rows.slot(row, save))];
            const auto first_counter =
                partnered ? lists[first].counters_before[static_cast<std::size_t>(rows.slot(row, first))] : own_counter;
            if (save != first) {
                sides_[save].numbers.shift_from(std::uint32_t{own_counter} + 1, std::int64_t{first_counter} - own_counter, partnered);
            }
        }
    }

    // A slot every save holds: its leaves compared as any others, each
    // save's placed under the first save's slot number. A save that leaves
    // the slot while another is still in it waits for the others: what they
    // still hold there is theirs alone.
    void compare_aligned_slot(const std::vector<std::size_t>& holding, std::int64_t list_number,
                              const std::vector<std::int64_t>& own_slots)
    {
        const std::int64_t shown = own_slots[holding[0]];
        for (const auto save : holding) {
            sides_[save].renumber(slot_renumbering{list_number, own_slots[save], shown});
        }
        const auto inside = [&](std::size_t save) {
            side& current = sides_[save];
            if (!in_play(save) || !current.has_leaf()) {
                return false;
            }
            const auto place = current.leaf().place.view();
            const std::size_t part = slot_part_of(place);
            return part != 0 && place[part - 1].index == list_number && place[part].index == shown;
        };
        std::vector<std::size_t> left;
        std::vector<std::size_t> in;
        for (;;) {
            settle_ends();
            in.clear();
            for (const auto save : holding) {
                if (inside(save)) {
                    in.push_back(save);
                } else if (in_play(save)) {
                    sides_[save].parked = true;
                    left.push_back(save);
                }
            }
            if (in.empty()) {
                break;
            }
            if (in.size() == 1) {
                name_rest_of_slot(in[0], left);
            } else if (same_places(in)) {
                compare_leaves(in);
            } else {
                part_ways(in);
            }
        }
        for (const auto save : left) {
            sides_[save].parked = false;
        }
        for (const auto save : holding) {
            sides_[save].renumber(std::nullopt);
        }
    }

    // The one save still in a slot the others have left: the record it
    // holds alone, named below where their last leaves and its own part.
    void name_rest_of_slot(std::size_t save, const std::vector<std::size_t>& left)
    {
        std::vector<leaf_place> places(sides_.size());
        places[save] = alignment_place_of(sides_[save].leaf());
        leaf_place slot = places[save];
        slot.depth = slot_part_of(slot.view()) + 1;
        if (left.empty()) {
            pass_over(save, slot); // the others broke: nothing to compare it with
            return;
        }
        std::size_t depth = places[save].depth;
        for (const auto other : left) {
            depth = std::min(depth, shared_length(places[save].view(), sides_[other].last.view()));
        }
        name_lone_record({save}, places, std::max(depth, slot.depth));
    }

    // A slot only some saves hold: one line naming what it holds, the unit
    // and its type or the object referred to, and the slot passed over.
    void name_lone_slot(const std::vector<std::size_t>& holding)
    {
        std::vector<bool> present(sides_.size(), false);
        std::optional<lone_slot> named;
        for (const auto save : holding) {
            side& current = sides_[save];
            if (!current.has_leaf()) {
                continue;
            }
            leaf_place slot = current.leaf().place;
            slot.depth = slot_part_of(slot.view()) + 1;
            present[save] = true;
            if (!named) {
                named = lone_slot{path_of(slot.view()), current.leaf().offset, current.leaf().slot, current.leaf().number, {}};
            }
            while (current.has_leaf() && lies_in(current.leaf().place.view(), slot.view())) {
                const field_leaf& leaf = current.leaf();
                if (leaf.names_unit_type && leaf.chain_level == 0 && named->unit_type.empty() && save == holding[0]) {
                    named->unit_type = leaf.note;
                }
                take(save);
            }
        }
        if (named) {
            writer_.only_in(*named, present);
            differed_ = true;
        }
    }

    std::vector<side>& sides_;
    diff_writer& writer_;
    std::vector<std::unique_ptr<byte_window>> windows_; // each save's bytes ahead of its walk
    std::vector<std::pair<byte_window*, std::uint64_t>> starts_;
    std::vector<std::uint16_t> next_numbers_; // each save's next object, where the bytes agree
    std::vector<const field_leaf*> leaves_;            // of the saves compared, kept from leaf to leaf
    std::vector<const field_leaf*> by_save_;           // the same by save, null where not compared
    std::vector<std::optional<std::uint16_t>> values_; // an element of each save
    std::vector<std::size_t> broken_;
    bool differed_ = false;
    bool numbering_start_followed_ = false;
    // The last record a save held alone before the stream's numbering began.
    std::optional<std::pair<std::string, std::uint64_t>> front_lone_record_;
};

} // namespace

int diff_saves(const std::vector<std::string>& saves, bool json, output_stream& out)
{
    // Declared first, the inputs go last: a spooled input's file is removed
    // once nothing reads it.
    std::vector<std::unique_ptr<save_input>> inputs;
    std::vector<side> sides(saves.size());
    bool unreadable = false;
    for (std::size_t save = 0; save < saves.size(); ++save) {
        inputs.push_back(save_input::prepare(saves[save]));
        if (!inputs.back()) {
            unreadable = true;
            continue;
        }
        try {
            sides[save].path = inputs.back()->path();
            sides[save].walk = std::make_unique<save_walk>(sides[save].path);
        } catch (const failure& failed) {
            report_problem(saves[save], failed.message());
            unreadable = true;
        }
    }
    if (unreadable) {
        return exit_trouble;
    }
    // The second reading is a speed-up alone: without it every leaf is
    // compared.
    std::vector<std::unique_ptr<byte_window>> windows;
    try {
        for (const auto& input : inputs) {
            windows.push_back(std::make_unique<byte_window>(input->path()));
        }
    } catch (const io_failure&) {
        windows.clear();
    }
    diff_writer writer(out, json);
    writer.saves(saves);
    comparison compared(sides, writer, std::move(windows));
    compared.run();
    if (!out.flush()) {
        platform::write_standard_error("orbse-fields: standard output could not be written\n");
        return exit_trouble;
    }
    for (const auto save : compared.broken_saves()) {
        report_problem(saves[save], "damaged save: " + sides[save].walk->summary().broken->message);
    }
    return compared.differed() || !compared.broken_saves().empty() ? exit_damaged : exit_done;
}

} // namespace orbse::fields
