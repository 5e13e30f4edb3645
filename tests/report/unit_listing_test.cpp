#include "report/unit_listing.h"

#include "report/info_report.h"

#include "orbsaves/loaded_saves.h"
#include "report_capture.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

namespace sb = save_builder;

std::string listing_of(const sb::save_description& description)
{
    const auto save = testing::load_bytes(sb::build_save(description));
    return testing::captured_report([&](text_channel& report_output) { write_unit_listing(*save, report_output); });
}

// A unit of red's block whose unit_class resolves to type row `row` (0 to
// 91): entry row + 1 of the index holds the stored row - 1 + 1.
sb::unit_description unit_of_row(int row)
{
    sb::unit_description unit;
    unit.unit_class = static_cast<std::uint16_t>(row + 1);
    return unit;
}

std::string type_line_of(std::uint16_t unit_class)
{
    auto description = sb::empty_save(70);
    sb::unit_description unit;
    unit.unit_class = unit_class;
    description.unit_lists = {{{sb::new_unit(0, {unit})}}};
    sb::number_units(description);
    const auto lines = testing::crlf_lines(listing_of(description));
    return lines.size() == 13 ? lines[1] : "(not 13 lines)";
}

TEST(write_unit_listing, an_empty_store_writes_nothing_between_units_and_the_last_line)
{
    const auto save = testing::load_bytes(sb::build_save(sb::empty_save(70)));
    const auto lines = testing::crlf_lines(
        testing::captured_report([&](text_channel& report_output) { write_info_report(*save, report_output); }));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Units:");
    EXPECT_EQ(lines.back(), "");
}

TEST(write_unit_listing, a_unit_prints_thirteen_lines_of_its_fields)
{
    auto description = sb::empty_save(70);
    sb::unit_description unit = unit_of_row(51);
    unit.selected = 1;
    unit.speed_now = 65535;
    unit.unk1 = 100;
    unit.unk2 = 0x8000;
    unit.unk3 = 255;
    unit.unk4 = 4;
    unit.unk5 = 5;
    unit.unk6 = 0;
    unit.unk7 = 128;
    unit.unk8 = 8;
    unit.unkf1 = 1;
    unit.unkf1_extra = 9;
    unit.data.fill(0xEE); // bytes outside the named fields print nowhere
    description.unit_lists = {{{sb::new_unit(0, {unit})}}};
    sb::number_units(description);
    EXPECT_EQ(listing_of(description), "Unit 0:0:\r\n"
                                       " Type=TANK:tank\r\n"
                                       " Selected= 1\r\n"
                                       " SpeedNow= 65535\r\n"
                                       " unk1= 100\r\n"
                                       " unk2= 32768\r\n"
                                       " unk3= 255\r\n"
                                       " unk4= 4\r\n"
                                       " unk5= 5\r\n"
                                       " unk6= 0\r\n"
                                       " unk7= 128\r\n"
                                       " unk8= 8\r\n"
                                       " unkf1=1\r\n");
}

TEST(write_unit_listing, the_type_line_names_the_row_of_the_units_index_entry)
{
    struct type_case {
        std::uint16_t unit_class;
        const char* line;
    };
    for (const auto& [unit_class, line] : std::vector<type_case>{
             {52, " Type=TANK:tank"},
             {5, " Type=SHIELD_GEN:"},         // an empty file stem
             {44, " Type=LAND EXPLOSION:-"},
             {53, " Type=ASSUALT GUN:asgun"},  // spelt as the game spells it
             {92, " Type=HARVESTER:-"},
             {93, " Type=Unknown:"},           // green row 0 is stored as -1
             {0, " Type=Unknown:"},            // so is red row 0
             {371, " Type=HARVESTER:-"},       // the last entry of the index
             {372, " Type=Unknown:"},          // one past it
             {65535, " Type=Unknown:"},
         }) {
        EXPECT_EQ(type_line_of(unit_class), line) << unit_class;
    }
}

TEST(write_unit_listing, references_print_nothing_but_keep_every_position)
{
    auto description = sb::empty_save(70);
    for (int list = 0; list < 5; ++list) {
        description.unit_lists.push_back({{sb::reference(1), sb::reference(2)}});
    }
    description.unit_lists.push_back({{sb::reference(3), sb::new_unit(0, {unit_of_row(4)}), sb::reference(4),
                                       sb::new_unit(0, {unit_of_row(43)})}});
    description.unit_lists.push_back({{sb::new_unit(0, {unit_of_row(0)})}});
    sb::number_units(description);
    const auto lines = testing::crlf_lines(listing_of(description));
    ASSERT_EQ(lines.size(), 3u * 13);
    EXPECT_EQ(lines[0], "Unit 5:1:");
    EXPECT_EQ(lines[1], " Type=SHIELD_GEN:");
    EXPECT_EQ(lines[13], "Unit 5:3:");
    EXPECT_EQ(lines[14], " Type=LAND EXPLOSION:-");
    EXPECT_EQ(lines[26], "Unit 6:0:");
    EXPECT_EQ(lines[27], " Type=COMM_TOWER:gref");
}

} // namespace
} // namespace orbse
