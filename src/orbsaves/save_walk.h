// The walk over a save's fields: the file read front to back through the
// format's description, each leaf field handed out with its offset, size,
// type, path and value as it is read. It keeps nothing of the unit stream,
// so its memory stays small whatever the save holds: the fixed part, the
// groups' counts, the unit class index, one unit record, one path's points
// and one piece of the tail at a time. A save that ends too early (or that
// the system cannot read further) ends the walk with a break: where the
// failing read began, what it was reading, and what the inspector says.
#pragma once

#include <charconv>
#include <cstdint>
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

// One leaf field of the file. The views hold only until the next leaf.
struct field_leaf {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    leaf_type type = leaf_type::u8;
    std::string_view path;
    // The last part of the path, the leaf's own name; empty for the one value
    // of a numbered part (a player's name, a button, a layer cell).
    std::string_view name;
    // u8, u16, u32, i32: the value.
    std::int64_t number = 0;
    // text and u8_array: all bytes; raw: the first 64 bytes at most (size
    // tells how many there are).
    std::span<const std::uint8_t> bytes;
    // u16_array: every value.
    std::span<const std::uint16_t> words;
    // What the value means beyond its number: a name from the game's tables,
    // the unit type it resolves to, the object it is. Empty when nothing.
    std::string_view note;
};

// The most of a raw stretch that a leaf carries.
inline constexpr std::size_t raw_head_size = 64;

// Slots of one unit list that hold references, one after the other: slot
// first_slot + i is the u16 object number objects[i] at offset + 2 i. Each
// is the leaf `<list_path>.slots[<slot>].object_id`, noted "reference to
// object N". The views hold only until the next leaf.
struct reference_run {
    std::string_view list_path;
    std::uint64_t first_slot = 0;
    std::uint64_t offset = 0;
    std::span<const std::uint16_t> objects;
};

// A unit's 144 bytes of unit data, which the walk hands out as the leaves of
// unit_data_layout: its named fields and the stretches between them. The
// views hold only until the next leaf.
struct unit_data_block {
    // The record the leaves lie in (`units.lists[3].slots[2].unit`, or its
    // `linked[N]`); empty for a sink that does without paths.
    std::string_view unit_path;
    std::uint64_t offset = 0; // of the first byte, offset 4 of the unit object
    std::span<const std::uint8_t> bytes;
};

// One leaf of the unit data: a named field (a u8 or a u16), or a stretch
// between them that nothing interprets (raw, named `unit_data@<N>` after its
// offset N in the unit object).
struct unit_data_piece {
    std::size_t object_offset;
    std::size_t size;
    std::string_view name;
    bool named;
};

// The unit data's leaves in offset order, covering its 144 bytes.
class unit_data_layout {
public:
    unit_data_layout();
    unit_data_layout(const unit_data_layout&) = delete;
    unit_data_layout& operator=(const unit_data_layout&) = delete;
    std::span<const unit_data_piece> pieces() const { return pieces_; }

private:
    std::vector<std::string> gap_names_; // the pieces' names point here
    std::vector<unit_data_piece> pieces_;
};

class leaf_sink {
public:
    virtual ~leaf_sink() = default;
    virtual void take(const field_leaf& leaf) = 0;
    // The parts of the path as they begin and end around the leaves, for a
    // sink that shows the save's structure: a record (`index` -1) or a
    // numbered part. A part begins before its first leaf and ends after its
    // last; parts that hold no leaf begin and end all the same. A walk that
    // breaks leaves the parts it was in unended. The names are the format's
    // own and hold for the whole walk.
    virtual void part_begun(std::string_view /*name*/, std::int64_t /*index*/) {}
    virtual void part_ended() {}
    // A sink that follows the parts itself may do without each leaf's whole
    // path, which then stays empty and costs nothing to compose.
    virtual bool wants_paths() const { return true; }
    // Most of a large save's leaves are references, so they come as runs: a
    // sink that writes a run as a whole returns true and gets neither its
    // parts nor its leaves. By default each slot comes as take_each_reference
    // hands it on.
    virtual bool take_references(const reference_run& /*run*/) { return false; }
    // Most of the other leaves are units' fields: a sink that takes a unit's
    // data whole returns true and gets neither the parts, the leaves nor the
    // notes of its fields.
    virtual bool take_unit_data(const unit_data_block& /*block*/) { return false; }
};

// The slots of a run one by one, each the part slots[i] around its leaf
// object_id, the way the walk hands on any other leaf.
void take_each_reference(leaf_sink& sink, const reference_run& run);

// The paths of a run's slots, `<list_path>.slots[<slot>].object_id`, made
// one after another in the same string.
class reference_paths {
public:
    explicit reference_paths(std::string_view list_path);
    // The slot's own path, `<list_path>.slots[<slot>]`. Holds until the
    // next call. Inline: a large save has millions of slots.
    std::string_view slot_path(std::uint64_t slot)
    {
        char digits[20];
        char* const end = std::to_chars(digits, digits + sizeof digits, slot).ptr;
        path_.resize(head_);
        path_.append(digits, end);
        path_ += ']';
        return path_;
    }
    // The path of its object number. Holds until the next call.
    std::string_view of(std::uint64_t slot)
    {
        slot_path(slot);
        path_ += ".object_id";
        return path_;
    }

private:
    std::string path_;
    std::size_t head_ = 0; // up to and with ".slots["
};

// The note of a slot that names an object met before, before its number.
inline constexpr std::string_view reference_note = "reference to object ";

// Where a damaged save breaks.
struct walk_break {
    std::int32_t code = 0;    // the I/O error code, 100 for a save that ends early
    std::string message;      // as the inspector's failure report words it
    std::uint64_t offset = 0; // where the failing read began
    std::string path;         // the field or piece it was reading
    std::uint64_t needed = 0; // the bytes it asked for
    std::uint64_t left = 0;   // the bytes the file still held at its start
};

struct walk_result {
    std::uint16_t version = 0;
    std::uint64_t file_size = 0;
    std::uint64_t lists = 0;      // unit lists read (a size of 0 ends the stream and is no list)
    std::uint64_t units = 0;      // slots that held a new unit object
    std::uint64_t tail_size = 0;
    std::optional<walk_break> broken;
};

// Walks the save at `path`, handing every leaf to `sink` (none for a walk
// that only checks the save). A save that cannot be opened raises the
// io_failure of the open; exhausted memory raises the memory failure.
// Every other failure of a read becomes the result's break.
walk_result walk_save(const std::string& path, leaf_sink* sink);

// The type as the walk's users read it: "u16", "text[30]", "u16[3300]".
std::string leaf_type_name(const field_leaf& leaf);

} // namespace orbse
