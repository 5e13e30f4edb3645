// One run of the inspector, from the words of the command line to the exit
// code.
#pragma once

#include <string>
#include <vector>

namespace orbse {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;

// Runs on the one save named by `arguments`; any other count of arguments
// does nothing. Returns the exit code.
int run_inspector(const std::vector<std::string>& arguments);

} // namespace orbse
