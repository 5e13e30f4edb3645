// How the info report writes: every write goes through the report channel
// and is checked at once, so a failed write ends the run at the line that met
// it and nothing after it is written.
#pragma once

#include "runtime/failures.h"
#include "runtime/text_channel.h"

#include <initializer_list>
#include <string_view>

namespace orbse {

// Appends text with no line break.
void put_text(text_channel& report_output, std::string_view text,
              const check_site& site = check_site::current());

// Appends text and a line break; an empty text gives an empty line.
void put_line(text_channel& report_output, std::string_view text,
              const check_site& site = check_site::current());

// One "label=value" line: the label carries its own "=" or ":", and the value
// follows it with no space.
void put_labelled_line(text_channel& report_output, std::string_view label, std::string_view value,
                       const check_site& site = check_site::current());

// One line given in pieces, written as one line of the pieces joined.
void put_joined_line(text_channel& report_output, std::initializer_list<std::string_view> pieces,
                     const check_site& site = check_site::current());

} // namespace orbse
