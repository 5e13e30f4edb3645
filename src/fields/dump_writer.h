// The walk of a save as one JSON document, written as the walk goes.
//
// Every part of a field's path is a member of the same name: a record is an
// object, a run of numbered parts an array, so the path
// units.lists[3].slots[2].unit.unk5 is the member doc.units.lists[3]
// .slots[2].unit.unk5 of the document. Each object begins with "offset",
// its first byte in the file, and ends with "size", the bytes it covers up
// to its last leaf: a part's size is known only when it ends. A numbered
// part that holds one value without a name of its own (a player's name, a
// button, a layer cell, a post-update record) is that value.
//
// Leaves:
//   a number                     a JSON number, or {"value":N,"note":"..."}
//                                when the walk says what it means
//   a name (text[30])            {"text":"...","hex":"..."}: the text as the
//                                listing shows it and all its bytes
//   bytes nothing interprets     {"size":N,"hex":"..."}, hex holding every
//                                byte: the tail's are written a piece at a
//                                time as the walk reads them
//   a resource cell, a path      an array of numbers
//
// Two places differ from the path. A unit list's field `size` (its number
// of slots) is the member "list_size", since "size" is the list's extent.
// The walk returns to the levels of a linked chain after the deepest one,
// for the word after each linked unit and the level's own unkf1; an object
// cannot be reopened once written, so those returns make a second array
// beside "linked", "linked_ends", in file order. Each element of both
// carries its "level" (linked[1] is the first level).
//
// A walk that breaks leaves its parts open: finish closes each with the
// size it reached, and puts the break in the document's "error" member.
#pragma once

#include "fields/leaf_format.h"
#include "fields/output_stream.h"
#include "orbsaves/save_walk.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbse::fields {

class dump_writer {
public:
    // `further` hands out the tail's bytes after those its leaf holds.
    dump_writer(output_stream& out, further_bytes further);

    // The walk's leaves in file order: the parts they lie in begin and end
    // around them.
    void take(const field_leaf& leaf);

    // Closes what the walk left open and the document itself, with the
    // break when there is one, and ends the line. The parts the failing read
    // was in are begun first.
    void finish(const walk_break* broken);

private:
    enum class shape : std::uint8_t {
        unopened, // begun, nothing written yet
        object,   // written as an object, "offset" first
        value,    // written as its one unnamed leaf
    };

    struct open_part {
        path_part part;
        std::uint64_t offset = 0;
        std::int64_t index = -1; // -1 for a record
        bool shows_level = false;
        shape written = shape::unopened;
        // The run of numbered parts written as an array member of this one:
        // their name in the walk, the last index, and whether the indexes
        // climb (+1) or, walking back through a chain, fall (-1).
        std::string_view run; // a name of the format's, held for the whole walk
        std::int64_t run_last = 0;
        int run_step = 1;
        bool run_shows_level = false;
    };

    void start();
    // Ends the parts the place does not share, begins the ones it adds.
    void move_to(std::span<const path_part> place);
    void part_begun(const path_part& part);
    void part_ended();
    void open_object(open_part& part);
    void close_run(open_part& part);
    bool join_run(open_part& parent, std::string_view name, std::int64_t index);
    void close_part(open_part& part);
    void member(std::string_view name);
    void write_value(const field_leaf& leaf);

    output_stream& out_;
    further_bytes further_;
    std::vector<open_part> parts_;
    std::uint64_t covered_ = 0; // where the last leaf ended
};

} // namespace orbse::fields
