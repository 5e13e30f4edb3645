// Large saves for measuring the inspector, described through the save
// builder and generated on demand: nothing large is kept in the repository.
//
// Every save starts from the demo save's front (map, players, groups), so a
// whole run on it draws the same pictures as the demo; only the unit stream
// differs. The object numbers of a save are 16 bits wide and the groups take
// the first 372, so a stream can introduce at most 65,163 new objects
// (units, linked units and paths). A save of hundreds of megabytes is
// therefore made mostly of long paths and reference slots, whatever a game
// would write; the kinds below each stress one shape of stream.
#pragma once

#include "save_builder.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace orbse::bench {

enum class save_kind {
    // Repeated blocks of one list each: a transport carrying a linked unit,
    // both with paths, three units with paths and 4,096 reference slots. The
    // same block at every size, so sizes differ only in the block count.
    mixed,
    // Lists of 65,535 slots that only name an object of the groups.
    reference_lists,
    // Units whose paths have 65,535 points, a hundred to a list.
    long_paths,
    // One slot whose unit links a chain of linked units, `size` levels deep.
    deep_chain,
    // As many units as the object numbers allow, like the demo's: no paths
    // or short ones, some transports. About 8 MB whatever `size` says.
    many_units,
    // Plain units, lists of 500, past the 16-bit numbers: whenever the
    // numbers run low, one unit carries a chain of linked units just long
    // enough to take the counter round past 65,535 to where it started. All
    // links of a chain carry the same number and the counter steps once per
    // linked unit after it, so the stream is as a loader reads it. About
    // 6,600 listed units per MB: the save for listings of millions of units.
    wrapped_units,
    // The front, an empty stream closed by its size of 0, and a tail of
    // bytes kept as they are that fills the rest of the size.
    long_tail,
};

std::optional<save_kind> kind_named(std::string_view name);
std::string_view name_of(save_kind kind);

// The description of a save of `kind`. `size` is the wanted file size in
// bytes, except for deep_chain where it is the number of linked units. The
// file comes out within one repeated piece of the kind (a block, a list, a
// unit) of the size asked.
save_builder::save_description describe_save(save_kind kind, std::uint64_t size);

// The mix's front alone: the demo's map, players and groups with an empty
// unit stream; a whole run on it costs what every run costs.
save_builder::save_description front_only_save();

} // namespace orbse::bench
