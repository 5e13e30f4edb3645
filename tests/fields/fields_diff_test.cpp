// orbse-fields diff on series of built saves that differ in one thing each:
// the lines name exactly that thing, and the exit code says whether the
// saves agree.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;

using change = std::function<void(sb::save_description&)>;

const change unchanged = [](sb::save_description&) {};

sb::unit_description plain_unit(std::uint16_t selected)
{
    sb::unit_description unit;
    unit.selected = selected;
    unit.unit_class = 10;
    return unit;
}

sb::path_description path_through(std::vector<std::uint16_t> points)
{
    sb::path_description path;
    path.points = std::move(points);
    return path;
}

// One list of two units, the first with a path of three points, then a
// reference; the stream closed by its size of 0.
sb::save_description small_save()
{
    auto save = sb::empty_save(70);
    sb::unit_description walker = plain_unit(1);
    walker.path = path_through({10, 11, 12});
    save.unit_lists = {{{sb::new_unit(2, {walker}), sb::new_unit(2, {plain_unit(2)}), sb::reference(7)}}};
    return save;
}

// `count` times `value`, joined by commas.
std::string repeated(const std::string& value, std::size_t count)
{
    std::string joined;
    for (std::size_t at = 0; at < count; ++at) {
        joined += (at == 0 ? "" : ",") + value;
    }
    return joined;
}

using testing::lines_of;

// diff's lines after its first, which names the saves compared ("# saves:
// 1 PATH, 2 PATH" in text, {"saves":[...]} in JSON); none when it wrote none.
std::vector<std::string> compared_lines(const std::string& output)
{
    auto lines = lines_of(output);
    if (!lines.empty()) {
        EXPECT_TRUE(lines[0].starts_with("# saves: 1 ") || lines[0].starts_with("{\"saves\":[\"")) << lines[0];
        lines.erase(lines.begin());
    }
    return lines;
}

struct diff_case {
    const char* name;
    std::vector<change> changes; // one save each, made from the small save
    std::vector<std::string> options;
    int exit_code;
    std::vector<std::string> lines;
};

// Builds one save per change and runs diff on them. The groups keep the
// small save's numbers; the unit stream is numbered after the change, as a
// game would write it.
testing::program_result run_diff(const diff_case& test, const testing::temp_folder& folder)
{
    std::vector<std::string> arguments{"diff"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    for (std::size_t save = 0; save < test.changes.size(); ++save) {
        auto description = small_save();
        test.changes[save](description);
        sb::number_units(description);
        const std::string path = folder.file("save" + std::to_string(save + 1) + ".sav");
        sb::write_file(path, sb::build_save(description));
        arguments.push_back(path);
    }
    return testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
}

void run_cases(const std::vector<diff_case>& cases)
{
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const testing::temp_folder folder;
        const auto result = run_diff(test, folder);
        EXPECT_EQ(result.exit_code, test.exit_code) << result.standard_error;
        EXPECT_EQ(compared_lines(result.standard_output), test.lines);
    }
}

// In the small save the stream begins at 0xce52 (40,156 bytes of fixed part
// and 12,662 of groups), its first slot's unit data at 0xce58 and that
// unit's path 144 bytes later.
TEST(fields_diff, one_field_differs)
{
    run_cases({
        {"the same saves", {unchanged, unchanged}, {}, 0, {}},
        {"a header field",
         {unchanged, [](auto& save) { save.header.save_date = 1000; }},
         {},
         1,
         {"header.save_date 0x000000a6 0 1000"}},
        {"a layer cell",
         {unchanged, [](auto& save) { save.pass_layer[2 * 112 + 5] = 9; }},
         {},
         1,
         {"pass_layer.row[2].column[5] 0x000001c5 0 9"}},
        {"a resource cell",
         {unchanged, [](auto& save) { save.resource_layer[2 * 7] = 4; }},
         {},
         1,
         {"resource_layer.row[0].column[7] 0x000031ee [0,0] [4,0]"}},
        {"a player's research value",
         {[](auto& save) { save.players[1].research[2].labs = 3; }, unchanged},
         {},
         1,
         {"players[1].research[2].labs 0x00009660 3 0"}},
        {"a byte inside unit data",
         {unchanged, [](auto& save) { save.unit_lists[0].slots[0].chain[0].data[43] = 7; }},
         {},
         1,
         {"units.lists[0].slots[0].unit.unit_data@44+3 0x0000ce83 0x0000ce83 00 07"}},
        {"a run of bytes inside a long raw stretch",
         {unchanged, [](auto& save) { save.players[0].loses[100] = save.players[0].loses[101] = 1; }},
         {},
         1,
         {"players[0].loses+100..+101 0x000095bd 0x000095bd 0000 0101"}},
        // The files agree again after the first field, but not to their
        // ends: the comparison goes on to the second.
        {"two fields far apart",
         {unchanged,
          [](auto& save) {
              save.header.save_date = 1000;
              save.unit_lists[0].slots[2] = sb::reference(8);
          }},
         {},
         1,
         {"header.save_date 0x000000a6 0 1000", "units.lists[0].slots[2].object_id 0x0000cfa0 7 (reference to object 7) 8 (reference to object 8)"}},
        // Up to their first difference the saves are walked without their
        // leaves: a leaf that begins before it is still compared.
        {"the second byte of a field",
         {unchanged, [](auto& save) { save.header.save_date = 256; }},
         {},
         1,
         {"header.save_date 0x000000a6 0 256"}},
        {"a slot after other references of its run",
         {[](auto& save) { save.unit_lists[0].slots.insert(save.unit_lists[0].slots.end(), {sb::reference(7), sb::reference(7)}); },
          [](auto& save) { save.unit_lists[0].slots.insert(save.unit_lists[0].slots.end(), {sb::reference(7), sb::reference(9)}); }},
         {},
         1,
         {"units.lists[0].slots[4].object_id 0x0000cfa4 7 (reference to object 7) 9 (reference to object 9)"}},
        {"a series of three saves",
         {unchanged, [](auto& save) { save.header.save_date = 5; }, unchanged},
         {},
         1,
         {"header.save_date 0x000000a6 0 5 0"}},
        // Points compared a stretch at a time: two runs, the longer showing
        // its first 64 points.
        {"points differing in two stretches",
         {[](auto& save) { save.unit_lists[0].slots[0].chain[0].path->points.assign(100, 5); },
          [](auto& save) {
              auto& points = save.unit_lists[0].slots[0].chain[0].path->points;
              points.assign(100, 5);
              points[1] = 6;
              std::fill(points.begin() + 10, points.begin() + 90, std::uint16_t{7});
          }},
         {},
         1,
         {"units.lists[0].slots[0].unit.path.points[1] 0x0000cef2 0x0000cef2 [5] [6]",
          "units.lists[0].slots[0].unit.path.points[10..89] 0x0000cf04 0x0000cf04 [" + repeated("5", 64) + ",...] [" +
              repeated("7", 64) + ",...]"}},
        // The walks pass over what lies before the files' first difference:
        // that is the third save's here, though the second differs first in
        // the same stretch of the files.
        {"a later save differing first",
         {unchanged, [](auto& save) { save.unit_lists[0].slots[0].chain[0].data[43] = 7; },
          [](auto& save) { save.header.save_date = 1000; }},
         {},
         1,
         {"header.save_date 0x000000a6 0 0 1000",
          "units.lists[0].slots[0].unit.unit_data@44+3 0x0000ce83 0x0000ce83 0x0000ce83 00 07 00"}},
        {"as JSON",
         {unchanged, [](auto& save) { save.header.save_date = 1000; }},
         {"--json"},
         1,
         {R"({"path":"header.save_date","offset":166,"type":"u32","values":[0,1000]})"}},
    });
}

