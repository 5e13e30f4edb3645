// A plain comparison of saves, the yardstick orbse-fields diff is held to:
// every leaf keyed by its path, the saves' paths merged into one file order,
// and diff's lines predicted path by path, knowing nothing of how diff walks
// the saves in step. A map layer is one entry of its cells' bytes (the walk
// reads a layer whole or not at all), made into lines only where cells
// differ, as the fuzzer compares thousands of saves.
//
// Paths do not say everything. Where saves hold at one place fields that
// the others lack (version 69's header byte and version 70's), the first
// save's come first, where diff keeps to the format's order. And the last
// leaves of a damaged save, where the others lack their paths, have no path
// after them to say where they go among the others' own: such a save is
// beyond this comparison.
#pragma once

#include "orbsaves/save_walk.h"

#include <string>
#include <utility>
#include <vector>

namespace orbse::testing {

struct plain_leaf {
    enum class kind : std::uint8_t { value, bytes, points, cells };
    std::string path;  // its key; the closing size's list is numbered after every list
    std::string shown; // the path diff writes, where it is not the key
    std::uint64_t offset = 0;
    kind is = kind::value;
    std::string value;                   // as `list` writes it
    std::vector<std::uint16_t> elements; // a raw stretch's bytes, a path's points, a layer's cells' bytes
    std::size_t cell_size = 0;
    slot_holds slot = slot_holds::not_a_slot;
    std::string note; // shown beside the value, as the listing shows it
};

struct plain_save {
    std::vector<plain_leaf> leaves;
    std::vector<std::pair<std::string_view, std::size_t>> index; // the leaves by path, in byte order
    std::string broken; // the break as diff writes it; empty for a whole save

    plain_save() = default;
    plain_save(plain_save&&) = default; // not copied: the index views the leaves' paths
    plain_save& operator=(plain_save&&) = default;

    // A leaf as the walk hands it out (the tail's further pieces are read
    // from `walk`), then the end of the walk.
    void take(const field_leaf& leaf, save_walk& walk);
    void finish(const walk_summary& summary);
    const plain_leaf* find(std::string_view path) const;
    bool holds(std::string_view record) const; // a leaf at or inside it
};

plain_save plain_walk(const std::string& path);

// What diff writes for `saves` (two or more) after its first line, which
// names the saves: its lines, each ended by "\n".
std::string plain_diff(const std::vector<const plain_save*>& saves);

} // namespace orbse::testing
