// Windows only: runs a program with a raw command line, the one string a
// Windows program receives and splits for itself, so tests can hand over
// quotes and "" pairs exactly as a user types them.
#pragma once

#include "support/run_program.h"

#include <string>

namespace orbse::testing {

struct raw_run {
    // The whole line the program sees, its own name first.
    std::string command_line;
    // The current folder of the program; the test's own when empty.
    std::string working_folder;
    // False starts the program without a standard error handle.
    bool with_standard_error = true;
    // When given, fed to the program's standard input through a pipe.
    const std::string* standard_input = nullptr;
    // When given, the program's folder for temporary files (TMP and TEMP).
    std::string temporary_folder;
};

program_result run_raw(const std::string& program, const raw_run& run);

// The inspector's name, quoted, as the first word of a command line.
std::string inspector_command_word();

} // namespace orbse::testing
