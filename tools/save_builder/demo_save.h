// The description of the bundled demo save.
#pragma once

#include "save_builder.h"

namespace orbse::save_builder {

save_description demo_save();

} // namespace orbse::save_builder
