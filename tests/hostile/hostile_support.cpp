#include "hostile_support.h"

#include "save_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

namespace orbse::testing {
namespace {

std::string older_content(const char* suffix) { return std::string("older output ") + suffix; }

std::uint64_t read_total(const std::string& count_file, const std::string& name)
{
    std::ifstream totals(count_file);
    std::string key;
    std::uint64_t value = 0;
    while (totals >> key >> value) {
        if (key == name) {
            return value;
        }
    }
    return 0;
}

bool is_prefix(const bytes& part, const bytes& whole)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

} // namespace

bytes small_rich_save()
{
    namespace sb = save_builder;
    sb::save_description save = sb::empty_save(70);
    save.header.game_name = sb::name("Sweep");
    save.groups[red].updates = {{5, 0, {}}};
    save.groups[green].post_updates = {post_update_record{}};
    for (int cell = 0; cell < map_cell_count; ++cell) {
        save.pass_layer[cell] = static_cast<std::uint8_t>(1 << (cell % 4));
        save.resource_layer[2 * cell] = static_cast<std::uint8_t>(33 + cell % 16);
        save.resource_layer[2 * cell + 1] = static_cast<std::uint8_t>(cell % 64);
    }
    sb::number_objects(save);
    return sb::build_save(save);
}

fault_run run_with_faults(const std::string& save, const environment& armed)
{
    temp_folder counts;
    const std::string count_file = counts.file("totals");
    ::setenv("ORBSE_COUNT_FILE", count_file.c_str(), 1);
    for (const auto& [name, value] : armed) {
        ::setenv(name.c_str(), std::to_string(value).c_str(), 1);
    }
    fault_run run;
    run.result = run_program(ORBSE_FAULT_RUNNER, {save});
    for (const auto& [name, value] : armed) {
        ::unsetenv(name.c_str());
    }
    ::unsetenv("ORBSE_COUNT_FILE");
    run.allocations = read_total(count_file, "allocations");
    run.file_operations = read_total(count_file, "file_operations");
    run.peak_resident_bytes = read_total(count_file, "peak_resident_bytes");
    return run;
}

void plant_older_outputs(const std::string& save)
{
    for (const char* suffix : output_suffixes) {
        write_text_file(save + suffix, older_content(suffix));
    }
}

run_outputs collect_outputs(const std::string& save)
{
    run_outputs outputs;
    for (std::size_t index = 0; index < output_suffixes.size(); ++index) {
        const std::string path = save + output_suffixes[index];
        outputs.files[index] = file_exists(path) ? read_file(path) : bytes{};
        const std::string older = older_content(output_suffixes[index]);
        outputs.untouched[index] = outputs.files[index] == bytes(older.begin(), older.end());
    }
    return outputs;
}

void expect_outputs_of_a_failed_run(const run_outputs& left, const run_outputs& complete)
{
    bool failing_stage_seen = false;
    for (std::size_t index = 0; index < left.files.size(); ++index) {
        const char* suffix = output_suffixes[index];
        if (failing_stage_seen) {
            EXPECT_TRUE(left.untouched[index]) << suffix << " was touched after the failing stage";
        } else if (left.untouched[index]) {
            failing_stage_seen = true;
        } else if (left.files[index] != complete.files[index]) {
            EXPECT_TRUE(is_prefix(left.files[index], complete.files[index]))
                << suffix << " holds something other than the start of its content";
            failing_stage_seen = true;
        }
    }
}

void expect_failure_message(const program_result& result, const std::string& kind, const std::string& message)
{
    EXPECT_EQ(result.exit_code, 1);
    const std::regex expected("Exception " + kind + " in module orbse_fault_runner at [0-9A-F]{8}\\.\r\n" + message +
                              "\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.standard_error, expected)) << result.standard_error;
}

void expect_some_failure(const program_result& result)
{
    EXPECT_EQ(result.exit_code, 1);
    const std::regex expected(
        "Exception (EInOutError|EOutOfMemory) in module orbse_fault_runner at [0-9A-F]{8}\\.\r\n[^\r\n]+\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.standard_error, expected)) << result.standard_error;
}

} // namespace orbse::testing
