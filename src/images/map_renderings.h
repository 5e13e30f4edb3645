// The three map pictures of a loaded save, each written as a BMP file.
#pragma once

#include "orbsaves/save_model.h"

#include <string>

namespace orbse {

void render_pass_map(const saveorec& save, const std::string& file_name);
void render_rm1_map(const saveorec& save, const std::string& file_name);
void render_rm2_map(const saveorec& save, const std::string& file_name);

} // namespace orbse
