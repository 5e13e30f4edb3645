// The three map pictures of a loaded save, each written as a BMP file of
// 896 x 896 pixels in which every map cell is a block of 8 x 8 pixels, map
// row 0 at the top and column 0 at the left:
// - render_pass_map draws the pass layer (land, water, coast, blocked);
// - render_rm1_map draws byte 0 of each resource cell (kind and amount);
// - render_rm2_map draws byte 1 of each resource cell (four flags mixed).
// Each owns its picture only while it runs, and reads the save without
// changing it. A failure to write ends the run like every file failure.
#pragma once

#include "orbsaves/save_model.h"

#include <string>

namespace orbse {

inline constexpr int cell_scale = 8;
inline constexpr int picture_side = map_side * cell_scale;

void render_pass_map(const saveorec& save, const std::string& file_name);
void render_rm1_map(const saveorec& save, const std::string& file_name);
void render_rm2_map(const saveorec& save, const std::string& file_name);

} // namespace orbse
