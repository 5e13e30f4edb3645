#include "report/info_report.h"

namespace orbse {

// Not written yet: the report arrives with its sections.
void write_info_report(const saveorec&, text_channel&) {}

} // namespace orbse
