// Reads a save file front to back into `saveorec`.
#pragma once

#include "orbsaves/save_format.h"
#include "orbsaves/save_model.h"
#include "orbsaves/save_reader.h"

#include <string>

namespace orbse {

// Loads the whole save at `path` into `save`, which must be freshly zeroed.
// Any failure ends the run through io_check or the memory failure.
void load_save(saveorec& save, const std::string& path);

} // namespace orbse
