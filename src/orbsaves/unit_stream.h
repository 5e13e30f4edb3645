// The unit object stream: unit lists, each a size and that many slots, until
// a size of 0 or the end of the file. A slot holds either a new unit object,
// recognised by carrying the number one above the latest object, or only the
// number of an object met elsewhere.
#pragma once

#include "orbsaves/save_model.h"
#include "orbsaves/save_reader.h"

namespace orbse {

// Reads the stream into `store`, whose object_counter must already hold the
// number of the latest object before the stream (the length of the unit
// class index). Returns with the reader at the first byte of the tail. The
// file ending anywhere but after a complete list ends the run with I/O
// error 100.
void read_units(save_reader& reader, unidefa& store);

} // namespace orbse
