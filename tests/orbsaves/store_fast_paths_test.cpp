// The unit store's segments and the reader's bulk paths: long paths come in
// pieces and runs of reference slots straight from the read-ahead, and
// both must store what the field-by-field reading stores and fail where it
// fails, with the same codes, wherever a piece or a read-ahead ends.
#include "loaded_saves.h"
#include "orbsaves/segmented_array.h"
#include "support/failing_file_operation.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::load_bytes;
using testing::load_failure_code;

template <typename T, std::size_t first_segment_bytes>
void expect_counting(const segmented_array<T, first_segment_bytes>& array, std::size_t count)
{
    ASSERT_EQ(array.size(), count);
    for (std::size_t index = 0; index < count; ++index) {
        ASSERT_EQ(array[index], static_cast<T>(index * 7 + 1)) << "element " << index;
    }
}

template <typename array>
void keeps_every_element_across_segment_boundaries()
{
    const std::size_t second_start = array::first_segment_length;
    const std::size_t third_start = second_start + array::segment_length;
    for (const std::size_t count : {std::size_t{1}, second_start - 1, second_start, second_start + 1,
                                    third_start, third_start + 3}) {
        SCOPED_TRACE(count);
        array appended_one_by_one;
        for (std::size_t index = 0; index < count; ++index) {
            appended_one_by_one.append(static_cast<std::uint32_t>(index * 7 + 1));
        }
        expect_counting(appended_one_by_one, count);

        array appended_in_stretches;
        std::size_t next = 0;
        appended_in_stretches.append_stretches(count, [&](std::span<std::uint32_t> stretch) {
            for (auto& element : stretch) {
                element = static_cast<std::uint32_t>(next++ * 7 + 1);
            }
        });
        expect_counting(appended_in_stretches, count);

        // What a later path does when it replaces an earlier one: forget
        // the tail and write it again over the same segments.
        const std::size_t kept = count / 2;
        appended_in_stretches.shrink_to(kept);
        for (std::size_t index = kept; index < count; ++index) {
            appended_in_stretches.append(static_cast<std::uint32_t>(index * 7 + 1));
        }
        expect_counting(appended_in_stretches, count);
        appended_in_stretches.append(static_cast<std::uint32_t>(count * 7 + 1));
        expect_counting(appended_in_stretches, count + 1);

        const array moved = std::move(appended_in_stretches);
        expect_counting(moved, count + 1);
    }
}

TEST(segmented_array, keeps_every_element_across_segment_boundaries)
{
    {
        SCOPED_TRACE("a first segment of 64 KB");
        keeps_every_element_across_segment_boundaries<segmented_array<std::uint32_t>>();
    }
    {
        SCOPED_TRACE("a first segment of 4 KB, as the unit records have");
        keeps_every_element_across_segment_boundaries<segmented_array<std::uint32_t, 4 * 1024>>();
    }
}

TEST(segmented_bits, clear_runs_and_set_bits_keep_their_places)
{
    segmented_bits bits;
    std::vector<bool> expected;
    // Runs of clear bits of every length around a 64-bit word, each closed
    // by a set bit.
    for (std::size_t run = 0; run < 200; run += 13) {
        bits.append_zeros(run);
        expected.insert(expected.end(), run, false);
        bits.append(true);
        expected.push_back(true);
    }
    ASSERT_EQ(bits.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(bits[index], expected[index]) << "bit " << index;
    }
}

// Past both the reader's piece (2,048 points) and its read-ahead (32,768
// points).
constexpr std::size_t long_path_points = 65535;

std::vector<std::uint16_t> counting_points(std::size_t count, std::uint16_t first)
{
    std::vector<std::uint16_t> points(count);
    for (std::size_t index = 0; index < count; ++index) {
        points[index] = static_cast<std::uint16_t>(first + index * 3);
    }
    return points;
}

sb::unit_description unit_with_path(std::vector<std::uint16_t> points)
{
    sb::unit_description unit;
    unit.path = sb::path_description{{1, 2, 3}, std::move(points), 9};
    return unit;
}

// Two lists: three units with long paths, then reference runs longer than a
// read-ahead around one new unit; a tail after them.
sb::save_description long_paths_and_reference_runs()
{
    auto save = sb::empty_save(70);
    sb::unit_list_description paths;
    for (std::uint16_t path = 0; path < 3; ++path) {
        paths.slots.push_back(sb::new_unit(1, {unit_with_path(counting_points(long_path_points, path))}));
    }
    sb::unit_list_description references;
    references.slots.assign(40000, sb::reference(7));
    references.slots.push_back(sb::new_unit(2, {sb::unit_description{}}));
    references.slots.insert(references.slots.end(), 25000, sb::reference(8));
    save.unit_lists = {paths, references};
    sb::number_units(save);
    save.tail = {0xA5, 0x5A};
    return save;
}

