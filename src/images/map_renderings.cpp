#include "images/map_renderings.h"

namespace orbse {

// Not drawn yet: the renderings arrive with the image writer.
void render_pass_map(const saveorec&, const std::string&) {}
void render_rm1_map(const saveorec&, const std::string&) {}
void render_rm2_map(const saveorec&, const std::string&) {}

} // namespace orbse
