#include "report/report_lines.h"

#include "runtime/failures.h"

#include <string>

namespace orbse {

// The failure names the report line whose write failed, not this file.
void put_text(text_channel& report_output, std::string_view text, const check_site& site)
{
    report_output.write_text(text);
    io_check(site);
}

void put_line(text_channel& report_output, std::string_view text, const check_site& site)
{
    report_output.write_line(text);
    io_check(site);
}

void put_labelled_line(text_channel& report_output, std::string_view label, std::string_view value,
                       const check_site& site)
{
    std::string line;
    line.reserve(label.size() + value.size());
    line.append(label).append(value);
    put_line(report_output, line, site);
}

} // namespace orbse
