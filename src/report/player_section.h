// One player's record as a section of the info report: 28 labelled lines
// (kind, clan, research, raw values, the byte arrays in full and the buttons
// switched on) and a closing empty line.
#pragma once

#include "orbsaves/save_model.h"
#include "runtime/text_channel.h"

namespace orbse {

void write_player_section(const player_record& player, text_channel& report_output);

} // namespace orbse
