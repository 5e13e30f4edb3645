// Runs the real inspector executable as a separate process, the way a user
// does, and collects what it leaves: exit code, standard output and error.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
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

// Runs `program` as run_program does, with `input` fed to its standard
// input through a pipe, and `temporary_folder` as its folder for temporary
// files (TMPDIR; TMP and TEMP on Windows).
program_result run_with_input(const std::string& program, const std::vector<std::string>& arguments,
                              const std::string& input, const std::string& temporary_folder);

// Runs the inspector.
program_result run_inspector(const std::vector<std::string>& arguments, const std::string& working_folder = {});

// The name a failure report gives `program`, its file name without the
// folder ("orbse", or "orbse.exe" on Windows), as a std::regex pattern.
inline std::string module_name_pattern(const std::string& program)
{
    std::string pattern;
    for (const char character : std::filesystem::path(program).filename().string()) {
        if (std::string_view(".^$|()[]{}*+?\\").find(character) != std::string_view::npos) {
            pattern += '\\';
        }
        pattern += character;
    }
    return pattern;
}

} // namespace orbse::testing
