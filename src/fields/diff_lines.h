// The lines of orbse-fields diff, as text or as JSON Lines (their shapes
// are the manual's): each names a path first and gives one column per save,
// in the order of the command line; a save that has no value there shows
// "-" (null in JSON). OFFSET is the offset in the first save that has the
// thing; values are written as the listing writes them.
#pragma once

#include "fields/output_stream.h"
#include "orbsaves/save_walk.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbse::fields {

// Where a run of elements lies in one save, and its first elements.
struct run_column {
    bool present = false;
    std::uint64_t offset = 0;          // of the run's first element in the file
    std::vector<std::uint8_t> bytes;   // raw: the run's bytes this save has, at most 64
    std::vector<std::uint16_t> words;  // u16 runs: the same
    bool cut = false;                  // more elements than shown
};

struct slot_column {
    slot_holds content = slot_holds::not_a_slot; // not_a_slot: the save has none there
    std::int64_t object = 0;
};

// A slot of an aligned list that only some saves hold, as its line names
// it: what it holds, its object and, for a unit, the type it is.
struct lone_slot {
    std::string path;
    std::uint64_t offset = 0;
    slot_holds holds = slot_holds::not_a_slot;
    std::int64_t object = 0;
    std::string unit_type; // the note of its unit's unit_class
};

// A list of the unit stream that only some saves hold, as its line names
// it: how many slots it has and how many of them hold a unit.
struct lone_list {
    std::string path;
    std::uint64_t offset = 0;
    std::uint64_t slots = 0;
    std::uint64_t units = 0;
};

class diff_writer {
public:
    diff_writer(output_stream& out, bool json) : out_(out), json_(json) {}

    // The first line: the saves as the command line names them, in the
    // order of the columns ("# saves: 1 a.sav, 2 b.sav").
    void saves(const std::vector<std::string>& names);
    // leaves[i] is null where save i has no such leaf. Each value carries
    // its note as the listing writes it.
    void values(std::string_view path, const std::vector<const field_leaf*>& leaves);
    // Elements `first` to `last` of a raw stretch (bytes) or a u16 run.
    void run(std::string_view path, leaf_type type, std::uint64_t first, std::uint64_t last,
             const std::vector<run_column>& columns);
    void slot(std::string_view slot, std::uint64_t offset, const std::vector<slot_column>& columns);
    void only_in(std::string_view record, std::uint64_t offset, const std::vector<bool>& present);
    void only_in(const lone_slot& slot, const std::vector<bool>& present);
    void only_in(const lone_list& list, const std::vector<bool>& present);
    // After an aligned list, each save's shift of the object numbering
    // against the first save's; none where a save took no part.
    void numbering(std::string_view list, std::uint64_t offset, const std::vector<std::optional<std::int64_t>>& shifts);
    // where[i]: save i's path inside the record where it goes on, if any.
    void shape(std::string_view record, std::uint64_t offset, const std::vector<std::optional<std::string>>& where);
    void broken(std::size_t save, const walk_break& broken);

private:

    void begin_columns(std::string_view path, std::uint64_t offset, std::string_view type,
                       std::string_view text_after = {});
    void run_values(leaf_type type, const run_column& column);
    void separate(std::size_t save);
    void only_in_front(std::string_view record, std::uint64_t offset, const std::vector<bool>& present);

    output_stream& out_;
    bool json_;
};

} // namespace orbse::fields
