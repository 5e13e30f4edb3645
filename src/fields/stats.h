// What the leaves of many saves hold, field by field: the way an undecoded
// field gets decoded is to look at the values it takes across saves.
//
// Leaves are gathered by their path with every index made `*`
// (`units.lists[*].slots[*].unit.unk5`): for numbers how often the field
// occurs, its smallest and largest value, how many distinct values it takes
// and the most frequent; for stretches of bytes (raw, names, resource cells)
// each byte offset, constant across every occurrence or not. With
// `by_type`, the fields of unit objects are gathered apart for every unit
// type row (the note of the unit's unit_class). Memory stays bounded: a
// field's distinct values are counted exactly up to a cap, and a stretch's
// first bytes only.
#pragma once

#include "fields/output_stream.h"

#include <cstddef>
#include <string>
#include <vector>

namespace orbse::fields {

// Distinct values of one field counted exactly; more are reported as more.
inline constexpr std::size_t most_values_counted = 1000;
// The bytes of a stretch looked at one by one, from its first.
inline constexpr std::size_t most_bytes_counted = 1024;
// The most frequent values shown for a field.
inline constexpr std::size_t most_frequent_shown = 5;

struct stats_options {
    bool by_type = false;
    bool json = false;
};

// SAVE arguments are files, or folders that stand for the saves directly in
// them (files whose version word is not a save's are passed over there). A
// damaged save is left out whole and named on standard error. Exit 1 when
// one was, 2 when one could not be read or none was counted.
int stats_of_saves(const std::vector<std::string>& arguments, const stats_options& options, output_stream& out);

} // namespace orbse::fields
