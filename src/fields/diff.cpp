// orbse-fields diff: the leaves of several saves side by side, in file
// order, and the ones whose values differ. A byte diff says nothing once one
// unit more early in the stream shifts every later byte; the leaves' paths
// do not shift, so they are what the saves are aligned by.
//
// Each save is walked on a thread of its own (leaf_streams.h); this side
// takes one leaf from each in step. Where every save stands at the same
// path, the values are compared. Where they do not, the saves' structures
// part: a list, a slot, a unit's path or an updates row's values is there in
// some saves only. The paths then tell which save is behind (slots[3] comes
// before slots[4], a unit's path before its unit_class), and the record it
// holds alone is named in one line and passed over, after which the saves
// stand at the same path again. Where the paths tell nothing (a chain of
// linked units of another depth), the record the saves still share is
// passed over whole and named as differing in shape.
#include "fields/agreement_map.h"
#include "fields/commands.h"
#include "fields/diff_lines.h"
#include "fields/leaf_streams.h"
#include "runtime/data_file.h"
#include "runtime/failures.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>

namespace orbse::fields {
namespace {

// One part of a path, and where it ends in the path's text.
struct path_part {
    std::string_view name;
    std::int64_t index = -1;
    std::size_t end = 0;
};

std::vector<path_part> parts_of(std::string_view path)
{
    std::vector<path_part> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('.', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        path_part part;
        part.name = path.substr(begin, end - begin);
        part.end = end;
        const std::size_t bracket = part.name.find('[');
        if (bracket != std::string_view::npos && part.name.ends_with(']')) {
            std::int64_t index = 0;
            const auto digits = part.name.substr(bracket + 1, part.name.size() - bracket - 2);
            if (std::from_chars(digits.data(), digits.data() + digits.size(), index).ec == std::errc{}) {
                part.index = index;
            }
            part.name = part.name.substr(0, bracket);
        }
        parts.push_back(part);
        begin = end + 1;
    }
    return parts;
}

// How many leading elements of `a` and `b` are equal, of the first `count`.
// Most compared stretches agree whole, which memcmp tells fastest.
template <typename element>
std::size_t common_prefix(const element* a, const element* b, std::size_t count)
{
    if (std::memcmp(a, b, count * sizeof(element)) == 0) {
        return count;
    }
    return static_cast<std::size_t>(std::mismatch(a, a + count, b).first - a);
}

// A stretch of `length` elements that every save holds, save i's from
// firsts[i]: how many leading elements agree in all saves.
template <typename element>
std::size_t agreeing_length(const std::vector<const element*>& firsts, std::size_t length)
{
    for (std::size_t save = 1; save < firsts.size(); ++save) {
        length = common_prefix(firsts[0], firsts[save], length);
    }
    return length;
}

// The same stretch, whose first elements differ: how many lead to the next
// element on which every save agrees again (all of them when none does).
template <typename element>
std::size_t differing_length(const std::vector<const element*>& firsts, std::size_t length)
{
    for (std::size_t at = 1; at < length; ++at) {
        if (std::all_of(firsts.begin() + 1, firsts.end(), [&](const element* first) { return first[at] == firsts[0][at]; })) {
            return at;
        }
    }
    return length;
}

bool lies_in(std::string_view path, std::string_view record)
{
    return path.starts_with(record) && (path.size() == record.size() || path[record.size()] == '.');
}

std::string_view key_of(const streamed_leaf& leaf) { return fields::key_of(leaf.type, leaf.path, leaf.number); }

// Records that one save may have where another has the next one: each row
// in file order. Numbered parts are in order by their numbers (except the
// levels of a chain of linked units, whose paths come back to a level after
// the deeper ones).
constexpr std::array<std::array<std::string_view, 9>, 5> orders_of_records{{
    {"header", "pass_layer", "resource_layer", "players", "block40", "block36", "groups", "units", "tail"},
    {"alien_player", "reserved", "version_69_byte", "save_date"}, // in the header, by version
    {"updates", "post_updates"},                                  // in a group: row 92's values
    {"path", "unit_class"},                                       // in a unit: its inline path
    {"lists", "end"},                                             // in the unit stream
}};

enum class order { before, same, after, unknown };

order rank_order(std::string_view a, std::string_view b)
{
    for (const auto& row : orders_of_records) {
        const auto first = std::find(row.begin(), row.end(), a);
        const auto second = std::find(row.begin(), row.end(), b);
        if (first != row.end() && second != row.end() && !a.empty() && !b.empty()) {
            return first < second ? order::before : order::after;
        }
    }
    return order::unknown;
}

order order_of(const path_part& a, const path_part& b)
{
    if (a.name != b.name) {
        return rank_order(a.name, b.name);
    }
    if (a.index == b.index) {
        return order::same;
    }
    if (a.index < 0 || b.index < 0 || a.name == "linked") {
        return order::unknown;
    }
    return a.index < b.index ? order::before : order::after;
}

// Elements of a leaf that differ between the saves, gathered into runs of
// consecutive elements, each written as one line.
class run_gatherer {
public:
    run_gatherer(diff_writer& writer, std::string path, leaf_type type, std::vector<std::optional<std::uint64_t>> starts)
        : writer_(writer), path_(std::move(path)), type_(type), starts_(std::move(starts)), columns_(starts_.size())
    {
    }

