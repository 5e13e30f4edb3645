// Saves of hostile sizes, each run through the real inspector: every one
// ends cleanly, and the run's peak memory stays within twice the save's size
// plus 16 MB. Time is bounded by the test's own timeout, never asserted.
#include "hostile_support.h"
#include "save_builder.h"

#include <gtest/gtest.h>

#include <random>

namespace orbse {
namespace {

namespace sb = save_builder;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool memory_is_measurable = false; // the sanitizer's shadow memory dwarfs the program's
#else
constexpr bool memory_is_measurable = true;
#endif

constexpr std::uint64_t memory_slack = 16 * 1024 * 1024;

// Runs the save through the fault runner, which is the inspector with a
// measure of its own peak memory.
void expect_bounded_clean_run(const sb::bytes& content, bool loads)
{
    testing::temp_folder folder;
    const auto save = folder.file("hostile.sav");
    testing::write_file(save, content);
    const testing::fault_run run = testing::run_with_faults(save, {});
    if (loads) {
        EXPECT_EQ(run.result.exit_code, 0) << run.result.standard_error;
        EXPECT_EQ(run.result.standard_error, "");
    } else if (run.result.exit_code != 0) {
        testing::expect_some_failure(run.result);
    }
    EXPECT_GT(run.peak_resident_bytes, 0u);
    if (memory_is_measurable) {
        EXPECT_LE(run.peak_resident_bytes, 2 * content.size() + memory_slack)
            << "peak " << run.peak_resident_bytes << " for a save of " << content.size() << " bytes";
    }
}

TEST(hostile_sizes, a_chain_of_a_million_linked_units)
{
    auto description = sb::empty_save(70);
    std::vector<sb::unit_description> chain(1'000'000);
    description.unit_lists = {{{sb::new_unit(1, std::move(chain))}}};
    sb::number_units(description);
    expect_bounded_clean_run(sb::build_save(description), true);
}

TEST(hostile_sizes, lists_of_65535_reference_slots)
{
    auto description = sb::empty_save(70);
    sb::unit_list_description references;
    references.slots.assign(65535, sb::reference(7));
    description.unit_lists.assign(200, references);
    expect_bounded_clean_run(sb::build_save(description), true);
}

TEST(hostile_sizes, paths_of_65535_points)
{
    auto description = sb::empty_save(70);
    sb::unit_description unit;
    unit.path = sb::path_description{{}, std::vector<std::uint16_t>(65535, 3), 0};
    sb::unit_list_description list;
    for (int slot = 0; slot < 100; ++slot) {
        list.slots.push_back(sb::new_unit(1, {unit}));
    }
    description.unit_lists = {list};
    sb::number_units(description);
    expect_bounded_clean_run(sb::build_save(description), true);
}

TEST(hostile_sizes, post_update_counts_of_65535)
{
    auto description = sb::empty_save(70);
    for (auto& group : description.groups) {
        group.post_updates.assign(65535, post_update_record{});
    }
    sb::number_objects(description);
    expect_bounded_clean_run(sb::build_save(description), true);
}

TEST(hostile_sizes, a_tail_of_hundreds_of_megabytes)
{
    auto description = sb::empty_save(70);
    description.tail.assign(300u * 1024 * 1024, 0xA5);
    expect_bounded_clean_run(sb::build_save(description), true);
}

TEST(hostile_sizes, version_0_files_of_random_bytes)
{
    std::mt19937 random(20261208);
    for (const std::size_t size : {std::size_t{1} << 16, std::size_t{1} << 20, std::size_t{8} << 20}) {
        sb::bytes content(size);
        for (auto& byte : content) {
            byte = static_cast<std::uint8_t>(random());
        }
        content[0] = 0;
        content[1] = 0;
        SCOPED_TRACE(size);
        // Random bytes may happen to end the stream cleanly; either way the
        // run ends in one of its two ways, within its memory bound.
        expect_bounded_clean_run(content, false);
    }
}

} // namespace
} // namespace orbse
