// Runs the real executable on built saves with unit lists, and checks the
// unit listing at the end of the info report line by line, the outputs that
// units must not change, and what the bytes after the stream do.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <regex>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::program_result;
using testing::run_inspector;
using testing::temp_folder;

const char* const output_suffixes[] = {".inf", "_pass.bmp", "_rm1.bmp", "_rm2.bmp"};

sb::unit_description unit(std::uint16_t unit_class, std::uint16_t selected, std::uint16_t speed_now)
{
    sb::unit_description described;
    described.unit_class = unit_class;
    described.selected = selected;
    described.speed_now = speed_now;
    return described;
}

sb::save_description save_with_units()
{
    auto save = sb::empty_save(70);
    save.header.game_name = sb::name("Units");
    // Green's block starts at index position 93 after one red update: 94.
    save.groups[red].updates = {{7, 0, {}}};
    sb::number_objects(save);

    sb::unit_description tank = unit(52, 1, 12); // red row 51
    tank.path = sb::path_description{{3, 0, 1}, {0x0A0B, 0x0C0D, 0x0E0F}, 0};
    tank.unk1 = 40;
    tank.unk3 = 2;
    tank.unkf1 = 1;
    tank.unkf1_extra = 0x7777;

    sb::unit_description transport = unit(94 + 72 + 1, 0, 3); // green row 72
    transport.unk8 = 0xFFFF;
    transport.word_after_link = 1;
    transport.unkf1 = 2;
    sb::unit_description carried = unit(94 + 67 + 1, 0, 0); // green row 67, carried inside
    carried.unk7 = 255;
    carried.path = sb::path_description{{}, {}, 0};

    save.unit_lists = {
        {{sb::new_unit(1, {tank}), sb::new_unit(1, {unit(51, 0, 8)})}},   // red row 50
        {{sb::reference(3), sb::reference(9)}},                           // prints nothing
        {{sb::reference(4), sb::new_unit(2, {transport, carried})}},
        {{sb::new_unit(3, {unit(5, 0, 0)}), sb::new_unit(3, {unit(0, 0, 0)}),
          sb::new_unit(3, {unit(1000, 0, 0)})}},
    };
    sb::number_units(save);
    // After the closing size, bytes that would read as another list.
    save.tail = {0x01, 0x00, 0x05, 0x00, 0xFF};
    return save;
}

const std::string expected_listing =
    "Units:\r\n"
    "Unit 0:0:\r\n"
    " Type=TANK:tank\r\n"
    " Selected= 1\r\n"
    " SpeedNow= 12\r\n"
    " unk1= 40\r\n"
    " unk2= 0\r\n"
    " unk3= 2\r\n"
    " unk4= 0\r\n"
    " unk5= 0\r\n"
    " unk6= 0\r\n"
    " unk7= 0\r\n"
    " unk8= 0\r\n"
    " unkf1=1\r\n"
    "Unit 0:1:\r\n"
    " Type=SCOUT:scout\r\n"
    " Selected= 0\r\n"
    " SpeedNow= 8\r\n"
    " unk1= 0\r\n"
    " unk2= 0\r\n"
    " unk3= 0\r\n"
    " unk4= 0\r\n"
    " unk5= 0\r\n"
    " unk6= 0\r\n"
    " unk7= 0\r\n"
    " unk8= 0\r\n"
    " unkf1=0\r\n"
    // The transport's slot shows the unit it carries, and its own unkf1.
    "Unit 2:1:\r\n"
    " Type=INFANTRY:infantry\r\n"
    " Selected= 0\r\n"
    " SpeedNow= 0\r\n"
    " unk1= 0\r\n"
    " unk2= 0\r\n"
    " unk3= 0\r\n"
    " unk4= 0\r\n"
    " unk5= 0\r\n"
    " unk6= 0\r\n"
    " unk7= 255\r\n"
    " unk8= 0\r\n"
    " unkf1=2\r\n"
    "Unit 3:0:\r\n"
    " Type=SHIELD_GEN:\r\n"
    " Selected= 0\r\n"
    " SpeedNow= 0\r\n"
    " unk1= 0\r\n"
    " unk2= 0\r\n"
    " unk3= 0\r\n"
    " unk4= 0\r\n"
    " unk5= 0\r\n"
    " unk6= 0\r\n"
    " unk7= 0\r\n"
    " unk8= 0\r\n"
    " unkf1=0\r\n"
    "Unit 3:1:\r\n"
    " Type=Unknown:\r\n"
    " Selected= 0\r\n"
    " SpeedNow= 0\r\n"
    " unk1= 0\r\n"
    " unk2= 0\r\n"
    " unk3= 0\r\n"
    " unk4= 0\r\n"
    " unk5= 0\r\n"
    " unk6= 0\r\n"
    " unk7= 0\r\n"
    " unk8= 0\r\n"
    " unkf1=0\r\n"
    "Unit 3:2:\r\n"
    " Type=Unknown:\r\n"
    " Selected= 0\r\n"
    " SpeedNow= 0\r\n"
    " unk1= 0\r\n"
    " unk2= 0\r\n"
    " unk3= 0\r\n"
    " unk4= 0\r\n"
    " unk5= 0\r\n"
    " unk6= 0\r\n"
    " unk7= 0\r\n"
    " unk8= 0\r\n"
    " unkf1=0\r\n"
    "\r\n";

