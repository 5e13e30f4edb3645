#include "orbsaves/unit_class_index.h"

#include "loaded_saves.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

namespace sb = save_builder;
using source = unit_class_entry::values_source;
using testing::load_bytes;

struct expected_entry {
    std::size_t position;
    std::int32_t unit_type;
    std::int32_t owner;
    source values_source;
    std::uint8_t values_row;
};

void expect_entries(const saveorec& save, std::size_t length, const std::vector<expected_entry>& expected)
{
    ASSERT_EQ(save.unit_class_index.size(), length);
    for (const auto& entry : expected) {
        const unit_class_entry& built = save.unit_class_index[entry.position];
        EXPECT_EQ(built.unit_type, entry.unit_type) << "entry " << entry.position;
        EXPECT_EQ(built.owner, entry.owner) << "entry " << entry.position;
        EXPECT_EQ(built.source, entry.values_source) << "entry " << entry.position;
        EXPECT_EQ(built.values_row, entry.values_row) << "entry " << entry.position;
    }
}

TEST(build_class_index, four_plain_groups_give_372_entries_red_to_gray)
{
    const auto save = load_bytes(sb::build_save(sb::empty_save(70)));
    expect_entries(*save, 372,
                   {
                       {0, -1, red, source::units_block, 0},
                       {1, 0, red, source::units_block, 1},
                       {92, 91, red, source::units_block, 92},
                       {93, -1, green, source::units_block, 0},
                       {185, 91, green, source::units_block, 92},
                       {186, -1, blue, source::units_block, 0},
                       {278, 91, blue, source::units_block, 92},
                       {279, -1, gray, source::units_block, 0},
                       {371, 91, gray, source::units_block, 92},
                   });
    EXPECT_EQ(save->unit_store.object_counter, 372);
}

TEST(build_class_index, flagged_updates_follow_their_block_and_post_updates_stay_zero)
{
    auto description = sb::empty_save(70);
    description.groups[red].updates = {{5, 0, {}}, {40, 0, {}}};
    description.groups[red].post_updates.resize(2);
    description.groups[blue].post_updates.resize(1);
    description.groups[blue].updates = {{92, 0, {}}};
    sb::number_objects(description);
    const auto save = load_bytes(sb::build_save(description));
    // Red: 93 + 2 + 2 = 97 entries; green 93; blue 93 + 1 + 1; gray 93.
    expect_entries(*save, 378,
                   {
                       {93, 4, red, source::units_updates, 5},
                       {94, 39, red, source::units_updates, 40},
                       {95, 0, 0, source::none, 0},
                       {96, 0, 0, source::none, 0},
                       {97, -1, green, source::units_block, 0},
                       {190, -1, blue, source::units_block, 0},
                       {283, 91, blue, source::units_updates, 92},
                       // A blue post-update record belongs to nobody.
                       {284, 0, 0, source::none, 0},
                       {285, -1, gray, source::units_block, 0},
                       {377, 91, gray, source::units_block, 92},
                   });
    EXPECT_EQ(save->unit_store.object_counter, 378);
}

TEST(build_class_index, an_index_past_65535_seeds_the_counter_with_its_low_16_bits)
{
    const auto save = load_bytes(sb::build_save(testing::save_with_index_length(65536 + 371)));
    EXPECT_EQ(save->unit_class_index.size(), 65907u);
    EXPECT_EQ(save->unit_class_index[0].unit_type, -1);
    EXPECT_EQ(save->unit_store.object_counter, 371);
}

TEST(find_unit_type, a_unit_class_names_the_row_of_its_index_entry_or_nothing)
{
    auto description = sb::empty_save(70);
    description.groups[red].post_updates.resize(1);
    sb::number_objects(description);
    const auto save = load_bytes(sb::build_save(description));
    struct lookup {
        std::uint16_t unit_class;
        const char* internal_name; // null: no row
    };
    for (const auto& [unit_class, internal_name] : std::vector<lookup>{
             {0, nullptr},             // the first object of red's block is stored as -1
             {52, "TANK"},             // red row 52 is stored as 51
             {93, "COMM_TOWER"},       // the red post-update record: an all-zero entry, so row 0
             {94, nullptr},            // green row 0: -1
             {95, "COMM_TOWER"},       // green row 1
             {372, "HARVESTER"},       // gray row 92, the last entry: no entry names row 92
             {373, nullptr},           // past the index
             {0xFFFF, nullptr},
         }) {
        const unit_type_row* row = find_unit_type(*save, unit_class);
        if (internal_name == nullptr) {
            EXPECT_EQ(row, nullptr) << unit_class;
        } else {
            ASSERT_NE(row, nullptr) << unit_class;
            EXPECT_EQ(row->internal_name, internal_name) << unit_class;
        }
    }
}

} // namespace
} // namespace orbse
