// Runs the real inspector executable as a separate process, the way a user
// does, and collects what it leaves: exit code, standard output and error.
#pragma once

#include <string>
#include <vector>

namespace orbse::testing {

struct program_result {
    int exit_code = -1;
    std::string standard_output;
    std::string standard_error;
};

// The inspector built beside the tests.
const std::string& inspector_path();

// Runs `program` with `arguments` in `working_folder` (the current folder
// when empty).
program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& working_folder = {});

// Runs the inspector.
program_result run_inspector(const std::vector<std::string>& arguments, const std::string& working_folder = {});

} // namespace orbse::testing