    // Element `at` differs; values[save] is the save's element, if it has one.
    void differs(std::uint64_t at, const std::vector<std::optional<std::uint16_t>>& values)
    {
        if (!open_ || at != last_ + 1) {
            close();
            open_ = true;
            first_ = at;
            for (std::size_t save = 0; save < columns_.size(); ++save) {
                auto& column = columns_[save];
                column = run_column{};
                column.present = values[save].has_value();
                if (column.present) {
                    column.offset = *starts_[save] + at * element_size();
                }
            }
        }
        last_ = at;
        for (std::size_t save = 0; save < columns_.size(); ++save) {
            keep(columns_[save], values[save]);
        }
    }

    void close()
    {
        if (open_) {
            writer_.run(path_, type_, first_, last_, columns_);
            open_ = false;
        }
    }

    // Elements `first` to `last` differ; values(at) gives element `at` of
    // each save, asked for only while the run shows more of its elements.
    template <typename values_at>
    void differ(std::uint64_t first, std::uint64_t last, values_at&& values)
    {
        for (std::uint64_t at = first; at <= last; ++at) {
            if (open_ && at == last_ + 1 && last_ - first_ + 1 > raw_head_size) {
                last_ = last; // shows no more of itself: only lengthened
                return;
            }
            differs(at, values(at));
        }
    }

    bool any() const { return written_; }

private:
    std::uint64_t element_size() const { return type_ == leaf_type::u16_array ? 2 : 1; }

    void keep(run_column& column, const std::optional<std::uint16_t>& value)
    {
        written_ = true;
        if (!column.present || !value) {
            return;
        }
        constexpr std::size_t shown = raw_head_size;
        auto held = column.bytes.size() + column.words.size();
        if (held >= shown) {
            column.cut = true;
            return;
        }
        if (type_ == leaf_type::u16_array) {
            column.words.push_back(*value);
        } else {
            column.bytes.push_back(static_cast<std::uint8_t>(*value));
        }
    }

    diff_writer& writer_;
    std::string path_;
    leaf_type type_;
    std::vector<std::optional<std::uint64_t>> starts_;
    std::vector<run_column> columns_;
    bool open_ = false;
    bool written_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
};

// One save's side of a raw comparison: its bytes as the pieces come.
struct raw_source {
    leaf_stream* stream = nullptr;
    std::uint64_t size = 0;
    std::span<const std::uint8_t> bytes; // the piece at hand
    std::uint64_t start = 0;             // its position in the leaf
    bool pieces = false;

    // Makes the piece at hand hold position `at`, which the save has.
    void reach(std::uint64_t at)
    {
        while (pieces && at >= start + bytes.size()) {
            const auto piece = stream->next_piece();
            if (!piece) {
                size = start + bytes.size(); // fewer bytes came than the leaf said
                return;
            }
            start = piece->start;
            bytes = piece->bytes;
        }
    }
    bool has(std::uint64_t at) const { return at < size && at >= start && at < start + bytes.size(); }
};

class comparison {
public:
    // `skip_before`: the files hold the same bytes before it, so the walks
    // leave out the leaves there. `agreement` tells them where else.
    comparison(const std::vector<std::string>& saves, std::uint64_t skip_before, agreement_map& agreement,
               diff_writer& writer)
        : writer_(writer), agreement_(agreement)
    {
        for (const auto& save : saves) {
            sides_.push_back({std::make_unique<leaf_stream>(save, skip_before, &agreement), false, {}});
        }
    }

    void run()
    {
        while (!over_) {
            if (take_agreeing_slots() || take_agreeing_unit_data() || take_agreeing_skips() || take_agreeing_leaf()) {
                continue;
            }
            if (!settle_ends()) {
                return;
            }
            const std::size_t taking_part = gather_live();
            if (taking_part < 2 || live_.empty()) {
                return;
            }
            if (live_.size() == taking_part && same_keys(live_)) {
                compare_leaves(live_);
            } else {
                part_ways(live_);
            }
        }
    }

    bool differed() const { return differed_; }
    bool trouble() const { return trouble_; }
    // The breaks of the damaged saves, by save.
    const std::vector<std::pair<std::size_t, walk_break>>& breaks() const { return breaks_; }

private:
    struct side {
        std::unique_ptr<leaf_stream> stream;
        bool retired = false;  // broke: compared no further
        std::string last_key;  // of the last leaf taken
    };

