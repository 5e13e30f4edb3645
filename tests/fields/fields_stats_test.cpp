// orbse-fields stats over saves the save builder makes, whose fields take
// known values: the lines count, range and name exactly those values.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::lines_of;

// A unit of class `unit_class` whose unk1 is `unk1`, whose unk4 is 7 in
// every save, and whose unk5 follows its class.
sb::unit_description unit_of(std::uint16_t unit_class, std::uint16_t unk1)
{
    sb::unit_description unit;
    unit.unit_class = unit_class;
    unit.unk1 = unk1;
    unit.unk4 = 7;
    unit.unk5 = static_cast<std::uint16_t>(unit_class * 100);
    return unit;
}

// Save `index` of a series: two units, of classes 10 and 20, the second
// linking one of class 10 that links one of class 30, the words after each
// link telling the level; unk1 takes 1, 2 and 3 over the series; byte 100
// of the red player's loses is the save's index; the tail is index + 1
// bytes of 0xab.
sb::save_description series_save(std::uint16_t index)
{
    auto save = sb::empty_save(70);
    save.players[0].loses[100] = static_cast<std::uint8_t>(index);
    std::vector<sb::unit_description> chain{unit_of(20, 2), unit_of(10, 3), unit_of(30, 4)};
    chain[0].word_after_link = 60;
    chain[1].word_after_link = 61;
    save.unit_lists = {{{sb::new_unit(2, {unit_of(10, static_cast<std::uint16_t>(1 + index % 3))}),
                         sb::new_unit(1, chain)}}};
    save.closing_zero_size = true;
    save.tail.assign(index + 1u, 0xab);
    sb::number_units(save);
    return save;
}

// Writes `count` saves of the series into the folder; returns their paths.
std::vector<std::string> write_series(const testing::temp_folder& folder, std::uint16_t count)
{
    std::vector<std::string> paths;
    for (std::uint16_t index = 0; index < count; ++index) {
        paths.push_back(folder.file("save" + std::to_string(index) + ".sav"));
        sb::write_file(paths.back(), sb::build_save(series_save(index)));
    }
    return paths;
}

// The fields' lines of the output whose first line begins with one of
// `starts`, in order: that line and the indented ones of its bytes.
std::vector<std::string> lines_starting(const std::string& output, const std::vector<std::string>& starts)
{
    std::vector<std::string> kept;
    bool in_kept_field = false;
    for (const auto& line : lines_of(output)) {
        if (line.rfind("  ", 0) != 0) {
            in_kept_field = std::any_of(starts.begin(), starts.end(),
                                        [&](const std::string& start) { return line.rfind(start, 0) == 0; });
        }
        if (in_kept_field) {
            kept.push_back(line);
        }
    }
    return kept;
}

struct stats_case {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> starts; // of the lines looked at
    std::vector<std::string> lines;
};

TEST(fields_stats, counts_ranges_and_constant_bytes_of_known_fields)
{
    const std::string unit = "units.lists[*].slots[*].unit.";
    const std::vector<stats_case> cases{
        {"a field constant in every unit, of both levels of a chain",
         {},
         {unit + "unk4 ", unit + "linked[*].unk4 "},
         {unit + "unk4 u8: 6 times, always 7", unit + "linked[*].unk4 u8: 6 times, always 7"}},
        {"a field that takes three values",
         {},
         {unit + "unk1 "},
         {unit + "unk1 u16: 6 times, 1 to 3, 3 distinct: 2 (4), 1 (1), 3 (1)"}},
        {"a raw stretch with one byte that varies",
         {},
         {"players[*].loses "},
         {"players[*].loses raw[176]: 12 times", "  +0 to +99: always " + std::string(200, '0'),
          "  +100: 3 distinct, 00 to 02", "  +101 to +175: always " + std::string(150, '0')}},
        {"a field that follows the unit type, apart for each type",
         {"--by-type"},
         {unit + "unk5 ", unit + "linked[*].unk5 "},
         {unit + "unk5 [type row 9 DEPOT] u16: 3 times, always 1000",
          unit + "unk5 [type row 19 LARGE_CONES] u16: 3 times, always 2000",
          unit + "linked[*].unk5 [type row 9 DEPOT] u16: 3 times, always 1000",
          unit + "linked[*].unk5 [type row 29 RESEARCH_CENTER] u16: 3 times, always 3000"}},
        {"the words the walk comes back to after deeper levels go with their own level's type",
         {"--by-type"},
         {unit + "word_after_link ", unit + "linked[*].word_after_link "},
         {unit + "linked[*].word_after_link [type row 9 DEPOT] u16: 3 times, always 61",
          unit + "word_after_link [type row 19 LARGE_CONES] u16: 3 times, always 60"}},
        {"bytes that only the longer stretches reach",
         {},
         {"tail "},
         {"tail raw[1 to 3]: 3 times", "  +0: always ab", "  +1: always ab (in 2 of 3)", "  +2: always ab (in 1 of 3)"}},
        {"the class word, which comes before the type, follows it too",
         {"--by-type"},
         {unit + "class_word "},
         {unit + "class_word [type row 9 DEPOT] u16: 3 times, always 2",
          unit + "class_word [type row 19 LARGE_CONES] u16: 3 times, always 1"}},
        {"JSON",
         {"--json"},
         {"{\"path\":\"" + unit + "unk4\""},
         {"{\"path\":\"" + unit +
          "unk4\",\"type\":\"u8\",\"count\":6,\"min\":7,\"max\":7,\"distinct\":1,\"more_distinct\":false,"
          "\"most_frequent\":[{\"value\":7,\"count\":6}]}"}},
    };
    const testing::temp_folder folder;
    const auto saves = write_series(folder, 3);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::string> arguments{"stats"};
        arguments.insert(arguments.end(), test.options.begin(), test.options.end());
        arguments.insert(arguments.end(), saves.begin(), saves.end());
        const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        EXPECT_EQ(lines_starting(result.standard_output, test.starts), test.lines);
    }
}

