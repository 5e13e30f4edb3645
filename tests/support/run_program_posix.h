// POSIX only: runs a program in conditions the test sets up in the child
// between fork and exec (limits, signal dispositions, standard streams, the
// user it runs as), which the program then inherits.
#pragma once

#include "support/run_program.h"

#include <functional>
#include <string>
#include <vector>

namespace orbse::testing {

// Runs `program` as run_program does, calling `prepare` in the child just
// before the program replaces it. The child is a copy of the single-threaded
// test process, so `prepare` may use what it captured; should it fail, it
// ends the child with _exit(126).
program_result run_prepared(const std::string& program, const std::vector<std::string>& arguments,
                            const std::function<void()>& prepare);

} // namespace orbse::testing
