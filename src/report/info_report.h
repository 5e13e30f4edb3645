// The info report: the game settings, one section per player and the listing
// of every unit, written through the report channel from a loaded save. The
// first write creates the report file.
#pragma once

#include "orbsaves/save_model.h"
#include "runtime/text_channel.h"

namespace orbse {

void write_info_report(const saveorec& save, text_channel& report_output);

} // namespace orbse
