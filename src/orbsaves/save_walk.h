// The walk over a save's fields: the file read front to back through the
// format's description, one record at a time, as its reader asks for them.
// A record comes as its leaf fields, each with its offset, size, type, value,
// what the value means, and its place: the parts of the save it lies in
// (`units`, `lists[3]`, `slots[2]`, `unit`) and its own name, held as
// structure; the path text is made only where a person reads it.
//
// The walk keeps nothing of the unit stream, so its memory stays small
// whatever the save holds: the fixed part, the groups' counts, the unit class
// index, one unit record, one path's points and one piece of the tail at a
// time. A save that ends too early (or that the system cannot read further)
// ends the walk with a break: where the failing read began, what it was
// reading, and what the inspector says.
#pragma once

#include "orbsaves/setting_names.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbse {

enum class leaf_type : std::uint8_t {
    u8,
    u16,
    u32,
    i32,
    text,     // a fixed-size name, NUL-padded
    raw,      // bytes stored as read and interpreted by nothing
    u8_array, // a run of u8 (a resource-layer cell)
    u16_array // a run of u16 (a path's points)
};

// One part of a leaf's place: a record (`header`, `unit`; index -1) or a
// numbered part (`lists[3]`). Names are the format's own, held for the whole
// program.
struct path_part {
    std::string_view name;
    std::int64_t index = -1;

    // Names are mostly the same literal: its address tells before its text.
    bool operator==(const path_part& other) const
    {
        return index == other.index &&
               ((name.data() == other.name.data() && name.size() == other.name.size()) || name == other.name);
    }
};

// The parts a leaf lies in, outermost first. The deepest place of the
// format, a path's header word of a linked unit, is seven parts deep.
struct leaf_place {
    static constexpr std::size_t capacity = 8;
    std::array<path_part, capacity> parts{};
    std::size_t depth = 0;

    std::span<const path_part> view() const { return std::span(parts).first(depth); }
};

// What a slot's object number says the slot holds.
enum class slot_holds : std::uint8_t { not_a_slot, unit, reference };

// The table that gives a number's values names, where one does: the clans
// or one of the coded settings. The note shows the value's name from it.
struct value_names {
    enum class table : std::uint8_t { none, clan, setting };
    table from = table::none;
    setting which = setting::save_type; // for table::setting
};

// One leaf field of the file. The views hold until the walk's next record.
struct field_leaf {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    leaf_type type = leaf_type::u8;
    leaf_place place;
    // The leaf's own name; empty for the one value of a numbered part (a
    // player's name, a button, a layer cell), which is then the place's
    // last part.
    std::string_view name;
    // u8, u16, u32, i32: the value.
    std::int64_t number = 0;
    // text, raw and u8_array: the bytes; for the tail, its first piece only
    // (size tells how many there are; save_walk::next_tail_piece the rest).
    std::span<const std::uint8_t> bytes;
    // u16_array: every value.
    std::span<const std::uint16_t> words;
    // What the value means beyond its number: a name from the game's tables,
    // the unit type it resolves to, the object it is. Empty when nothing.
    std::string_view note;
    // A slot's object number: whether a new unit follows or it refers to an
    // object met elsewhere.
    slot_holds slot = slot_holds::not_a_slot;
    // A unit list's size; the size of 0 that closes the unit stream also
    // `closes_stream`: it lies after every list, whatever list number its
    // place carries.
    bool sizes_list = false;
    bool closes_stream = false;
    // In a unit object: how many parts of the place make up the level of
    // the chain the leaf belongs to (`units`, `lists[0]`, `slots[3]`, `unit`
    // and, for a linked unit, `linked[1]`), 0 outside the unit stream's
    // objects; and which level that is, 0 for the slot's own unit. The
    // level's unit_class leaf `names_unit_type` in its note. Every unit
    // object follows a leaf outside one, its slot's object number.
    std::uint8_t unit_depth = 0;
    std::uint64_t chain_level = 0;
    bool names_unit_type = false;
    // One of the words that close a level (the word after its linked unit,
    // unkf1 and its extra word): in the file they follow every deeper level
    // of the chain, so a chain is its bodies from the slot's unit down, then
    // its closing words from the deepest level up.
    bool closes_level = false;
    // The value decides how the rest of the save is read (the version, a
    // size or count, an object number, an inline path's or a linked unit's
    // marks, unkf1): changed, the bytes after it read as something else.
    bool decides_layout = false;
    // For a number: the table that names its values, if any.
    value_names names;
    // The value is an object number: a slot's, a unit's path_ref or
    // link_ref. Objects are numbered in file order, so one object more
    // early in a save moves every later number; a reader comparing saves
    // compares such values through that shift.
    bool names_object = false;
    // Such a number that is the next one: it names the object that
    // follows (the slot's unit, the inline path, the linked unit), not one
    // met elsewhere.
    bool names_next_object = false;
};

