// A plain comparison of saves, the yardstick the diff's alignment is held
// to: every leaf keyed by its path, the saves' paths merged into one file
// order, and the line diff writes predicted for each path. It knows nothing
// of how diff walks the saves in step; it only says what the lines must be.
//
// A map layer is held as one entry of its cells' bytes (the walk reads a
// layer whole or not at all, so every save that has it has all its cells
// at the same paths): the cells are compared as bytes and made into lines
// only where they differ, as the fuzzer compares thousands of saves.
#pragma once

#include "orbsaves/save_walk.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orbse::testing {

struct plain_leaf {
    enum class kind : std::uint8_t { value, bytes, points, cells };
    std::string path;
    std::uint64_t offset = 0;
    kind is = kind::value;
    std::string value;                   // as `list` writes it
    slot_holds slot = slot_holds::not_a_slot;
    std::vector<std::uint16_t> elements; // a raw stretch's bytes, a path's points, a layer's cells' bytes
    std::size_t cell_size = 0;
};

struct plain_save {
    std::vector<plain_leaf> leaves;
    std::unordered_map<std::string_view, std::size_t> at_path; // into leaves, once finished
    std::string broken; // the break as diff writes it; empty for a whole save

    plain_save() = default;
    plain_save(plain_save&&) = default;
    plain_save& operator=(plain_save&&) = default;

    // A leaf as the walk hands it out; the tail's further pieces are read
    // from `walk`.
    void take(const field_leaf& leaf, save_walk& walk);
    void finish(const walk_summary& summary);
};

// The save at `path` walked whole.
plain_save plain_walk(const std::string& path);

// The lines diff writes for `saves` (two or more), in order.
std::vector<std::string> plain_diff(const std::vector<const plain_save*>& saves);

} // namespace orbse::testing