    // Whether every save takes part and has a leaf: the steps that take the
    // same leaves of all saves at once ask this first.
    bool every_save_at_a_leaf()
    {
        return std::all_of(sides_.begin(), sides_.end(),
                           [](side& current) { return !current.retired && current.stream->has_leaf(); });
    }

    // The common step, decided without copying anything: every save takes
    // part and stands at a number or a name with the same path and value.
    bool take_agreeing_leaf()
    {
        if (!every_save_at_a_leaf()) {
            return false;
        }
        const streamed_leaf* first = nullptr;
        for (auto& current : sides_) {
            const streamed_leaf& leaf = current.stream->leaf();
            if (leaf.type == leaf_type::raw || leaf.type == leaf_type::u16_array) {
                return false;
            }
            if (first == nullptr) {
                first = &leaf;
            } else if (leaf.path != first->path || leaf.number != first->number || leaf.size != first->size ||
                       leaf.slot != first->slot || leaf.type != first->type ||
                       !std::equal(leaf.bytes.begin(), leaf.bytes.end(), first->bytes.begin(), first->bytes.end())) {
                return false;
            }
        }
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            take(save);
        }
        return true;
    }

    // Every save stands at the same slot of a run of references of the same
    // list: the slots on which they all agree are taken at once. A single
    // slot goes the common way.
    bool take_agreeing_slots()
    {
        if (!every_save_at_a_leaf()) {
            return false;
        }
        const reference_run* first = nullptr;
        std::size_t agreeing = 0;
        for (auto& current : sides_) {
            const reference_run* run = current.stream->run_ahead();
            if (run == nullptr) {
                return false;
            }
            if (first == nullptr) {
                first = run;
                agreeing = run->objects.size();
                continue;
            }
            if (run->list_path != first->list_path || run->first_slot != first->first_slot) {
                return false;
            }
            agreeing = common_prefix(first->objects.data(), run->objects.data(), std::min(agreeing, run->objects.size()));
        }
        if (agreeing < 2) {
            return false;
        }
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            take_slots(save, agreeing);
        }
        return true;
    }

