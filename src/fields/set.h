// orbse-fields set: changes leaves of a save by their paths and writes the
// result as a new save, or over the old one.
//
// Only values that leave the save's layout alone may be set: a leaf whose
// value decides how the rest of the save is read (the walk marks it) is
// refused, since the bytes after it would read as something else. The new
// save is written beside its final name and takes that name only once it
// has been read back: the same leaves at the same offsets as the old save,
// the new values where they were asked for and the old bytes everywhere
// else. A failure on the way leaves the old file of that name as it was.
#pragma once

#include "fields/output_stream.h"

#include <string>
#include <vector>

namespace orbse::fields {

struct set_request {
    std::string save;
    // PATH=VALUE, or PATH+N=VALUE for the bytes or elements from N on
    // (field_value.h tells how values are written).
    std::vector<std::string> assignments;
    std::string output;     // the new save's name; the save's own with in_place
    bool in_place = false;
    bool keep_backup = true; // with in_place: the old save as SAVE.bak
};

// Writes one listing line per leaf set, as the new save reads it. Exit 2,
// and nothing written, for a value refused or a save that cannot be read or
// written; 1 when the save is damaged (the leaves before its break may be
// set, the bytes from the break on are copied as they are).
int set_fields(const set_request& request, output_stream& out);

} // namespace orbse::fields
