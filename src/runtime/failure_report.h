// The one report of a failed run: three lines on standard error naming the
// failure's kind, the program, the place and the message.
#pragma once

#include "runtime/failures.h"
#include "runtime/text_channel.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace orbse {

using failure_text = std::array<char, 1024>;

// Fills `text` from the report's template and returns its length (at most
// 1023 characters). Allocates nothing.
std::size_t compose_failure_text(const failure& raised, std::string_view module_name, failure_text& text);

// Lets the report's buffered text reach its file, then writes the failure to
// standard error. The caller ends the run with exit code 1.
void report_failure(const failure& raised, text_channel& report_output);

} // namespace orbse