    // Every save stands at the first leaf of the same unit's data: when the
    // bytes agree, so do all its leaves, and they are taken at once.
    bool take_agreeing_unit_data()
    {
        if (!every_save_at_a_leaf()) {
            return false;
        }
        const unit_data_block* first = nullptr;
        for (auto& current : sides_) {
            const unit_data_block* block = current.stream->unit_data_ahead();
            if (block == nullptr) {
                return false;
            }
            if (first == nullptr) {
                first = block;
            } else if (block->unit_path != first->unit_path ||
                       !std::equal(block->bytes.begin(), block->bytes.end(), first->bytes.begin(), first->bytes.end())) {
                return false;
            }
        }
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            take_unit_data(save);
        }
        return true;
    }

    // Every save still compared stands at the same list's size, at the same
    // offset, and its walk passes over what follows with the same object
    // counter: the walks read the same bytes from the same state, so the
    // leaves they left out are alike in all saves, and the skips are taken
    // at once. (A walk whose skip is not taken walks its save again.)
    bool take_agreeing_skips()
    {
        side* first = nullptr;
        std::uint16_t counter = 0;
        for (auto& current : sides_) {
            if (current.retired) {
                continue;
            }
            if (!current.stream->has_leaf()) {
                return false;
            }
            const auto skipping_with = current.stream->skip_after_current();
            if (!skipping_with) {
                return false;
            }
            const streamed_leaf& leaf = current.stream->leaf();
            if (first == nullptr) {
                first = &current;
                counter = *skipping_with;
                continue;
            }
            const streamed_leaf& first_leaf = first->stream->leaf();
            if (*skipping_with != counter || leaf.offset != first_leaf.offset || leaf.path != first_leaf.path ||
                leaf.number != first_leaf.number) {
                return false;
            }
        }
        if (first == nullptr) {
            return false;
        }
        if (agreement_.of_one_size() && agree_to_the_ends(*first)) {
            end_alike(*first);
            return true;
        }
        // Alike walks leave out alike leaves; anything else and the leaves
        // are taken one by one after all.
        const skip_end* first_end = nullptr;
        for (auto& current : sides_) {
            if (current.retired) {
                continue;
            }
            const skip_end* end = current.stream->skip_ahead();
            if (end == nullptr) {
                return false;
            }
            if (first_end == nullptr) {
                first_end = end;
            } else if (end->leaves != first_end->leaves || end->last_key != first_end->last_key) {
                return false;
            }
        }
        // The first skip's end goes with its stream's skip: the key is kept first.
        const std::string last_key(first_end->leaves > 0 ? std::string_view(first_end->last_key)
                                                         : key_of(first->stream->leaf()));
        for (auto& current : sides_) {
            if (!current.retired) {
                current.last_key = last_key;
                current.stream->take_skip();
            }
        }
        return true;
    }

    // Whether the files hold the same bytes from where the saves stand alike
    // to their ends. Meanwhile the walks but `walked` wait: if so, it alone
    // is needed.
    bool agree_to_the_ends(side& walked)
    {
        for (auto& current : sides_) {
            if (&current != &walked && !current.retired) {
                current.stream->hold();
            }
        }
        const bool alike = agreement_.agree_to_their_ends(walked.stream->leaf().offset);
        for (auto& current : sides_) {
            if (&current != &walked && !current.retired) {
                current.stream->go_on();
            }
        }
        return alike;
    }

    // The saves stand alike where the files hold the same bytes to their
    // ends: nothing more can differ, and they end alike. One walk, `walked`,
    // tells how; the others stop.
    void end_alike(side& walked)
    {
        for (auto& current : sides_) {
            if (&current != &walked && !current.retired) {
                current.stream.reset();
            }
        }
        const skip_end* skipped = walked.stream->skip_ahead();
        over_ = true;
        if (skipped != nullptr) {
            walked.stream->take_skip();
            if (walked.stream->has_leaf()) {
                return; // cannot be: the skip reaches the files' ends
            }
        }
        const stream_end& end = walked.stream->end();
        if (end.how == stream_end::kind::trouble) {
            report_problem(walked.stream->save(), end.problem);
            trouble_ = true;
            return;
        }
        for (std::size_t save = 0; end.broken && save < sides_.size(); ++save) {
            if (!sides_[save].retired) {
                record_break(save, *end.broken);
            }
        }
    }

    void record_break(std::size_t save, const walk_break& broken)
    {
        writer_.broken(save, broken);
        breaks_.emplace_back(save, broken);
    }

    // A save whose leaves have run out: a damaged one is reported where it
    // breaks and compared no further; trouble stops the comparison.
    bool settle_ends()
    {
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            auto& current = sides_[save];
            if (current.retired || current.stream->has_leaf()) {
                continue;
            }
            const stream_end& end = current.stream->end();
            if (end.how == stream_end::kind::trouble) {
                report_problem(current.stream->save(), end.problem);
                trouble_ = true;
                return false;
            }
            if (end.how == stream_end::kind::broken) {
                record_break(save, *end.broken);
                current.retired = true;
            }
        }
        return true;
    }

    // The saves still compared that have a leaf, into live_ (kept from step
    // to step: a step per leaf must not allocate); returns how many saves
    // are still compared.
    std::size_t gather_live()
    {
        live_.clear();
        std::size_t taking_part = 0;
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            if (!sides_[save].retired) {
                ++taking_part;
                if (sides_[save].stream->has_leaf()) {
                    live_.push_back(save);
                }
            }
        }
        return taking_part;
    }

    bool same_keys(const std::vector<std::size_t>& live)
    {
        const std::string_view first = key_of(sides_[live[0]].stream->leaf());
        return std::all_of(live.begin() + 1, live.end(),
                           [&](std::size_t save) { return key_of(sides_[save].stream->leaf()) == first; });
    }

    void take(std::size_t save)
    {
        auto& current = sides_[save];
        current.last_key.assign(key_of(current.stream->leaf()));
        current.stream->advance();
    }

    // Takes `count` slots of the run of references `save` stands in, the
    // current leaf first. References move no counter: only the last key
    // changes.
    void take_slots(std::size_t save, std::size_t count)
    {
        auto& current = sides_[save];
        const reference_run& run = *current.stream->run_ahead();
        current.last_key.assign(reference_paths(run.list_path).of(run.first_slot + count - 1));
        current.stream->skip_slots(count);
    }

    // Takes the unit data whose first leaf `save` stands at. None of its
    // leaves moves a counter: only the last key changes.
    void take_unit_data(std::size_t save)
    {
        auto& current = sides_[save];
        current.last_key.assign(current.stream->unit_data_ahead()->unit_path);
        current.last_key += '.';
        current.last_key += unit_layout_.pieces().back().name;
        current.stream->skip_unit_data();
    }

    // Takes the leaves of `save` that lie in `record`, a run of references
    // of a list in it and a unit's data at once.
    void pass_over(std::size_t save, std::string_view record)
    {
        const std::string kept(record);
        auto& stream = *sides_[save].stream;
        while (stream.has_leaf() && lies_in(key_of(stream.leaf()), kept)) {
            const reference_run* run = stream.run_ahead();
            const unit_data_block* block = stream.unit_data_ahead();
            if (run != nullptr && lies_in(run->list_path, kept)) {
                take_slots(save, run->objects.size());
            } else if (block != nullptr && lies_in(block->unit_path, kept)) {
                take_unit_data(save);
            } else {
                take(save);
            }
        }
    }

    void compare_leaves(const std::vector<std::size_t>& live)
    {
        std::vector<streamed_leaf>& leaves = leaves_;
        leaves.clear();
        for (const auto save : live) {
            leaves.push_back(sides_[save].stream->leaf());
        }
        const streamed_leaf& first = leaves[0];
        if (slot_contents_differ(leaves)) {
            compare_slot(live, leaves);
            return;
        }
        if (first.type == leaf_type::raw && all_of_type(leaves, leaf_type::raw)) {
            compare_raw(live, leaves);
            return;
        }
        if (first.type == leaf_type::u16_array && all_of_type(leaves, leaf_type::u16_array)) {
            compare_words(live, leaves);
        } else if (!all_equal(leaves)) {
            std::vector<const streamed_leaf*> shown(sides_.size(), nullptr);
            for (std::size_t at = 0; at < live.size(); ++at) {
                shown[live[at]] = &leaves[at];
            }
            writer_.values(first.path, shown);
            differed_ = true;
        }
        for (const auto save : live) {
            take(save);
        }
    }

    static bool all_of_type(const std::vector<streamed_leaf>& leaves, leaf_type type)
    {
        return std::all_of(leaves.begin(), leaves.end(), [&](const streamed_leaf& leaf) { return leaf.type == type; });
    }

    static bool all_equal(const std::vector<streamed_leaf>& leaves)
    {
        const streamed_leaf& first = leaves[0];
        return std::all_of(leaves.begin() + 1, leaves.end(), [&](const streamed_leaf& leaf) {
            return leaf.type == first.type && leaf.size == first.size && leaf.number == first.number &&
                   std::equal(leaf.bytes.begin(), leaf.bytes.end(), first.bytes.begin(), first.bytes.end());
        });
    }

    static bool slot_contents_differ(const std::vector<streamed_leaf>& leaves)
    {
        return std::any_of(leaves.begin() + 1, leaves.end(),
                           [&](const streamed_leaf& leaf) { return leaf.slot != leaves[0].slot; });
    }

    // A slot that holds a reference in one save and a unit in another: one
    // line, and the units are passed over.
    void compare_slot(const std::vector<std::size_t>& live, const std::vector<streamed_leaf>& leaves)
    {
        const std::string_view path = leaves[0].path;
        const std::string slot(path.substr(0, path.rfind('.')));
        std::vector<slot_column> columns(sides_.size());
        for (std::size_t at = 0; at < live.size(); ++at) {
            columns[live[at]] = {leaves[at].slot, leaves[at].number};
        }
        writer_.slot(slot, leaves[0].offset, columns);
        differed_ = true;
        for (std::size_t at = 0; at < live.size(); ++at) {
            const bool unit = leaves[at].slot == slot_content::unit;
            take(live[at]);
            if (unit) {
                pass_over(live[at], slot + ".unit");
            }
        }
    }

    std::vector<std::optional<std::uint64_t>> starts_of(const std::vector<std::size_t>& live,
                                                        const std::vector<streamed_leaf>& leaves) const
    {
        std::vector<std::optional<std::uint64_t>> starts(sides_.size());
        for (std::size_t at = 0; at < live.size(); ++at) {
            starts[live[at]] = leaves[at].offset;
        }
        return starts;
    }

    // Raw stretches byte by byte, the long ones piece by piece; stretches
    // of different lengths (the tail) differ where one has bytes and the
    // other has none.
    void compare_raw(const std::vector<std::size_t>& live, const std::vector<streamed_leaf>& leaves)
    {
        const std::string path(leaves[0].path);
        for (std::size_t at = 0; at < live.size(); ++at) {
            sides_[live[at]].last_key.assign(key_of(leaves[at]));
        }
        run_gatherer runs(writer_, path, leaf_type::raw, starts_of(live, leaves));
        std::vector<raw_source> sources;
        std::uint64_t shortest = leaves[0].size;
        std::uint64_t longest = 0;
        for (std::size_t at = 0; at < live.size(); ++at) {
            const auto& leaf = leaves[at];
            sources.push_back({sides_[live[at]].stream.get(), leaf.size, leaf.bytes, 0, leaf.in_pieces});
            if (leaf.in_pieces) {
                sources.back().bytes = {};
            }
            shortest = std::min(shortest, leaf.size);
            longest = std::max(longest, leaf.size);
        }
        const auto values = [&](std::uint64_t at) -> const std::vector<std::optional<std::uint16_t>>& {
            return raw_values(sources, live, at);
        };
        std::uint64_t at = 0;
        while (at < shortest) {
            const std::uint64_t stretch_end = reach_all(sources, at, shortest);
            if (stretch_end == at) {
                // A source came short of its leaf's size: byte by byte.
                const auto& held = values(at);
                if (std::all_of(live.begin(), live.end(), [&](std::size_t save) { return held[save] == held[live[0]]; })) {
                    runs.close();
                } else {
                    runs.differ(at, at, values);
                }
                ++at;
                continue;
            }
            std::vector<const std::uint8_t*> firsts;
            for (const auto& source : sources) {
                firsts.push_back(source.bytes.data() + (at - source.start));
            }
            compare_stretch(runs, firsts, at, stretch_end, values);
            at = stretch_end;
        }
        // Past the shortest stretch every byte differs, as some save has
        // none there: one run to the end, whose first bytes are shown.
        if (at < longest) {
            runs.differ(at, longest - 1, values);
        }
        runs.close();
        differed_ = differed_ || runs.any();
        for (const auto save : live) {
            sides_[save].stream->advance();
        }
    }

    // Brings every source to position `at` and returns where the stretch
    // that all of them hold in their pieces at hand ends (at itself when a
    // source lacks the position).
    static std::uint64_t reach_all(std::vector<raw_source>& sources, std::uint64_t at, std::uint64_t longest)
    {
        std::uint64_t end = longest;
        for (auto& source : sources) {
            if (at < source.size) {
                source.reach(at);
            }
            if (!source.has(at)) {
                return at;
            }
            end = std::min(end, source.start + source.bytes.size());
        }
        return end;
    }

    // Elements `from` to `to` (not included) that every save holds, save
    // i's from at_hand[i]: agreeing stretches end the run open, differing
    // ones go to it.
    template <typename element, typename values_at>
    static void compare_stretch(run_gatherer& runs, std::vector<const element*> at_hand, std::uint64_t from,
                                std::uint64_t to, values_at&& values)
    {
        for (std::uint64_t at = from; at < to;) {
            const auto length = static_cast<std::size_t>(to - at);
            std::size_t step = agreeing_length(at_hand, length);
            if (step > 0) {
                runs.close();
            } else {
                step = differing_length(at_hand, length);
                runs.differ(at, at + step - 1, values);
            }
            at += step;
            for (auto& first : at_hand) {
                first += step;
            }
        }
    }

    // Byte `at` of each save, where it has one.
    const std::vector<std::optional<std::uint16_t>>& raw_values(std::vector<raw_source>& sources,
                                                              const std::vector<std::size_t>& live, std::uint64_t at)
    {
        values_.assign(sides_.size(), std::nullopt);
        for (std::size_t index = 0; index < sources.size(); ++index) {
            auto& source = sources[index];
            if (at < source.size) {
                source.reach(at);
            }
            if (source.has(at)) {
                values_[live[index]] = source.bytes[static_cast<std::size_t>(at - source.start)];
            }
        }
        return values_;
    }

    // A path's points, element by element, the longer path's extra points
    // differing from nothing.
    void compare_words(const std::vector<std::size_t>& live, const std::vector<streamed_leaf>& leaves)
    {
        std::size_t shortest = leaves[0].words.size();
        std::size_t longest = 0;
        for (const auto& leaf : leaves) {
            shortest = std::min(shortest, leaf.words.size());
            longest = std::max(longest, leaf.words.size());
        }
        const auto values = [&](std::uint64_t at) -> const std::vector<std::optional<std::uint16_t>>& {
            values_.assign(sides_.size(), std::nullopt);
            for (std::size_t index = 0; index < live.size(); ++index) {
                const auto& words = leaves[index].words;
                if (at < words.size()) {
                    values_[live[index]] = words[static_cast<std::size_t>(at)];
                }
            }
            return values_;
        };
        run_gatherer runs(writer_, std::string(leaves[0].path), leaf_type::u16_array, starts_of(live, leaves));
        std::vector<const std::uint16_t*> firsts;
        for (const auto& leaf : leaves) {
            firsts.push_back(leaf.words.data());
        }
        compare_stretch(runs, firsts, 0, shortest, values);
        if (shortest < longest) {
            runs.differ(shortest, longest - 1, values);
        }
        runs.close();
        differed_ = differed_ || runs.any();
    }

    // The saves stand at different paths: find the record one of them holds
    // alone and pass over it, or the record they share whose fields stop
    // matching.
    void part_ways(const std::vector<std::size_t>& live)
    {
        std::vector<std::string> keys(sides_.size());
        std::vector<std::vector<path_part>> parts(sides_.size());
        std::vector<std::size_t> placed; // live saves, and saves that ended complete
        for (std::size_t save = 0; save < sides_.size(); ++save) {
            if (sides_[save].retired) {
                continue;
            }
            const bool has = std::find(live.begin(), live.end(), save) != live.end();
            keys[save] = has ? std::string(key_of(sides_[save].stream->leaf())) : sides_[save].last_key;
            parts[save] = parts_of(keys[save]);
            placed.push_back(save);
        }
        const std::size_t depth = shared_depth(parts, placed);
        std::vector<std::size_t> behind{live[0]};
        bool known = parts[live[0]].size() > depth;
        for (std::size_t at = 1; known && at < live.size(); ++at) {
            const auto save = live[at];
            if (parts[save].size() <= depth) {
                known = false;
                break;
            }
            switch (order_of(parts[save][depth], parts[behind[0]][depth])) {
            case order::before:
                behind = {save};
                break;
            case order::same:
                behind.push_back(save);
                break;
            case order::after:
                break;
            case order::unknown:
                known = false;
                break;
            }
        }
        if (!known && depth > 0) {
            differ_in_shape(live, keys, parts[live[0]][depth - 1].end);
            return;
        }
        if (!known) {
            behind = {live[0]};
        }
        name_lone_record(behind, keys, parts, depth);
        if (behind.size() == 1) {
            name_lone_slots(behind[0], parts, placed);
        }
    }

    static std::size_t shared_depth(const std::vector<std::vector<path_part>>& parts,
                                    const std::vector<std::size_t>& placed)
    {
        const auto& first = parts[placed[0]];
        std::size_t depth = first.size();
        for (const auto save : placed) {
            const auto& other = parts[save];
            std::size_t same = 0;
            while (same < depth && same < other.size() && other[same].name == first[same].name &&
                   other[same].index == first[same].index) {
                ++same;
            }
            depth = same;
        }
        return depth;
    }

    // The saves behind hold a record the others have not: the part at
    // `depth` where they part, or, when they had been inside that part
    // already (a slot whose number both saves have), the part below it.
    void name_lone_record(const std::vector<std::size_t>& behind, const std::vector<std::string>& keys,
                          const std::vector<std::vector<path_part>>& parts, std::size_t depth)
    {
        std::vector<bool> present(sides_.size(), false);
        std::vector<std::string> records;
        for (const auto save : behind) {
            const auto& own = parts[save];
            std::string record = keys[save].substr(0, own[depth].end);
            if (lies_in(sides_[save].last_key, record) && depth + 1 < own.size()) {
                record = keys[save].substr(0, own[depth + 1].end);
            }
            records.push_back(std::move(record));
            present[save] = true;
        }
        // The closing size is named by its own path, not by the name it is
        // compared under.
        const streamed_leaf& first = sides_[behind[0]].stream->leaf();
        writer_.only_in(records[0] == stream_end_key ? first.path : std::string_view(records[0]), first.offset, present);
        differed_ = true;
        if (behind.size() == 1 && parts[behind[0]][depth].name == "lists" &&
            records[0].size() == parts[behind[0]][depth].end && others_past_lists(behind[0], parts)) {
            only_list_sizes_from_here(behind[0]);
        }
        for (std::size_t at = 0; at < behind.size(); ++at) {
            pass_over(behind[at], records[at]);
        }
    }

    // Whether every save compared but `save` stands past the unit lists (at
    // the stream's closing size or in the tail) or has ended: they move no
    // further until `save` does, so each list `save` has left is one it
    // holds alone.
    bool others_past_lists(std::size_t save, const std::vector<std::vector<path_part>>& parts)
    {
        for (std::size_t other = 0; other < sides_.size(); ++other) {
            if (other == save || sides_[other].retired || !sides_[other].stream->has_leaf()) {
                continue;
            }
            const auto& theirs = parts[other];
            const bool at_end = theirs.size() == 2 && theirs[0].name == "units" && theirs[1].name == "end";
            if (!at_end && theirs[0].name != "tail") {
                return false;
            }
        }
        return true;
    }

    // Every list `save` has left will be passed over whole: its walk need
    // hand on no more than their sizes.
    void only_list_sizes_from_here(std::size_t save) { sides_[save].stream->keep_only_list_sizes(); }

    // A save that held a slot of a run of references alone holds the slots
    // after it alone too, up to the first slot another save stands at in
    // the same list, while the others stay where they are: each is named as
    // the slot before it was, and they are taken at once.
    void name_lone_slots(std::size_t save, const std::vector<std::vector<path_part>>& parts,
                         const std::vector<std::size_t>& placed)
    {
        auto& stream = *sides_[save].stream;
        if (!stream.has_leaf() || stream.run_ahead() == nullptr) {
            return;
        }
        const reference_run& run = *stream.run_ahead();
        const auto& own = parts[save]; // the slot before: units.lists[L].slots[S].object_id
        if (own.size() != 4 || own[2].name != "slots" || static_cast<std::uint64_t>(own[2].index) + 1 != run.first_slot ||
            !lies_in(sides_[save].last_key, run.list_path)) {
            return;
        }
        std::uint64_t lone = run.objects.size();
        for (const auto other : placed) {
            const auto& theirs = parts[other];
            if (other == save || theirs.size() < 2 || theirs[0].name != own[0].name || theirs[1].name != own[1].name ||
                theirs[1].index != own[1].index) {
                continue; // in another list, which comes after this one
            }
            if (theirs.size() < 3 || theirs[2].name != "slots" || theirs[2].index <= own[2].index) {
                return;
            }
            lone = std::min(lone, static_cast<std::uint64_t>(theirs[2].index) - run.first_slot);
        }
        std::vector<bool> present(sides_.size(), false);
        present[save] = true;
        reference_paths slot_paths(run.list_path);
        for (std::uint64_t at = 0; at < lone; ++at) {
            writer_.only_in(slot_paths.slot_path(run.first_slot + at), run.offset + 2 * at, present);
        }
        if (lone > 0) {
            take_slots(save, static_cast<std::size_t>(lone));
        }
    }

    void differ_in_shape(const std::vector<std::size_t>& live, const std::vector<std::string>& keys,
                         std::size_t record_length)
    {
        const std::string record = keys[live[0]].substr(0, record_length);
        std::vector<std::optional<std::string>> where(sides_.size());
        for (const auto save : live) {
            where[save] = keys[save].substr(std::min(keys[save].size(), record_length + 1));
        }
        writer_.shape(record, sides_[live[0]].stream->leaf().offset, where);
        differed_ = true;
        for (const auto save : live) {
            pass_over(save, record);
        }
    }

    diff_writer& writer_;
    agreement_map& agreement_;
    std::vector<side> sides_;
    bool over_ = false; // the rest was seen to be alike
    const unit_data_layout unit_layout_;
    std::vector<std::size_t> live_;
    std::vector<streamed_leaf> leaves_;
    std::vector<std::optional<std::uint16_t>> values_; // an element of each save, kept from element to element
    std::vector<std::pair<std::size_t, walk_break>> breaks_;
    bool differed_ = false;
    bool trouble_ = false;
};

