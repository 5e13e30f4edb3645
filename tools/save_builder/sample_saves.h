// Saves that exercise the whole format, shared by the tests that attack the
// reader (truncation sweeps, the fuzzer's seeds).
#pragma once

#include "save_builder.h"

namespace orbse::save_builder {

// Every feature of the unit stream: new units, references, paths with and
// without points, a path word pair that is not a path, a linked chain whose
// units bring their own paths, and unkf1 with and without its extra word.
// The stream ends where the file does, after three lists.
save_description stream_rich_save(std::uint16_t version = 70);

} // namespace orbse::save_builder