TEST(unit_stream_fast_paths, long_paths_and_reference_runs_load_as_written)
{
    const auto description = long_paths_and_reference_runs();
    const auto save = load_bytes(sb::build_save(description));
    const unidefa& store = save->unit_store;

    ASSERT_EQ(store.units.size(), 4u);
    for (std::uint16_t path = 0; path < 3; ++path) {
        EXPECT_EQ(testing::path_points_of(store, store.units[path]), counting_points(long_path_points, path))
            << "path " << path;
    }
    const auto slots = testing::slots_of(store);
    ASSERT_EQ(slots.size(), 3u + 40000u + 1u + 25000u);
    const std::uint16_t new_unit_number = description.unit_lists[1].slots[40000].object_number;
    for (std::size_t slot = 0; slot < 65001; ++slot) {
        const testing::slot_seen& seen = slots[3 + slot];
        const bool is_new = slot == 40000;
        ASSERT_EQ(seen, (testing::slot_seen{1, slot, is_new ? new_unit_number : std::uint16_t(slot < 40000 ? 7 : 8),
                                            is_new}));
    }
    EXPECT_EQ(testing::tail_bytes(*save), (sb::bytes{0xA5, 0x5A}));
}

// Ends of a piece and of a read-ahead, each with its neighbours and the
// middle of the value there.
std::vector<std::size_t> cuts_around(std::size_t start, std::size_t length)
{
    std::vector<std::size_t> cuts;
    for (const std::size_t boundary : {std::size_t{2 * 2048}, std::size_t{64 * 1024}, std::size_t{128 * 1024}}) {
        for (const std::size_t near : {boundary - 2, boundary - 1, boundary, boundary + 1, boundary + 2}) {
            if (near < length) {
                cuts.push_back(start + near);
            }
        }
    }
    cuts.push_back(start + 1);
    cuts.push_back(start + length - 1);
    return cuts;
}

// Where the unit stream of a description begins: the size of the same save
// without lists, closing size or tail.
std::size_t stream_start(sb::save_description save)
{
    save.unit_lists.clear();
    save.closing_zero_size = false;
    save.tail.clear();
    return sb::build_save(save).size();
}

TEST(unit_stream_fast_paths, a_cut_inside_a_long_path_or_a_reference_run_reads_beyond_the_end)
{
    const auto description = long_paths_and_reference_runs();
    const sb::bytes content = sb::build_save(description);
    constexpr std::size_t list_size_bytes = 2;
    constexpr std::size_t unit_head = 2 + 2 + unit_data_size; // number, class word, unit data
    constexpr std::size_t path_head = 4 * 2;
    constexpr std::size_t unit_words_after_path = 4 * 2 + 2; // unit_class to link_kind, unkf1
    constexpr std::size_t path_slot = unit_head + path_head + 2 * long_path_points + 2 + unit_words_after_path;
    const std::size_t first_points = stream_start(description) + list_size_bytes + unit_head + path_head;
    const std::size_t first_references = stream_start(description) + list_size_bytes + 3 * path_slot + list_size_bytes;

    std::vector<std::size_t> cuts = cuts_around(first_points, 2 * long_path_points);
    const std::vector<std::size_t> reference_cuts = cuts_around(first_references, 2 * 40000);
    cuts.insert(cuts.end(), reference_cuts.begin(), reference_cuts.end());
    // The cuts lie where the description says, or they prove nothing.
    ASSERT_EQ(content[first_references], 7);
    ASSERT_EQ(content[first_references + 2 * 40000 - 2], 7);
    for (const std::size_t cut : cuts) {
        ASSERT_LT(cut, content.size());
        const sb::bytes cut_content(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(load_failure_code(cut_content), read_beyond_end) << "cut at " << cut;
    }
}

// Fails the read of the platform numbered `failing` (from 1) with `code`.
struct failing_read : testing::failing_file_operation {
    explicit failing_read(std::uint64_t failing, platform::error_code code = 0)
        : failing_file_operation(platform::seam::file_operation::read, failing, code)
    {
    }
};

TEST(unit_stream_fast_paths, every_failing_read_of_the_platform_ends_the_load_with_its_code)
{
    const sb::bytes content = sb::build_save(long_paths_and_reference_runs());
    testing::temp_folder folder;
    const auto path = folder.file("game.sav");
    testing::write_file(path, content);
    std::uint64_t reads_of_a_whole_load = 0;
    {
        const failing_read none(0);
        auto save = std::make_unique<saveorec>();
        load_save(*save, path);
        reads_of_a_whole_load = testing::failing_file_operation::operations_seen();
    }
    ASSERT_GT(reads_of_a_whole_load, 4u) << "the save should take several read-aheads";
    constexpr platform::error_code device_not_ready = 21;
    for (std::uint64_t failing = 1; failing <= reads_of_a_whole_load; ++failing) {
        const failing_read fault(failing, device_not_ready);
        auto save = std::make_unique<saveorec>();
        std::int32_t code = 0;
        try {
            load_save(*save, path);
        } catch (const io_failure& raised) {
            code = raised.code();
        }
        EXPECT_EQ(code, device_not_ready) << "read " << failing << " of " << reads_of_a_whole_load;
    }
}

} // namespace
} // namespace orbse