// The number that `name` stands for in the table naming the leaf's values,
// as its note spells it; empty when the leaf's values have no names or
// none is `name`.
std::optional<std::int64_t> number_named(const field_leaf& leaf, std::string_view name);

// The index of the part `slots[S]` in a place that lies in a slot of the
// unit stream (`units`, `lists[L]`, `slots[S]`, ...); 0 for any other place.
std::size_t slot_part_of(std::span<const path_part> place);
// The index of the part `lists[L]` in a place that lies in a list of the
// unit stream (`units`, `lists[L]`, ...), the stream's closing size
// included; 0 for any other place.
std::size_t list_part_of(std::span<const path_part> place);

// Whether `place` lies in the record `record` (or is it).
bool lies_in(std::span<const path_part> place, std::span<const path_part> record);
// How many parts two places share from the outermost.
std::size_t shared_length(std::span<const path_part> a, std::span<const path_part> b);

// The leaf's path as the field program writes it:
// `units.lists[0].slots[3].unit.unk5`, `header.player_names[2]`.
std::string path_of(const field_leaf& leaf);
// The path of the first `depth` parts of a place: a record around a leaf.
std::string path_of(std::span<const path_part> parts);
void append_path(std::string& text, std::span<const path_part> parts, std::string_view name = {});
// The path of the first `length` parts of the leaf's place with its own
// name as one part more.
std::string path_of(const field_leaf& leaf, std::size_t length);

// Leaves' paths made one after another: the parts are written again only
// where the place changed from the leaf before, as it does every few leaves.
class path_text {
public:
    std::string_view of(const field_leaf& leaf);

private:
    leaf_place place_;
    std::string text_;
    std::array<std::size_t, leaf_place::capacity> part_ends_{}; // where each part ends in text_
    std::size_t prefix_ = 0; // the place's parts in text_
};

// The type as the walk's users read it: "u16", "text[30]", "u16[3300]".
std::string leaf_type_name(leaf_type type, std::uint64_t size);

// The most of a raw stretch that the field program's listing shows.
inline constexpr std::size_t raw_head_size = 64;

// How two places compare in the file order of saves that may differ in
// their shape: which comes first, the same place, or no order at all (the
// levels of two chains of linked units). Both places are given with the
// leaf's name as their last part.
enum class place_order : std::uint8_t { before, same, after, unknown };
place_order order_of_parts(const path_part& a, const path_part& b);
// The same for two whole places, by the first part where they differ: one
// that holds the other has no order.
place_order order_of_places(std::span<const path_part> a, std::span<const path_part> b);

// A leaf's place with its own name as one part more, as saves are aligned
// by: the stream's closing size is placed after every list, and the words
// that close a linked unit's level after every deeper level.
leaf_place alignment_place_of(const field_leaf& leaf);

// The parts a path names, the leaf's own name as one part more: the way
// back from path_of. Empty for a text that is no path (an empty part, an
// index that is not a number, deeper than a place holds). The names view
// `path`, which must outlive the place.
std::optional<leaf_place> place_of_path(std::string_view path);

// Where a damaged save breaks.
struct walk_break {
    std::int32_t code = 0;    // the I/O error code, 100 for a save that ends early
    std::string message;      // as the inspector's failure report words it
    std::uint64_t offset = 0; // where the failing read began
    leaf_place place;         // the parts it was reading in
    std::string_view name;    // the field or piece it was reading, if named
    std::uint64_t needed = 0; // the bytes it asked for
    std::uint64_t left = 0;   // the bytes the file still held at its start

