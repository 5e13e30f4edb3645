// The unit listing, the last section of the info report: thirteen lines for
// every slot of the unit store that held a new unit object, list by list and
// slot by slot. Slots that held only a reference print nothing but keep
// their positions, so "Unit 5:2:" is always slot 2 of the sixth list read.
#pragma once

#include "orbsaves/save_model.h"
#include "runtime/text_channel.h"

namespace orbse {

// Writes the listing of save.unit_store; the unit types come from the unit
// class index of the same save. Each line is checked as it is written.
void write_unit_listing(const saveorec& save, text_channel& report_output);

} // namespace orbse
