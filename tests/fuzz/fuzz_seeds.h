// Seeds for the fuzzer, made by the save builder: every version and every
// feature of the format, so mutations start from meaningful saves.
#pragma once

#include "save_builder.h"

#include <string>
#include <utility>
#include <vector>

namespace orbse::testing {

using named_seed = std::pair<std::string, save_builder::bytes>;

std::vector<named_seed> fuzz_seeds();

} // namespace orbse::testing