    std::string path() const;
};

struct stream_start {
    std::uint64_t offset = 0;
    std::uint16_t object_counter = 0;
};

struct walk_summary {
    std::uint16_t version = 0;
    std::uint64_t file_size = 0;
    std::uint64_t lists = 0; // unit lists read (a size of 0 closes the stream and is no list)
    std::uint64_t units = 0; // slots that held a new unit object
    std::uint64_t tail_size = 0;
    std::optional<walk_break> broken;
};

class save_walk {
public:
    // Opens the save at `path`. A save that cannot be opened raises the
    // io_failure of the open; exhausted memory raises the memory failure.
    // Every later failure of a read becomes the walk's break. Without
    // `with_leaves` the walk only reads the save through, for its summary.
    explicit save_walk(const std::string& path, bool with_leaves = true);
    ~save_walk();
    save_walk(const save_walk&) = delete;
    save_walk& operator=(const save_walk&) = delete;

    // The leaves of the next record, in file order: a piece of the header
    // or a player record, a layer, a group, a list's size, a slot, a level
    // of a unit object, the tail. Empty once the walk has ended, whole or at
    // its break.
    std::span<const field_leaf> next();

    // After the tail's leaf: its further bytes, a piece at a time; empty
    // after its last. Bytes not asked for are read by the next record's call.
    std::span<const std::uint8_t> next_tail_piece();

    // Complete once next() has returned empty.
    const walk_summary& summary() const;

    // Where the next record begins.
    std::uint64_t offset() const;

    // Whether this walk and `other` stand where the same bytes ahead would
    // be read the same way by both, as the same leaves at the same places:
    // between records of the fixed part of one version, or between records
    // of the stream with the same numbering, inside a unit at the same step
    // of the same level of its chain.
    bool reads_on_like(const save_walk& other) const;
    // The same, but for the unit stream's object counter, which stands
    // `numbering_shift` above the other's: objects numbered earlier in one
    // save than in the other. The same bytes ahead are then the same leaves
    // whose object numbers differ by the shift, for as long as no number
    // read is the next object in one walk and not in the other; where one
    // is, the walks part from there, and their places tell. Where lists
    // only one save holds stand between them, its list numbers stand
    // `list_shift` above the other's too: the same bytes ahead are then
    // the same leaves in lists of other numbers.
    bool reads_on_like(const save_walk& other, std::int64_t numbering_shift, std::int64_t list_shift = 0) const;

    // Leaves that end before `offset` are no longer handed out, while the
    // reads stay the same: a reader that knows them already (the bytes are
    // those of another save that reads on alike) passes over them at the
    // speed of a walk without leaves.
    void leaves_from(std::uint64_t offset);

    // Only leaves on the way to one of `destinations` (places as
    // place_of_path gives them) are handed out: those whose place holds one
    // of them, or is one. The reads stay the same, and the rest is passed
    // over at the speed of a walk without leaves: a reader that looks for a
    // few paths makes no leaf of the others. Empty: every leaf, as before.
    void leaves_on_the_way_to(std::vector<leaf_place> destinations);

    // The unit stream's object counter where the walk stands: the number of
    // the last object numbered (before the stream, where its numbering
    // starts once the groups are read).
    std::uint16_t object_counter() const;
    // The same before the last record next() handed out was read: the
    // objects numbered in that record are the ones after it.
    std::uint16_t object_counter_before_record() const;
    // Once the walk has read the groups: where the stream begins and the
    // counter its numbering begins at, the length of the unit class index
    // the groups make.
    std::optional<stream_start> numbering_start() const;

private:
    struct state;
    std::unique_ptr<state> state_;
};

// Whether a save of this version word has the header and block of its own
// (69 and 70); every other word reads on without them.
bool is_known_version(std::uint16_t version);

// Walks the whole save for its summary alone.
walk_summary check_save(const std::string& path);

} // namespace orbse