// The message of a save that cannot be opened, as the other commands give it.
std::optional<std::string> open_problem(const std::string& save)
{
    try {
        data_file file;
        open_data_file(file, save);
        io_check();
    } catch (const failure& failed) {
        return std::string(failed.message());
    }
    return std::nullopt;
}

int finish_diff(const std::vector<std::string>& saves, output_stream& out, bool differed, bool trouble,
                const std::vector<std::pair<std::size_t, walk_break>>& breaks)
{
    out.flush();
    if (out.failed()) {
        platform::write_standard_error("orbse-fields: standard output could not be written\n");
        return exit_trouble;
    }
    for (const auto& [save, broken] : breaks) {
        report_problem(saves[save], "damaged save: " + broken.message);
    }
    if (trouble) {
        return exit_trouble;
    }
    return differed || !breaks.empty() ? exit_damaged : exit_done;
}

// Files that hold the same bytes throughout break alike, if they do: the
// walk without leaves of the first save tells where, written for every
// save. False when the walk could not be made.
bool add_common_breaks(const std::vector<std::string>& saves, diff_writer& writer,
                       std::vector<std::pair<std::size_t, walk_break>>& breaks)
{
    walk_result walked;
    try {
        walked = walk_save(saves[0], nullptr);
    } catch (const failure& failed) {
        report_problem(saves[0], failed.message());
        return false;
    } catch (const std::bad_alloc&) {
        report_problem(saves[0], "Out of memory");
        return false;
    }
    if (walked.broken) {
        for (std::size_t save = 0; save < saves.size(); ++save) {
            writer.broken(save, *walked.broken);
            breaks.emplace_back(save, *walked.broken);
        }
    }
    return true;
}

} // namespace

int diff_saves(const std::vector<std::string>& saves, bool json, output_stream& out)
{
    bool unreadable = false;
    for (const auto& save : saves) {
        if (const auto problem = open_problem(save)) {
            report_problem(save, *problem);
            unreadable = true;
        }
    }
    if (unreadable) {
        return exit_trouble;
    }
    diff_writer writer(out, json);
    std::vector<std::pair<std::size_t, walk_break>> breaks;
    // Up to their first difference the files are walked alike: no leaf
    // there can differ.
    agreement_map agreement(saves, 0);
    if (agreement.agree_to_their_ends(0)) {
        const bool walked = add_common_breaks(saves, writer, breaks);
        return finish_diff(saves, out, false, !walked, breaks);
    }
    const std::uint64_t parted = agreement.agreeing_until(0, UINT64_MAX);
    bool differed = false;
    bool trouble = false;
    {
        // The walking threads end here, before the rest is decided.
        comparison compared(saves, parted, agreement, writer);
        compared.run();
        differed = compared.differed();
        trouble = compared.trouble();
        breaks = compared.breaks();
    }
    return finish_diff(saves, out, differed, trouble, breaks);
}

} // namespace orbse::fields
