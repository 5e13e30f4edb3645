// Fails each file operation of a whole run in turn, and fills the disk for
// real, checking every time the message, the exit code and the files left.
#include "hostile_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace orbse {
namespace {

constexpr std::uint64_t sharing_violation = 32;

TEST(io_faults, every_file_operation_of_a_run_fails_cleanly)
{
    testing::temp_folder folder;
    const auto save = folder.file("game.sav");
    const testing::bytes save_content = testing::small_rich_save();
    testing::write_file(save, save_content);
    const testing::fault_run complete = testing::run_with_faults(save, {});
    ASSERT_EQ(complete.result.exit_code, 0) << complete.result.standard_error;
    ASSERT_GT(complete.file_operations, 10u);
    const testing::run_outputs expected = testing::collect_outputs(save);

    int report_creations_seen = 0;
    for (std::uint64_t ordinal = 1; ordinal <= complete.file_operations; ++ordinal) {
        testing::plant_older_outputs(save);
        const testing::fault_run failed = testing::run_with_faults(
            save, {{"ORBSE_FAIL_FILE_OPERATION", ordinal}, {"ORBSE_FAIL_CODE", sharing_violation}});
        SCOPED_TRACE("file operation " + std::to_string(ordinal) + " of " +
                     std::to_string(complete.file_operations));
        // The report's creation names its own code, whatever the platform said.
        const bool report_creation = failed.result.standard_error.find("I/O error 105.") != std::string::npos;
        report_creations_seen += report_creation ? 1 : 0;
        testing::expect_failure_message(failed.result, "EInOutError",
                                        report_creation ? "I/O error 105" : "I/O error 32");
        testing::expect_outputs_of_a_failed_run(testing::collect_outputs(save), expected);
        EXPECT_EQ(testing::read_file(save), save_content);
    }
    EXPECT_EQ(report_creations_seen, 1);
}

TEST(io_faults, the_reports_last_bytes_failing_at_the_end_fail_the_run)
{
    testing::temp_folder folder;
    const auto save = folder.file("game.sav");
    testing::write_file(save, testing::small_rich_save());
    const testing::fault_run complete = testing::run_with_faults(save, {});
    ASSERT_EQ(complete.result.exit_code, 0);
    const testing::run_outputs expected = testing::collect_outputs(save);
    ASSERT_NE(expected.report().size() % 128, 0u) << "the report must end in a partial block";

    // The last two operations of a run are the write of the report's last
    // buffered bytes and the close of the report.
    for (const std::uint64_t from_end : {1u, 0u}) {
        const std::uint64_t ordinal = complete.file_operations - from_end;
        const testing::fault_run failed =
            testing::run_with_faults(save, {{"ORBSE_FAIL_FILE_OPERATION", ordinal}, {"ORBSE_FAIL_CODE", 5}});
        testing::expect_failure_message(failed.result, "EInOutError", "File access denied");
        const testing::run_outputs left = testing::collect_outputs(save);
        for (std::size_t image = 0; image < 3; ++image) {
            EXPECT_EQ(left.files[image], expected.files[image]);
        }
        const std::size_t whole_blocks = expected.report().size() / 128 * 128;
        EXPECT_EQ(left.report().size(), from_end == 1 ? whole_blocks : expected.report().size());
    }
}

// Points one output at /dev/full, a device that is always full, so the run
// meets a real full disk there.
TEST(io_faults, a_full_disk_is_reported_as_disk_full)
{
    if (!testing::file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    testing::temp_folder folder;
    const auto save = folder.file("game.sav");
    testing::write_file(save, testing::small_rich_save());
    const testing::fault_run complete = testing::run_with_faults(save, {});
    ASSERT_EQ(complete.result.exit_code, 0);
    const testing::run_outputs expected = testing::collect_outputs(save);

    for (std::size_t full = 0; full < testing::output_suffixes.size(); ++full) {
        SCOPED_TRACE(testing::output_suffixes[full]);
        testing::plant_older_outputs(save);
        const std::string target = save + testing::output_suffixes[full];
        std::filesystem::remove(target);
        std::filesystem::create_symlink("/dev/full", target);
        const testing::fault_run failed = testing::run_with_faults(save, {});
        testing::expect_failure_message(failed.result, "EInOutError", "Disk full");
        std::filesystem::remove(target);
        const testing::run_outputs left = testing::collect_outputs(save);
        for (std::size_t before = 0; before < full; ++before) {
            EXPECT_EQ(left.files[before], expected.files[before]) << testing::output_suffixes[before];
        }
        for (std::size_t after = full + 1; after < testing::output_suffixes.size(); ++after) {
            EXPECT_TRUE(left.untouched[after]) << testing::output_suffixes[after];
        }
    }
}

} // namespace
} // namespace orbse
