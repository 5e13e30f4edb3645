// The unit listing: thirteen lines for every unit read as a new object.
#pragma once

#include "orbsaves/save_model.h"
#include "runtime/text_channel.h"

namespace orbse {

void write_unit_listing(const saveorec& save, text_channel& report_output);

} // namespace orbse