struct run_outputs {
    program_result result;
    std::vector<testing::bytes> files;
};

run_outputs inspect(const temp_folder& folder, const std::string& name, const sb::bytes& content)
{
    const auto save = folder.file(name);
    testing::write_file(save, content);
    run_outputs outputs{run_inspector({save}), {}};
    for (const char* suffix : output_suffixes) {
        outputs.files.push_back(testing::file_exists(save + suffix) ? testing::read_file(save + suffix)
                                                                   : testing::bytes{});
    }
    return outputs;
}

std::string text_of(const testing::bytes& content) { return std::string(content.begin(), content.end()); }

TEST(inspector_units, lists_every_new_unit_after_the_rest_of_the_report)
{
    temp_folder folder;
    const auto with_units = save_with_units();
    auto without_units = with_units;
    without_units.unit_lists.clear();
    without_units.tail.clear();

    const run_outputs listed = inspect(folder, "units.sav", sb::build_save(with_units));
    const run_outputs plain = inspect(folder, "plain.sav", sb::build_save(without_units));
    for (const run_outputs* run : {&listed, &plain}) {
        EXPECT_EQ(run->result.exit_code, 0);
        EXPECT_EQ(run->result.standard_output, "");
        EXPECT_EQ(run->result.standard_error, "");
    }
    // Units change nothing but the listing: the pictures are the same, and
    // the report is the plain one with the units between "Units:" and its
    // last empty line.
    const std::string plain_report = text_of(plain.files[0]);
    const std::string plain_ending = "Units:\r\n\r\n";
    ASSERT_TRUE(plain_report.ends_with(plain_ending));
    EXPECT_EQ(text_of(listed.files[0]),
              plain_report.substr(0, plain_report.size() - plain_ending.size()) + expected_listing);
    for (std::size_t picture = 1; picture < std::size(output_suffixes); ++picture) {
        EXPECT_EQ(listed.files[picture].size(), 3211318u);
        EXPECT_EQ(listed.files[picture], plain.files[picture]) << output_suffixes[picture];
    }
}

TEST(inspector_units, bytes_after_the_stream_are_kept_and_a_stream_cut_short_fails)
{
    temp_folder folder;
    auto description = save_with_units();
    const sb::bytes with_tail = sb::build_save(description);
    description.tail.clear();
    description.closing_zero_size = false;
    const sb::bytes ending_after_a_list = sb::build_save(description);
    ASSERT_EQ(ending_after_a_list.size() + 2 + 5, with_tail.size());

    const run_outputs tail_kept = inspect(folder, "tail.sav", with_tail);
    const run_outputs no_tail = inspect(folder, "end.sav", ending_after_a_list);
    for (const run_outputs* run : {&tail_kept, &no_tail}) {
        EXPECT_EQ(run->result.exit_code, 0);
        EXPECT_EQ(run->result.standard_error, "");
        EXPECT_TRUE(text_of(run->files[0]).ends_with(expected_listing));
    }

    for (const std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{100}}) {
        const sb::bytes short_save(ending_after_a_list.begin(),
                                   ending_after_a_list.end() - static_cast<std::ptrdiff_t>(cut));
        const run_outputs failed = inspect(folder, "cut.sav", short_save);
        EXPECT_EQ(failed.result.exit_code, 1) << cut;
        EXPECT_TRUE(std::regex_match(failed.result.standard_error,
                                     std::regex("Exception EInOutError in module " +
                                                testing::module_name_pattern(testing::inspector_path()) +
                                                " at [0-9A-F]{8}\\.\r\n"
                                                "Read beyond end of file\\.\r\n\r\n")))
            << failed.result.standard_error;
        for (const auto& output : failed.files) {
            EXPECT_TRUE(output.empty()) << "a failed load wrote an output";
        }
    }
    // One byte where a list size should follow a complete list.
    auto one_more_byte = ending_after_a_list;
    one_more_byte.push_back(0);
    EXPECT_EQ(inspect(folder, "odd.sav", one_more_byte).result.exit_code, 1);
}

} // namespace
} // namespace orbse
