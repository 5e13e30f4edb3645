// Shared ground of the hostile-input and fault tests: running the fault
// runner, planting older outputs, and judging what a failed run left.
#pragma once

#include "support/run_program.h"
#include "support/test_files.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orbse::testing {

// A save with something in every stretch, small enough to sweep.
bytes small_rich_save();

struct fault_run {
    program_result result;
    std::uint64_t allocations = 0;
    std::uint64_t file_operations = 0;
    std::uint64_t peak_resident_bytes = 0;
};

using environment = std::vector<std::pair<std::string, std::uint64_t>>;

// Runs the fault runner on `save` with the given seams armed.
fault_run run_with_faults(const std::string& save, const environment& armed);

inline constexpr std::array<const char*, 4> output_suffixes{"_pass.bmp", "_rm1.bmp", "_rm2.bmp", ".inf"};

// Gives every output of `save` a recognisable older content.
void plant_older_outputs(const std::string& save);

// The four outputs, in the order the run writes them.
struct run_outputs {
    std::array<bytes, 4> files;
    std::array<bool, 4> untouched{};
    const bytes& report() const { return files[3]; }
    bool report_untouched() const { return untouched[3]; }
};

run_outputs collect_outputs(const std::string& save);

// What the failure table allows: the outputs before the failing stage are
// complete, the one being written is a prefix of its complete content (or
// untouched), and the ones after it are untouched.
void expect_outputs_of_a_failed_run(const run_outputs& left, const run_outputs& complete);

void expect_failure_message(const program_result& result, const std::string& kind, const std::string& message);

// A failure report of the fault runner, whatever its kind and message.
void expect_some_failure(const program_result& result);

} // namespace orbse::testing