// A path of 1,001 distinct points is more values than are counted exactly:
// the range stays exact and the count says "more than".
TEST(fields_stats, distinct_values_are_counted_up_to_a_cap)
{
    const testing::temp_folder folder;
    auto save = sb::empty_save(70);
    sb::unit_description walker = unit_of(10, 1);
    walker.path.emplace();
    for (std::uint16_t point = 0; point <= 1000; ++point) {
        walker.path->points.push_back(point);
    }
    save.unit_lists = {{{sb::new_unit(2, {walker})}}};
    sb::number_units(save);
    const std::string path = folder.file("long_path.sav");
    sb::write_file(path, sb::build_save(save));
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"stats", path});
    EXPECT_EQ(result.exit_code, 0) << result.standard_error;
    EXPECT_EQ(lines_starting(result.standard_output, {"units.lists[*].slots[*].unit.path.points "}),
              std::vector<std::string>{"units.lists[*].slots[*].unit.path.points u16[]: once, 1001 values, 0 to 1000, "
                                       "more than 1000 distinct; of the first 1000 met, most often: 0 (1), 1 (1), 2 (1), 3 (1), 4 (1)"});
}

// Which saves are counted: a folder's saves, not the other files in it; a
// damaged save is left out whole and named, with exit 1; nothing to count
// is trouble.
TEST(fields_stats, saves_counted_and_left_out)
{
    const testing::temp_folder folder;
    const auto saves = write_series(folder, 2);
    testing::write_text_file(folder.file("notes.txt"), "not a save, read as version 0x6f6e\n");
    // Cut inside the resource layer, which is one read from 12,768 on.
    auto cut = sb::build_save(series_save(2));
    cut.resize(30000);
    const testing::temp_folder damaged_folder;
    const std::string damaged = damaged_folder.file("cut.sav");
    sb::write_file(damaged, cut);
    const testing::temp_folder empty_folder;

    const auto count_of_unk4 = [](const testing::program_result& result) {
        return lines_starting(result.standard_output, {"units.lists[*].slots[*].unit.unk4 "});
    };
    const auto folder_only = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"stats", folder.path().string()});
    EXPECT_EQ(folder_only.exit_code, 0) << folder_only.standard_error;
    EXPECT_EQ(folder_only.standard_error, "");
    EXPECT_EQ(count_of_unk4(folder_only), std::vector<std::string>{"units.lists[*].slots[*].unit.unk4 u8: 4 times, always 7"});

    const auto with_damaged = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"stats", folder.path().string(), damaged});
    EXPECT_EQ(with_damaged.exit_code, 1);
    EXPECT_EQ(count_of_unk4(with_damaged), count_of_unk4(folder_only));
    EXPECT_EQ(with_damaged.standard_error, "orbse-fields: " + damaged + ": damaged save, left out: Read beyond end of file at offset 12768\n");

    const auto nothing = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"stats", empty_folder.path().string()});
    EXPECT_EQ(nothing.exit_code, 2);
    EXPECT_EQ(nothing.standard_output, "");
    EXPECT_EQ(nothing.standard_error, "orbse-fields: no save to count\n");

    const auto only_damaged = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"stats", damaged});
    EXPECT_EQ(only_damaged.exit_code, 2);
    EXPECT_EQ(only_damaged.standard_output, "");
    EXPECT_EQ(only_damaged.standard_error, with_damaged.standard_error + "orbse-fields: no save to count\n");
}

} // namespace
} // namespace orbse
