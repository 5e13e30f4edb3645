#include "report/unit_listing.h"

namespace orbse {

// Not written yet: the listing arrives with the unit stream.
void write_unit_listing(const saveorec&, text_channel&) {}

} // namespace orbse
