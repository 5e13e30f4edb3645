// Runs the inspector once for every allocation of a whole run, failing that
// one allocation, and checks that each run ends cleanly with "Out of memory"
// and leaves on disk only what the failure table allows.
#include "hostile_support.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

TEST(memory_faults, every_allocation_of_a_run_fails_cleanly)
{
    testing::temp_folder folder;
    const auto save = folder.file("game.sav");
    testing::write_file(save, testing::small_rich_save());
    const testing::fault_run complete = testing::run_with_faults(save, {});
    ASSERT_EQ(complete.result.exit_code, 0) << complete.result.standard_error;
    ASSERT_GT(complete.allocations, 10u);
    const testing::run_outputs expected = testing::collect_outputs(save);

    bool saw_buffered_report_text = false;
    for (std::uint64_t ordinal = 1; ordinal <= complete.allocations; ++ordinal) {
        testing::plant_older_outputs(save);
        const testing::fault_run failed = testing::run_with_faults(save, {{"ORBSE_FAIL_ALLOCATION", ordinal}});
        SCOPED_TRACE("allocation " + std::to_string(ordinal));
        testing::expect_failure_message(failed.result, "EOutOfMemory", "Out of memory");
        const testing::run_outputs left = testing::collect_outputs(save);
        testing::expect_outputs_of_a_failed_run(left, expected);
        if (!left.report_untouched() && left.report().size() % 128 != 0) {
            saw_buffered_report_text = true;
        }
    }
    // Some failure in the report stage found text in the buffer, and that
    // text reached the file before the message.
    EXPECT_TRUE(saw_buffered_report_text);
}

} // namespace
} // namespace orbse