TEST(fields_diff, structure_differs)
{
    run_cases({
        {"a unit added to a list",
         {unchanged, [](auto& save) { save.unit_lists[0].slots.push_back(sb::new_unit(3, {plain_unit(3)})); }},
         {},
         1,
         {"units.lists[0].size 0x0000ce52 3 4",
          "units.lists[0].slots[3] 0x0000cfa2 only in save 2: unit, type row 9 DEPOT, object 376",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1"}},
        {"a list added",
         {unchanged, [](auto& save) { save.unit_lists.push_back({{sb::reference(1)}}); }},
         {},
         1,
         {"units.lists[1] 0x0000cfa2 only in save 2"}},
        {"a longer path",
         {unchanged, [](auto& save) { save.unit_lists[0].slots[0].chain[0].path->points.push_back(13); }},
         {},
         1,
         {"units.lists[0].slots[0].unit.path.point_count 0x0000ceee 3 4",
          "units.lists[0].slots[0].unit.path.points[3] - 0x0000cef6 - [13]"}},
        {"a path in one save only",
         {unchanged, [](auto& save) { save.unit_lists[0].slots[1].chain[0].path = path_through({}); }},
         {},
         1,
         {"units.lists[0].slots[1].unit.path_ref 0x0000cf92 0 376",
          "units.lists[0].slots[1].unit.path_kind 0x0000cf94 0 4 (path follows, object 376)",
          "units.lists[0].slots[1].unit.path 0x0000cf96 only in save 2",
          "units.lists[0].slots[1].unit.path 0x0000cf96 numbering shifts after it: 0 +1"}},
        // The first save's stream has ended: the second holds the slots after
        // its run's first alone, and they are named one by one.
        {"references added to a list",
         {unchanged,
          [](auto& save) {
              save.unit_lists[0].slots.insert(save.unit_lists[0].slots.end(),
                                              {sb::reference(1), sb::reference(2), sb::reference(3)});
          }},
         {},
         1,
         {"units.lists[0].size 0x0000ce52 3 6", "units.lists[0].slots[3] 0x0000cfa2 only in save 2: reference to object 1",
          "units.lists[0].slots[4] 0x0000cfa4 only in save 2: reference to object 2",
          "units.lists[0].slots[5] 0x0000cfa6 only in save 2: reference to object 3"}},
        {"a reference where a unit was",
         {unchanged, [](auto& save) { save.unit_lists[0].slots[1] = sb::reference(7); }},
         {},
         1,
         {"units.lists[0].slots[1] 0x0000cf02 unit(375) reference(7)"}},
        {"an updates row with values in one save only",
         {[](auto& save) { save.groups[0].updates = {{3, 0, {}}}; }, unchanged},
         {},
         1,
         // The row is an object of its own: the stream's numbers move up by
         // one, and its units are the same.
         {"groups[0].updates[3].object_number 0x0000a882 0 (row 3 BARRACKS) 4 (row 3 BARRACKS)", "groups[0].updates[3].values 0x0000a884 only in save 1",
          "groups[0].updates[3].values 0x0000a884 numbering shifts after it: 0 -1"}},
        {"a list added where the stream ends with the file",
         {unchanged,
          [](auto& save) {
              save.unit_lists.push_back({{sb::reference(1)}});
              save.closing_zero_size = false;
          }},
         {},
         1,
         // Both saves hold the size of list 1: 0 closes the first's stream.
         {"units.lists[1] 0x0000cfa2 only in save 2", "units.lists[1].size 0x0000cfa2 0 1"}},
        {"a tail in one save only",
         {unchanged, [](auto& save) { save.tail = {1, 2, 3}; }},
         {},
         1,
         {"tail 0x0000cfa4 only in save 2"}},
        {"tails of different lengths",
         {[](auto& save) { save.tail = {1, 2, 3}; }, [](auto& save) { save.tail = {1, 9, 3, 4, 5}; }},
         {},
         1,
         {"tail+1 0x0000cfa5 0x0000cfa5 02 09", "tail+3..+4 - 0x0000cfa7 - 0405"}},
        // The bytes agree to the shorter file's end, where its tail ends too.
        {"a tail that goes on in the other save",
         {[](auto& save) { save.tail = {1, 2, 3}; }, [](auto& save) { save.tail = {1, 2, 3, 4, 5}; }},
         {},
         1,
         {"tail+3..+4 - 0x0000cfa7 - 0405"}},
        // The same where the shorter file ends with a piece of the bytes'
        // comparison (64 + 128 KB).
        {"a tail that goes on, the shorter file ending with a piece",
         {[](auto& save) { save.tail.assign(196608 - 0xcfa4, 0xA5); },
          [](auto& save) { save.tail.assign(196608 - 0xcfa4 + 1, 0xA5); }},
         {},
         1,
         {"tail+143452 - 0x00030000 - a5"}},
        // Read again from the file in pieces of 64 KB: the runs are found
        // across the pieces' borders.
        {"long tails, bytes differing across a piece's border and at the end",
         {[](auto& save) { save.tail.assign(200000, 0xA5); },
          [](auto& save) {
              save.tail.assign(200003, 0xA5);
              save.tail[65535] = save.tail[65536] = 1;
          }},
         {},
         1,
         {"tail+65535..+65536 0x0001cfa3 0x0001cfa3 a5a5 0101", "tail+200000..+200002 - 0x0003dce4 - a5a5a5"}},
        {"a chain of linked units one level deeper",
         {unchanged, [](auto& save) { save.unit_lists[0].slots[1].chain.push_back(plain_unit(4)); }},
         {},
         1,
         {"units.lists[0].slots[1].unit.link_ref 0x0000cf9a 0 376", "units.lists[0].slots[1].unit.link_kind 0x0000cf9c 0 5 (linked unit follows, object 376)",
          "units.lists[0].slots[1].unit.linked[1] 0x0000cf9e only in save 2",
          "units.lists[0].slots[1].unit.linked[1] 0x0000cf9e numbering shifts after it: 0 +1"}},
        {"another version",
         {unchanged, [](auto& save) { save.header.version = 69; }},
         {},
         1,
         {"header.version 0x00000000 70 69", "header.alien_player 0x000000a0 only in save 1",
          "header.reserved 0x000000a1 only in save 1", "header.version_69_byte 0x000000a0 only in save 2",
          "block40 0x00009cb4 only in save 1", "block36 0x00009caf only in save 2"}},
        {"a record only in some saves of three, as JSON",
         {unchanged, [](auto& save) { save.tail = {1}; }, [](auto& save) { save.tail = {1}; }},
         {"--json"},
         1,
         {R"({"path":"tail","offset":53156,"only_in":[2,3]})"}},
    });
}

// A turn of the game: three lists of units of their own types (unit_class
// 10 and on), one with a path, a reference to a group's object and one to
// the first list's second unit. `selected` tells the units apart; a slot
// whose number is 0xF000 + N refers to the unit whose `selected` is N, as
// the game writes it once the units are numbered.
sb::unit_description unit_of_type(std::uint16_t selected, std::uint16_t unit_class)
{
    sb::unit_description unit = plain_unit(selected);
    unit.unit_class = unit_class;
    return unit;
}

constexpr std::uint16_t refers_to_unit = 0xF000;

sb::save_description turn_save()
{
    auto save = sb::empty_save(70);
    sb::unit_description with_path = unit_of_type(2, 11);
    with_path.path = path_through({10, 11, 12});
    save.unit_lists = {
        {{sb::new_unit(2, {unit_of_type(1, 10)}), sb::new_unit(2, {with_path}), sb::reference(7),
          sb::new_unit(2, {unit_of_type(3, 12)})}},
        {{sb::new_unit(2, {unit_of_type(4, 13)}), sb::reference(refers_to_unit + 2)}},
        {{sb::new_unit(2, {unit_of_type(5, 14)})}},
    };
    return save;
}

// Numbers the units as the game does and points each reference to a unit
// at that unit's number.
void number_turn(sb::save_description& save)
{
    sb::number_units(save);
    for (auto& list : save.unit_lists) {
        for (auto& slot : list.slots) {
            if (slot.chain.empty() && slot.object_number > refers_to_unit) {
                for (const auto& other_list : save.unit_lists) {
                    for (const auto& other : other_list.slots) {
                        if (!other.chain.empty() && other.chain[0].selected == slot.object_number - refers_to_unit) {
                            slot.object_number = other.object_number;
                        }
                    }
                }
            }
        }
    }
}

using turn = std::function<void(sb::save_description&)>;

// Each save of a series is the turn save changed by the game changes
// given for it, one after another.
std::vector<std::string> diff_turns(const std::vector<std::vector<turn>>& series, const std::vector<std::string>& options,
                                    const testing::temp_folder& folder, int& exit_code)
{
    std::vector<std::string> arguments{"diff"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    for (std::size_t save = 0; save < series.size(); ++save) {
        auto description = turn_save();
        for (const auto& change : series[save]) {
            change(description);
        }
        number_turn(description);
        arguments.push_back(folder.file("turn" + std::to_string(save + 1) + ".sav"));
        sb::write_file(arguments.back(), sb::build_save(description));
    }
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
    exit_code = result.exit_code;
    auto lines = lines_of(result.standard_output);
    std::string saves = options.empty() ? "# saves:" : "{\"saves\":[";
    for (std::size_t save = 0; save < series.size(); ++save) {
        const std::string file = folder.file("turn" + std::to_string(save + 1) + ".sav");
        // A Windows path's backslashes are escaped in JSON.
        std::string json_file;
        for (const char character : file) {
            json_file += character == '\\' ? std::string("\\\\") : std::string(1, character);
        }
        saves += options.empty() ? (save > 0 ? ", " : " ") + std::to_string(save + 1) + " " + file
                                 : (save > 0 ? ",\"" : "\"") + json_file + "\"";
    }
    saves += options.empty() ? "" : "]}";
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
        EXPECT_EQ(lines[0], saves);
        lines.erase(lines.begin());
    }
    return lines;
}

const turn unit_built_at_front = [](auto& save) {
    auto& slots = save.unit_lists[0].slots;
    slots.insert(slots.begin(), sb::new_unit(2, {unit_of_type(9, 20)}));
};
const turn unit_built_in_middle = [](auto& save) {
    auto& slots = save.unit_lists[0].slots;
    slots.insert(slots.begin() + 2, sb::new_unit(2, {unit_of_type(9, 20)}));
};
const turn unit_built_at_end = [](auto& save) { save.unit_lists[0].slots.push_back(sb::new_unit(2, {unit_of_type(9, 20)})); };
const turn unit_destroyed = [](auto& save) { save.unit_lists[0].slots.erase(save.unit_lists[0].slots.begin()); };
const turn reference_added = [](auto& save) {
    auto& slots = save.unit_lists[1].slots;
    slots.insert(slots.begin() + 1, sb::reference(refers_to_unit + 3));
};
const turn unit_loaded = [](auto& save) { save.unit_lists[1].slots[0].chain.push_back(unit_of_type(8, 15)); };
const turn list_added_in_middle = [](auto& save) {
    save.unit_lists.insert(save.unit_lists.begin() + 1, {{sb::new_unit(2, {unit_of_type(7, 16)})}});
};
const turn list_added_at_front = [](auto& save) {
    save.unit_lists.insert(save.unit_lists.begin(), {{sb::new_unit(2, {unit_of_type(7, 16)})}});
};
const turn list_removed_in_middle = [](auto& save) { save.unit_lists.erase(save.unit_lists.begin() + 1); };
// Before a list is added: the last list's unit changed.
const turn last_unit_changed = [](auto& save) { save.unit_lists[2].slots[0].chain[0].unk5 = 9; };
// A unit more at the end of the first list whose path is object `path`,
// met elsewhere rather than inline.
turn unit_referring_to_path(std::uint16_t path)
{
    return [path](auto& save) {
        sb::unit_description unit = unit_of_type(6, 17);
        unit.path_ref = path;
        save.unit_lists[0].slots.push_back(sb::new_unit(2, {unit}));
    };
}
const turn path_made_longer = [](auto& save) { save.unit_lists[0].slots[1].chain[0].path->points.push_back(13); };

TEST(fields_diff, one_turn_of_the_game_is_named_once)
{
    struct turn_case {
        const char* name;
        std::vector<std::vector<turn>> series;
        std::vector<std::string> lines;
        std::vector<std::string> options = {};
    };
    const std::vector<turn_case> cases{
        // Every later number one higher in save 2: the reference to the
        // unit with the path (374 and 375) and the second list's unit (377
        // and 378) are the same objects.
        {"a unit built at the front of a list",
         {{}, {unit_built_at_front}},
         {"units.lists[0].size 0x0000ce52 4 5",
          "units.lists[0].slots[0] 0x0000ce54 only in save 2: unit, type row 19 LARGE_CONES, object 373",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1"}},
        // After the unit with the path (374) and its path (375).
        {"a unit built in the middle of a list",
         {{}, {unit_built_in_middle}},
         {"units.lists[0].size 0x0000ce52 4 5",
          "units.lists[0].slots[2] 0x0000cfa0 only in save 2: unit, type row 19 LARGE_CONES, object 376",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1"}},
        {"a unit built at the end of a list",
         {{}, {unit_built_at_end}},
         {"units.lists[0].size 0x0000ce52 4 5",
          "units.lists[0].slots[4] 0x0000d040 only in save 2: unit, type row 19 LARGE_CONES, object 377",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1"}},
        {"a unit destroyed",
         {{}, {unit_destroyed}},
         {"units.lists[0].size 0x0000ce52 4 3",
          "units.lists[0].slots[0] 0x0000ce54 only in save 1: unit, type row 9 DEPOT, object 373",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 -1"}},
        // A reference is no object: the numbering stays.
        {"a reference added",
         {{}, {reference_added}},
         {"units.lists[1].size 0x0000d040 2 3", "units.lists[1].slots[1] 0x0000d0e0 only in save 2: reference to object 376"}},
        // The linked unit's level is named once, with the word after it, and
        // the number it takes moves the later ones: the unit in the next
        // list is the same.
        {"a unit that loads another",
         {{}, {unit_loaded}},
         {"units.lists[1].slots[0].unit.link_ref 0x0000d0da 0 378", "units.lists[1].slots[0].unit.link_kind 0x0000d0dc 0 5 (linked unit follows, object 378)",
          "units.lists[1].slots[0].unit.linked[1] 0x0000d0de only in save 2",
          "units.lists[1].slots[0].unit.linked[1] 0x0000d0de numbering shifts after it: 0 +1"}},
        // Unloaded: the chain of the first save is the deeper one.
        {"a unit that unloads another",
         {{unit_loaded}, {}},
         {"units.lists[1].slots[0].unit.link_ref 0x0000d0da 378 0", "units.lists[1].slots[0].unit.link_kind 0x0000d0dc 5 (linked unit follows, object 378) 0",
          "units.lists[1].slots[0].unit.linked[1] 0x0000d0de only in save 1",
          "units.lists[1].slots[0].unit.linked[1] 0x0000d0de numbering shifts after it: 0 -1"}},
        // The lists after it are compared with their partners, save 2's
        // list 2 with save 1's list 1: one line for the list, and its unit
        // moves the later numbers up by one.
        {"a list added in the middle",
         {{}, {list_added_in_middle}},
         {"units.lists[1] 0x0000d040 only in save 2: list of 1 slot, 1 unit",
          "units.lists[1] 0x0000d040 numbering shifts after it: 0 +1"}},
        {"a list removed in the middle",
         {{}, {list_removed_in_middle}},
         {"units.lists[1] 0x0000d040 only in save 1: list of 2 slots, 1 unit",
          "units.lists[1] 0x0000d040 numbering shifts after it: 0 -1"}},
        // The reference in list 1 names the unit with the path under
        // another number in each save: list 1 is aligned by list 0 before it.
        {"a list added at the front",
         {{}, {list_added_at_front}},
         {"units.lists[0] 0x0000ce52 only in save 2: list of 1 slot, 1 unit",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1"}},
        // The change is found in save 2's list 3, shown as its partner's list 2.
        {"a list added, and a later unit changed",
         {{}, {last_unit_changed, list_added_in_middle}},
         {"units.lists[1] 0x0000d040 only in save 2: list of 1 slot, 1 unit",
          "units.lists[1] 0x0000d040 numbering shifts after it: 0 +1", "units.lists[2].slots[0].unit.unk5 0x0000d158 0 9"}},
        {"a series: a list added, then a later unit changed",
         {{}, {list_added_in_middle}, {last_unit_changed, list_added_in_middle}},
         {"units.lists[1] 0x0000d040 only in saves 2 3: list of 1 slot, 1 unit",
          "units.lists[1] 0x0000d040 numbering shifts after it: 0 +1 +1", "units.lists[2].slots[0].unit.unk5 0x0000d158 0 0 9"}},
        {"a series: a list added in the second save only",
         {{}, {list_added_in_middle}, {}},
         {"units.lists[1] 0x0000d040 only in save 2: list of 1 slot, 1 unit",
          "units.lists[1] 0x0000d040 numbering shifts after it: 0 +1 0"}},
        // Lists that changed rather than came or went keep their numbers:
        // the slots of list 1 are aligned.
        {"a list grown, and a later list changed",
         {{}, {reference_added, last_unit_changed}},
         {"units.lists[1].size 0x0000d040 2 3", "units.lists[1].slots[1] 0x0000d0e0 only in save 2: reference to object 376",
          "units.lists[2].slots[0].unit.unk5 0x0000d158 0 9"}},
        {"a path made longer",
         {{}, {path_made_longer}},
         {"units.lists[0].slots[1].unit.path.point_count 0x0000cf8c 3 4",
          "units.lists[0].slots[1].unit.path.points[3] - 0x0000cf94 - [13]"}},
        // Aligned each to the first save: the unit built in save 2 is still
        // there in save 3, where the first unit has gone.
        {"a series: built, then destroyed",
         {{}, {unit_built_in_middle}, {unit_built_in_middle, unit_destroyed}},
         {"units.lists[0].size 0x0000ce52 4 5 4",
          "units.lists[0].slots[0] 0x0000ce54 only in saves 1 2: unit, type row 9 DEPOT, object 373",
          "units.lists[0].slots[2] 0x0000cfa0 only in saves 2 3: unit, type row 19 LARGE_CONES, object 376",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1 0"}},
        // The bytes after the change agree but for the numbers: the saves
        // are passed over there, and a value that differs later is found.
        {"a unit built, and a later unit changed",
         {{}, {unit_built_at_front, [](auto& save) { save.unit_lists[2].slots[0].chain[0].unk5 = 9; }}},
         {"units.lists[0].size 0x0000ce52 4 5",
          "units.lists[0].slots[0] 0x0000ce54 only in save 2: unit, type row 19 LARGE_CONES, object 373",
          "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1", "units.lists[2].slots[0].unit.unk5 0x0000d158 0 9"}},
        // The slots that agree in every field but their objects' numbers
        // are passed over; a path_ref that names an object met elsewhere
        // is no such number, and is compared.
        {"a unit built, and another unit's path_ref to an object met elsewhere changed",
         {{unit_referring_to_path(7)}, {unit_referring_to_path(8), unit_built_at_front}},
         {"units.lists[0].size 0x0000ce52 5 6",
          "units.lists[0].slots[0] 0x0000ce54 only in save 2: unit, type row 19 LARGE_CONES, object 373",
          "units.lists[0].slots[4].unit.path_ref 0x0000d0d0 7 8", "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1"}},
        // A reference only one save holds, and no shift: as JSON.
        {"a reference added, as JSON",
         {{}, {reference_added}},
         {R"({"path":"units.lists[1].size","offset":53312,"type":"u16","values":[2,3]})",
          R"({"path":"units.lists[1].slots[1]","offset":53472,"only_in":[2],"holds":"reference","object":376})"},
         {"--json"}},
        {"a list added, as JSON",
         {{}, {list_added_in_middle}},
         {R"({"path":"units.lists[1]","offset":53312,"only_in":[2],"holds":"list","slots":1,"units":1})",
          R"({"path":"units.lists[1]","offset":53312,"type":"numbering","values":[0,1]})"},
         {"--json"}},
        {"as JSON",
         {{}, {unit_built_in_middle}},
         {R"({"path":"units.lists[0].size","offset":52818,"type":"u16","values":[4,5]})",
          R"({"path":"units.lists[0].slots[2]","offset":53152,"only_in":[2],"holds":"unit","object":376,"unit_type":"type row 19 LARGE_CONES"})",
          R"({"path":"units.lists[0]","offset":52818,"type":"numbering","values":[0,1]})"},
         {"--json"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const testing::temp_folder folder;
        int exit_code = 0;
        const auto lines = diff_turns(test.series, test.options, folder, exit_code);
        EXPECT_EQ(exit_code, 1);
        EXPECT_EQ(lines, test.lines);
    }
}

// Lists held alone are found as far as the lists read ahead reach (8 of
// them): with references alone added, no numbering moves. Beyond that, the
// list of another size has its slots aligned, as any list whose size
// differs, and no list is named alone.
TEST(fields_diff, lists_held_alone_are_found_within_the_lists_read_ahead)
{
    struct reach_case {
        const char* name;
        std::size_t added;
        bool found;
    };
    for (const auto& test : {reach_case{"7 lists added", 7, true}, reach_case{"8 lists added", 8, false}}) {
        SCOPED_TRACE(test.name);
        const turn lists_added = [&](auto& save) {
            for (std::size_t list = 0; list < test.added; ++list) {
                save.unit_lists.insert(save.unit_lists.begin() + 1, {{sb::reference(7)}});
            }
        };
        const testing::temp_folder folder;
        int exit_code = 0;
        const auto lines = diff_turns({{}, {lists_added}}, {}, folder, exit_code);
        EXPECT_EQ(exit_code, 1);
        ASSERT_FALSE(lines.empty());
        if (test.found) {
            std::vector<std::string> expected;
            for (std::size_t list = 1; list <= test.added; ++list) {
                char line[80];
                std::snprintf(line, sizeof line, "units.lists[%zu] 0x%08zx only in save 2: list of 1 slot, 0 units", list,
                              std::size_t{0xd040} + 4 * (list - 1));
                expected.push_back(line);
            }
            EXPECT_EQ(lines, expected);
        } else {
            EXPECT_EQ(lines[0], "units.lists[1].size 0x0000d040 2 1");
            EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
                return line.find(": list of") != std::string::npos;
            }));
        }
    }
}

// A save cut inside the last unit of a list it holds a unit more in: the
// slots up to the cut are aligned and the unit built named; the unit cut
// short, its unit_class unread, is no partner of the whole one (its key and
// its type lack what the cut took), so each is named alone, the cut one
// without a type; then the break. No shift is said for a list read only in
// part, whichever save it is.
TEST(fields_diff, a_save_cut_inside_an_aligned_list)
{
    const testing::temp_folder folder;
    auto before = turn_save();
    number_turn(before);
    auto after = turn_save();
    unit_built_in_middle(after);
    number_turn(after);
    const std::string whole = folder.file("whole.sav");
    const std::string cut = folder.file("cut.sav");
    sb::write_file(whole, sb::build_save(before));
    const auto content = sb::build_save(after);
    sb::write_file(cut, sb::bytes(content.begin(), content.begin() + 0xd080)); // in the list's last unit
    const std::string broken = "Read beyond end of file at 0x0000d044 (53316) reading units.lists[0].slots[4].unit.unit_data: "
                               "needed 144 bytes, 60 left";
    const std::vector<std::string> cut_second{
        "units.lists[0].size 0x0000ce52 4 5",
        "units.lists[0].slots[2] 0x0000cfa0 only in save 2: unit, type row 19 LARGE_CONES, object 376",
        "units.lists[0].slots[3] 0x0000cfa2 only in save 1: unit, type row 11 DOCK, object 376",
        "units.lists[0].slots[4] 0x0000d040 only in save 2: unit, object 377", "error: save 2: " + broken};
    const std::vector<std::string> cut_first{
        "units.lists[0].size 0x0000ce52 5 4",
        "units.lists[0].slots[2] 0x0000cfa0 only in save 1: unit, type row 19 LARGE_CONES, object 376",
        "units.lists[0].slots[4] 0x0000d040 only in save 1: unit, object 377",
        "units.lists[0].slots[3] 0x0000cfa2 only in save 2: unit, type row 11 DOCK, object 376", "error: save 1: " + broken};
    EXPECT_EQ(compared_lines(testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", whole, cut}).standard_output), cut_second);
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", cut, whole});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(compared_lines(result.standard_output), cut_first);
}

// A first save that breaks after an aligned list, in a series: the other
// two are compared on with each other, both still read in the first save's
// numbering. The unit that save 3 alone loads moves its later numbers one
// further than save 2's, and the unit of the last list is the same object
// in both.
TEST(fields_diff, a_series_compared_on_after_the_first_save_breaks)
{
    const testing::temp_folder folder;
    std::vector<std::string> arguments{"diff"};
    for (const auto& changes : std::vector<std::vector<turn>>{{}, {unit_built_at_front}, {unit_built_at_front, unit_loaded}}) {
        auto description = turn_save();
        for (const auto& change : changes) {
            change(description);
        }
        number_turn(description);
        auto content = sb::build_save(description);
        if (arguments.size() == 1) {
            content.resize(0xd050); // in the second list's first unit
        }
        arguments.push_back(folder.file("turn" + std::to_string(arguments.size()) + ".sav"));
        sb::write_file(arguments.back(), content);
    }
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
    EXPECT_EQ(result.exit_code, 1);
    const std::vector<std::string> expected{
        "units.lists[0].size 0x0000ce52 4 5 5",
        "units.lists[0].slots[0] 0x0000ce54 only in saves 2 3: unit, type row 19 LARGE_CONES, object 373",
        "units.lists[0] 0x0000ce52 numbering shifts after it: 0 +1 +1",
        "error: save 1: Read beyond end of file at 0x0000d046 (53318) reading units.lists[1].slots[0].unit.unit_data: needed 144 bytes, "
        "10 left",
        "units.lists[1].slots[0].unit.link_ref 0x0000d178 - 0 379",
        "units.lists[1].slots[0].unit.link_kind 0x0000d17a - 0 5 (linked unit follows, object 379)",
        "units.lists[1].slots[0].unit.linked[1] 0x0000d17c only in save 3",
        "units.lists[1].slots[0].unit.linked[1] 0x0000d17c numbering shifts after it: - +1 +2"};
    EXPECT_EQ(compared_lines(result.standard_output), expected);
}

// Files of one size whose ends hold the same bytes are not taken to agree
// there while their walks count objects differently: the same slot number
// is a reference in one and the next unit in the other.
TEST(fields_diff, the_same_bytes_read_otherwise_after_a_different_count_of_objects)
{
    sb::unit_description walker = plain_unit(1);
    walker.path = path_through({});
    auto with_path = sb::empty_save(70);
    with_path.unit_lists = {{{sb::new_unit(2, {walker})}}, {{sb::reference(374)}}};
    sb::number_units(with_path); // 373 for the unit, 374 for its path
    auto with_references = sb::empty_save(70);
    with_references.unit_lists = {{{sb::new_unit(2, {plain_unit(1)}), sb::reference(1), sb::reference(2),
                                    sb::reference(3), sb::reference(4), sb::reference(5)}}};
    with_references.closing_zero_size = false;
    sb::number_units(with_references);
    const auto first = sb::build_save(with_path);
    auto second = sb::build_save(with_references);
    // Both lists 0 take 170 bytes; the second save goes on with the first's.
    ASSERT_EQ(second.size(), 52988u);
    second.insert(second.end(), first.begin() + 52988, first.end());
    ASSERT_EQ(second.size(), first.size());

    const testing::temp_folder folder;
    sb::write_file(folder.file("one.sav"), first);
    sb::write_file(folder.file("two.sav"), second);
    const auto result =
        testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", folder.file("one.sav"), folder.file("two.sav")});
    EXPECT_EQ(result.exit_code, 1);
    const std::vector<std::string> expected{
        "units.lists[0].size 0x0000ce52 1 6",
        "units.lists[0].slots[0].unit.path_ref 0x0000cee4 374 0",
        "units.lists[0].slots[0].unit.path_kind 0x0000cee6 4 (path follows, object 374) 0",
        "units.lists[0].slots[0].unit.path 0x0000cee8 only in save 1",
        // The path is an object: the first save's later numbers are one higher.
        "units.lists[0].slots[0].unit.path 0x0000cee8 numbering shifts after it: 0 -1",
        "units.lists[0].slots[1] 0x0000cef2 only in save 2: reference to object 1",
        "units.lists[0].slots[2] 0x0000cef4 only in save 2: reference to object 2",
        "units.lists[0].slots[3] 0x0000cef6 only in save 2: reference to object 3",
        "units.lists[0].slots[4] 0x0000cef8 only in save 2: reference to object 4",
        "units.lists[0].slots[5] 0x0000cefa only in save 2: reference to object 5",
        "units.lists[0] 0x0000ce52 numbering shifts after it: 0 -1",
        "units.lists[1].slots[0] 0x0000cefe reference(374) unit(374)",
        "error: save 2: Read beyond end of file at 0x0000cf02 (52994) reading units.lists[1].slots[0].unit.unit_data: "
        "needed 144 bytes, 0 left",
    };
    EXPECT_EQ(compared_lines(result.standard_output), expected);
}

// Lists past the end of the other save's stream: each is one line, at the
// offset the listing gives for its size, though the walk of the longer save
// hands on little more than those sizes once the comparison has seen that.
// Each list holds a path of 65,535 points, so that most of them are walked
// only after that. Cut inside a late list, the save's break is the one
// check reports.
TEST(fields_diff, lists_one_save_holds_alone_after_the_others_stream_has_ended)
{
    constexpr std::size_t lists = 40;
    auto shorter = sb::empty_save(70);
    shorter.unit_lists = {{{sb::reference(7)}}};
    auto longer = shorter;
    for (std::size_t list = 1; list < lists; ++list) {
        sb::unit_description unit = plain_unit(3);
        unit.path = path_through(std::vector<std::uint16_t>(65535, static_cast<std::uint16_t>(list)));
        longer.unit_lists.push_back({{sb::new_unit(2, {unit}), sb::reference(7)}});
    }
    sb::number_units(longer);
    const testing::temp_folder folder;
    const std::string one = folder.file("one.sav");
    const std::string two = folder.file("two.sav");
    const std::string cut = folder.file("cut.sav");
    const auto content = sb::build_save(longer);
    sb::write_file(one, sb::build_save(shorter));
    sb::write_file(two, content);
    sb::write_file(cut, sb::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(content.size() * 3 / 4)));

    // "0x0000cee2 2 u16 units.lists[3].size 1" gives "units.lists[3] 0x0000cee2 only in save 2".
    std::vector<std::string> expected;
    for (const auto& line : lines_of(testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"list", cut}).standard_output)) {
        std::istringstream fields(line);
        std::string offset, size, type, path;
        fields >> offset >> size >> type >> path;
        if (path.starts_with("units.lists[") && path.ends_with("].size") && path != "units.lists[0].size") {
            expected.push_back(path.substr(0, path.size() - 5) + " " + offset + " only in save 2");
        }
    }
    ASSERT_GT(expected.size(), 20u);
    ASSERT_LT(expected.size(), lists - 1);
    const auto cut_result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", one, cut});
    const std::string checked = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"check", cut}).standard_output;
    const std::string damaged = "damaged: ";
    ASSERT_NE(checked.find(damaged), std::string::npos) << checked;
    auto with_break = expected;
    with_break.push_back("error: save 2: " + checked.substr(checked.find(damaged) + damaged.size(),
                                                             checked.size() - checked.find(damaged) - damaged.size() - 1));
    EXPECT_EQ(cut_result.exit_code, 1);
    EXPECT_EQ(compared_lines(cut_result.standard_output), with_break);

    const auto whole = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", one, two});
    EXPECT_EQ(whole.exit_code, 1) << whole.standard_error;
    const auto lines = compared_lines(whole.standard_output);
    ASSERT_EQ(lines.size(), lists - 1);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin()));
    EXPECT_EQ(lines.back().substr(0, lines.back().find(' ')), "units.lists[" + std::to_string(lists - 1) + "]");
}

// The offset `list` gives for the leaf at `path`.
std::string offset_listed(const std::string& save, const std::string& path)
{
    for (const auto& line : lines_of(testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"list", save}).standard_output)) {
        std::istringstream fields(line);
        std::string offset, size, type, listed;
        fields >> offset >> size >> type >> listed;
        if (listed == path) {
            return offset;
        }
    }
    return "none";
}

// Saves of different sizes whose bytes agree from where the walks stand
// alike: the comparison reads the bytes in pieces, and where the shorter
// file ends with a piece, its tail ends there too while the longer one's
// goes on. The shorter file is made to end a piece's length (64 KB) past
// each offset of the unit stream, so past every place where the comparison
// may begin; the saves differ in the header first, so that it begins there.
TEST(fields_diff, a_tail_that_goes_on_where_a_piece_of_the_bytes_compared_ends)
{
    const testing::temp_folder folder;
    auto base = small_save();
    sb::number_units(base);
    const std::string plain = folder.file("plain.sav");
    sb::write_file(plain, sb::build_save(base));
    const std::uint64_t tail_offset = std::filesystem::file_size(plain);
    constexpr std::uint64_t stream_start = 0xce52;
    std::set<std::uint64_t> places;
    for (const auto& line : lines_of(testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"list", plain}).standard_output)) {
        const std::uint64_t offset = std::stoull(line.substr(0, line.find(' ')), nullptr, 16);
        if (offset >= stream_start && offset < tail_offset) {
            places.insert(offset);
        }
    }
    ASSERT_GT(places.size(), 10U);
    for (const auto place : places) {
        const std::size_t length = place + 64 * 1024 - tail_offset;
        SCOPED_TRACE(length);
        auto shorter = base;
        shorter.header.save_date = 1000;
        shorter.tail.assign(length, 0xA5);
        auto longer = base;
        longer.tail.assign(length + 1, 0xA5);
        const std::string one = folder.file("one.sav");
        const std::string two = folder.file("two.sav");
        sb::write_file(one, sb::build_save(shorter));
        sb::write_file(two, sb::build_save(longer));
        char added[64];
        std::snprintf(added, sizeof added, "tail+%zu - 0x%08llx - a5", length,
                      static_cast<unsigned long long>(tail_offset + length));
        const auto lines = compared_lines(testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", one, two}).standard_output);
        ASSERT_EQ(lines.size(), 2U);
        EXPECT_EQ(lines[0], "header.save_date 0x000000a6 1000 0");
        EXPECT_EQ(lines[1], added);
    }
}

// Files of different sizes that agree between their differences: where the
// walks stand alike, the bytes up to the next difference are compared and
// the walks pass over them, handing on nothing there. What differs is still
// named, every difference exactly once.
TEST(fields_diff, files_of_different_sizes_agree_between_their_differences)
{
    constexpr std::size_t lists = 40;
    auto first = sb::empty_save(70);
    for (std::size_t list = 0; list < lists; ++list) {
        sb::unit_description unit = plain_unit(3);
        unit.path = path_through(std::vector<std::uint16_t>(65535, static_cast<std::uint16_t>(list)));
        first.unit_lists.push_back({{sb::new_unit(2, {unit}), sb::reference(7)}});
    }
    sb::number_units(first);
    auto second = first;
    second.unit_lists[0].slots[0].chain[0].selected = 4;
    second.unit_lists[30].slots[0].chain[0].selected = 9;
    second.tail = {1, 2, 3};
    const testing::temp_folder folder;
    const std::string one = folder.file("one.sav");
    const std::string two = folder.file("two.sav");
    sb::write_file(one, sb::build_save(first));
    sb::write_file(two, sb::build_save(second));

    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", one, two});
    EXPECT_EQ(result.exit_code, 1) << result.standard_error;
    const std::vector<std::string> expected{
        "units.lists[0].slots[0].unit.selected " + offset_listed(one, "units.lists[0].slots[0].unit.selected") + " 3 4",
        "units.lists[30].slots[0].unit.selected " + offset_listed(one, "units.lists[30].slots[0].unit.selected") + " 3 9",
        "tail " + offset_listed(two, "tail") + " only in save 2",
    };
    EXPECT_EQ(compared_lines(result.standard_output), expected);
}

// The exit code and standard error of a diff that cannot run or that meets
// a damaged save; identical saves agree without a line.
TEST(fields_diff, exit_codes_and_breaks)
{
    const testing::temp_folder folder;
    const auto content = sb::build_save([] {
        auto save = small_save();
        sb::number_units(save);
        return save;
    }());
    const std::string whole = folder.file("whole.sav");
    const std::string copy = folder.file("copy.sav");
    const std::string cut = folder.file("cut.sav");
    sb::write_file(whole, content);
    sb::write_file(copy, content);
    sb::write_file(cut, sb::bytes(content.begin(), content.end() - 20));
    const std::string cut_and_changed = folder.file("cut_and_changed.sav");
    auto changed = sb::bytes(content.begin(), content.end() - 20);
    changed[0xa6] = 1; // save_date
    sb::write_file(cut_and_changed, changed);
    struct exit_case {
        const char* name;
        std::vector<std::string> saves;
        int exit_code;
        std::string last_line;
        std::string error_holds;
    };
    const std::string broken = "error: save 2: Read beyond end of file at 0x0000cf06 (52998) reading "
                               "units.lists[0].slots[1].unit.unit_data: needed 144 bytes, 138 left";
    const std::vector<exit_case> cases{
        {"identical saves", {whole, copy}, 0, "", ""},
        {"a damaged save", {whole, cut}, 1, broken, "cut.sav: damaged save: Read beyond end of file"},
        {"two identical damaged saves", {cut, cut}, 1, "error: save 2: Read beyond end of file at 0x0000cf06", "cut.sav"},
        // The whole saves go on being compared after the cut one breaks.
        // Files that agree from some point to their ends break alike.
        {"two damaged saves that differ before the break", {cut, cut_and_changed}, 1,
         "error: save 2: Read beyond end of file at 0x0000cf06", "cut_and_changed.sav: damaged save"},
        {"a damaged save amid a series", {whole, cut, copy}, 1, "error: save 2: Read beyond end of file at 0x0000cf06",
         "cut.sav: damaged save"},
        {"a missing save", {whole, folder.file("missing.sav")}, 2, "", "missing.sav: File not found"},
        {"one save only", {whole}, 2, "", "At least 2 required"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::string> arguments{"diff"};
        arguments.insert(arguments.end(), test.saves.begin(), test.saves.end());
        const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
        EXPECT_EQ(result.exit_code, test.exit_code) << result.standard_error;
        const auto lines = compared_lines(result.standard_output);
        if (test.last_line.empty()) {
            EXPECT_TRUE(lines.empty()) << result.standard_output;
        } else {
            ASSERT_FALSE(lines.empty());
            EXPECT_TRUE(lines.back().starts_with(test.last_line)) << lines.back();
        }
        EXPECT_NE(result.standard_error.find(test.error_holds), std::string::npos) << result.standard_error;
    }
}

// Saves of one size that hold the same bytes from a list on to their ends
// differ nowhere there: one walk tells how they end, whole or broken, the
// break written for every save as each of their walks would meet it.
TEST(fields_diff, saves_of_one_size_alike_from_a_list_to_their_ends_end_alike)
{
    auto first = sb::empty_save(70);
    for (std::uint16_t list = 0; list < 5; ++list) {
        sb::unit_description unit = plain_unit(3);
        unit.path = path_through(std::vector<std::uint16_t>(20000, list));
        first.unit_lists.push_back({{sb::new_unit(2, {unit}), sb::reference(7)}});
    }
    sb::number_units(first);
    auto second = first;
    second.header.save_date = 1000;
    const auto whole_first = sb::build_save(first);
    const auto whole_second = sb::build_save(second);
    const std::size_t cut = whole_first.size() - 30000; // inside the last list's path
    const testing::temp_folder folder;
    struct end_case {
        const char* name;
        std::size_t size;
        bool broken;
    };
    for (const end_case& test : {end_case{"whole", whole_first.size(), false}, end_case{"cut alike", cut, true}}) {
        SCOPED_TRACE(test.name);
        const std::string one = folder.file("one.sav");
        const std::string two = folder.file("two.sav");
        sb::write_file(one, sb::bytes(whole_first.begin(), whole_first.begin() + static_cast<std::ptrdiff_t>(test.size)));
        sb::write_file(two, sb::bytes(whole_second.begin(), whole_second.begin() + static_cast<std::ptrdiff_t>(test.size)));
        const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", one, two});
        EXPECT_EQ(result.exit_code, 1) << result.standard_error;
        const std::string checked = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"check", one}).standard_output;
        std::vector<std::string> expected{"header.save_date 0x000000a6 0 1000"};
        if (test.broken) {
            const std::string broken = checked.substr(checked.find("Read beyond end of file"));
            expected.push_back("error: save 1: " + broken.substr(0, broken.size() - 1));
            expected.push_back("error: save 2: " + broken.substr(0, broken.size() - 1));
        }
        EXPECT_EQ(compared_lines(result.standard_output), expected);
        EXPECT_EQ(result.standard_error.find("damaged save") != std::string::npos, test.broken) << result.standard_error;
    }
}

} // namespace
} // namespace orbse
