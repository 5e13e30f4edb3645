// The splitting rule of Windows console programs for a raw command line:
// words end at unquoted characters 1 to 32, double quotes group and vanish,
// a "" pair between words is skipped, and nothing is an escape character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orbse {

// Tells how many bytes the character starting at `at` takes: 2 for the lead
// byte of a double-byte character of the code page, 1 otherwise.
using character_length = std::size_t (*)(std::string_view line, std::size_t at);

std::size_t single_byte_character(std::string_view line, std::size_t at);

// The words of `raw_line`, the program's name first, up to but not including
// the first empty word. The line ends at its end or at a NUL byte.
std::vector<std::string> split_command_line(std::string_view raw_line,
                                            character_length step = single_byte_character);

} // namespace orbse
