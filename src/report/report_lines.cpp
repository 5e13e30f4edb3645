#include "report/report_lines.h"

#include "runtime/failures.h"

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
    put_joined_line(report_output, {label, value}, site);
}

void put_joined_line(text_channel& report_output, std::initializer_list<std::string_view> pieces,
                     const check_site& site)
{
    report_output.write_joined_line(pieces);
    io_check(site);
}

} // namespace orbse
