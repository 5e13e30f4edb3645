// The info report: game settings, one section per player, every unit.
#pragma once

#include "orbsaves/save_model.h"
#include "runtime/text_channel.h"

namespace orbse {

void write_info_report(const saveorec& save, text_channel& report_output);

} // namespace orbse
