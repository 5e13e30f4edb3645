// orbse-fields set on saves the save builder makes: each kind of leaf set
// changes exactly its own bytes and reads back with its new value; a value
// refused names the path and the reason and writes nothing; the new save
// takes its name only when whole.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::lines_of;

// A version-70 save with a unit that has a path, a unit that links
// another, a reference, and a tail of four bytes. Every cell of its pass
// layer is grass, which has a colour of its own.
sb::save_description rich_save()
{
    auto save = sb::empty_save(70);
    save.header.start_gold = 150;
    save.pass_layer.fill(1);
    sb::unit_description walker;
    walker.unit_class = 10;
    walker.unk5 = 3;
    walker.path.emplace();
    walker.path->points = {1, 2, 3};
    sb::unit_description carrier;
    carrier.unit_class = 20;
    sb::unit_description carried;
    carried.unit_class = 30;
    carried.unk1 = 4;
    save.unit_lists = {{{sb::new_unit(2, {walker}), sb::new_unit(1, {carrier, carried}), sb::reference(5)}}};
    save.closing_zero_size = true;
    save.tail = {0xa0, 0xa1, 0xa2, 0xa3};
    sb::number_units(save);
    return save;
}


testing::program_result run_fields(const std::vector<std::string>& arguments)
{
    return testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
}

// The offset `listing` (of `list`) gives the leaf at `path`, or -1.
std::int64_t listed_offset(const std::vector<std::string>& listing, const std::string& path)
{
    for (const auto& line : listing) {
        const auto type_end = line.find(' ', line.find(' ', line.find(' ') + 1) + 1);
        if (line.compare(type_end + 1, path.size() + 1, path + " ") == 0) {
            return std::stoll(line.substr(0, line.find(' ')), nullptr, 16);
        }
    }
    return -1;
}

// The offsets at which two files differ (both of the same size).
std::vector<std::size_t> differing_offsets(const testing::bytes& a, const testing::bytes& b)
{
    std::vector<std::size_t> offsets;
    for (std::size_t at = 0; at < std::min(a.size(), b.size()); ++at) {
        if (a[at] != b[at]) {
            offsets.push_back(at);
        }
    }
    return offsets;
}

struct set_case {
    const char* kind;
    std::string assignment;
    std::string path;              // of the leaf it sets
    std::string line_after_offset; // the line set writes, from its size on
};

TEST(fields_set, each_kind_of_leaf_changes_exactly_its_bytes)
{
    const std::string unit = "units.lists[0].slots[0].unit.";
    const std::string carried = "units.lists[0].slots[1].unit.linked[1].";
    const std::vector<set_case> cases{
        {"a header number", "header.start_gold=5000", "header.start_gold", "4 i32 header.start_gold 5000"},
        {"a negative number", "header.end_amount=-0x10", "header.end_amount", "4 i32 header.end_amount -16"},
        {"an enumerated setting by name", "header.turn_mode_1=Simultaneous", "header.turn_mode_1",
         "1 u8 header.turn_mode_1 1 (Simultaneous)"},
        {"a player's kind by name", "header.player_kinds[2]=Computer", "header.player_kinds[2]",
         "1 u8 header.player_kinds[2] 2 (Computer)"},
        {"a clan by name", "players[1].clan=Musashi", "players[1].clan", "1 u8 players[1].clan 5 (Musashi)"},
        {"a name, quoted, with a byte escaped", "header.game_name=\"Isle\\x01\"", "header.game_name",
         "30 text[30] header.game_name \"Isle\\x01\""},
        {"a name of 30 bytes", "header.player_names[1]=" + std::string(30, 'z'), "header.player_names[1]",
         "30 text[30] header.player_names[1] \"" + std::string(30, 'z') + "\""},
        {"a raw stretch whole", "header.reserved=0102030405", "header.reserved", "5 raw header.reserved 0102030405"},
        {"a layer cell", "pass_layer.row[3].column[4]=7", "pass_layer.row[3].column[4]",
         "1 u8 pass_layer.row[3].column[4] 7"},
        {"a resource cell's byte", "resource_layer.row[2].column[5]+1=9", "resource_layer.row[2].column[5]",
         "2 u8[2] resource_layer.row[2].column[5] [0,9]"},
        {"a player's research value", "players[0].research[2].now=77", "players[0].research[2].now",
         "4 i32 players[0].research[2].now 77"},
        {"a unit's named field", unit + "unk5=1234", unit + "unk5", "2 u16 " + unit + "unk5 1234"},
        {"a byte inside the unit data", unit + "unit_data@44+3=ff", unit + "unit_data@44",
         "56 raw " + unit + "unit_data@44 000000ff" + std::string(104, '0')},
        {"a path's points", unit + "path.points=[5,0x6,7]", unit + "path.points", "6 u16[3] " + unit + "path.points [5,6,7]"},
        {"one point of a path", unit + "path.points+2=9", unit + "path.points", "6 u16[3] " + unit + "path.points [1,2,9]"},
        {"a tail byte", "tail+2=cdce", "tail", "4 raw tail a0a1cdce"},
        {"a field of a linked unit", carried + "unk1=9", carried + "unk1", "2 u16 " + carried + "unk1 9"},
        {"the type of a unit", unit + "unit_class=20", unit + "unit_class", "2 u16 " + unit + "unit_class 20 (type row 19 LARGE_CONES)"},
    };
    const testing::temp_folder folder;
    const std::string save = folder.file("rich.sav");
    sb::write_file(save, sb::build_save(rich_save()));
    const auto old_bytes = testing::read_file(save);
    const auto listing = lines_of(run_fields({"list", save}).standard_output);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.kind);
        const std::int64_t offset = listed_offset(listing, test.path);
        ASSERT_GE(offset, 0);
        const std::string output = folder.file("set.sav");
        const auto result = run_fields({"set", save, test.assignment, "-o", output});
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        EXPECT_EQ(result.standard_error, "");
        const auto lines = lines_of(result.standard_output);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(lines[0].find(' ') + 1), test.line_after_offset);
        EXPECT_EQ(std::stoll(lines[0].substr(0, lines[0].find(' ')), nullptr, 16), offset);
        const auto new_bytes = testing::read_file(output);
        ASSERT_EQ(new_bytes.size(), old_bytes.size());
        const auto changed = differing_offsets(old_bytes, new_bytes);
        EXPECT_FALSE(changed.empty());
        const std::size_t size = std::stoul(test.line_after_offset);
        for (const std::size_t at : changed) {
            EXPECT_TRUE(at >= static_cast<std::size_t>(offset) && at < static_cast<std::size_t>(offset) + size) << at;
        }
        // What list shows of the new save is what set said it wrote.
        EXPECT_EQ(listed_offset(lines_of(run_fields({"list", output}).standard_output), test.path), offset);
    }
    EXPECT_EQ(testing::read_file(save), old_bytes);
}

struct refusal_case {
    const char* kind;
    std::vector<std::string> assignments;
    std::string message; // after "orbse-fields: SAVE: "
};

TEST(fields_set, refusals_name_the_path_and_the_reason_and_write_nothing)
{
    const std::string unit = "units.lists[0].slots[0].unit.";
    const std::string layout = ": decides how the rest of the save is read; it cannot be set";
    const std::vector<refusal_case> cases{
        {"the version", {"header.version=69"}, "header.version" + layout},
        {"a units_block row's object number", {"groups[0].units_block[0].object_number=1"},
         "groups[0].units_block[0].object_number" + layout},
        {"an updates row's object number", {"groups[2].updates[7].object_number=1"},
         "groups[2].updates[7].object_number" + layout},
        {"a post-update count", {"groups[3].post_updates.count=0"}, "groups[3].post_updates.count" + layout},
        {"a list size", {"units.lists[0].size=2"}, "units.lists[0].size" + layout},
        {"the size that closes the stream", {"units.lists[1].size=1"}, "units.lists[1].size" + layout},
        {"a slot's object number", {"units.lists[0].slots[2].object_id=6"}, "units.lists[0].slots[2].object_id" + layout},
        {"path_ref", {unit + "path_ref=1"}, unit + "path_ref" + layout},
        {"path_kind", {unit + "path_kind=1"}, unit + "path_kind" + layout},
        {"a path's point count", {unit + "path.point_count=2"}, unit + "path.point_count" + layout},
        {"link_ref", {"units.lists[0].slots[1].unit.link_ref=0"}, "units.lists[0].slots[1].unit.link_ref" + layout},
        {"link_kind", {"units.lists[0].slots[1].unit.link_kind=0"}, "units.lists[0].slots[1].unit.link_kind" + layout},
        {"unkf1", {unit + "unkf1=1"}, unit + "unkf1" + layout},
        {"out of range for u8", {"header.cpu_iq=256"}, "header.cpu_iq: 256 is out of range for u8 (0 to 255)"},
        {"out of range for u16", {unit + "unk5=-1"}, unit + "unk5: -1 is out of range for u16 (0 to 65535)"},
        {"out of range for i32", {"header.start_gold=0x80000000"},
         "header.start_gold: 0x80000000 is out of range for i32 (-2147483648 to 2147483647)"},
        {"a point out of range", {unit + "path.points=[1,70000,3]"},
         unit + "path.points: 70000 is out of range for u16 (0 to 65535)"},
        {"not a number", {"header.start_gold=12x"}, "header.start_gold: \"12x\" is not a number"},
        {"a name the table does not hold", {"header.raw_richness=Ritch"},
         "header.raw_richness: \"Ritch\" is no name of its values"},
        {"raw bytes of the wrong length", {"header.reserved=01020304"},
         "header.reserved: 4 bytes given; the field holds 5 bytes"},
        {"raw bytes that run past the stretch", {"header.reserved+4=0102"},
         "header.reserved+4: 2 bytes given; the field holds 1 from byte 4 of 5 bytes"},
        {"not hex", {"header.reserved=01020304zz"}, "header.reserved: \"01020304zz\" is not hex bytes"},
        {"a name too long", {"header.game_name=" + std::string(31, 'n')},
         "header.game_name: 31 bytes given; the field holds 30 bytes"},
        {"a bad escape in a name", {"header.game_name=a\\q"}, "header.game_name: \"a\\q\" is not a name (\\xNN for a byte)"},
        {"points of the wrong count", {unit + "path.points=[1,2]"}, unit + "path.points: 2 elements given; the field holds 3 elements"},
        {"a byte past a stretch", {"tail+4=00"}, "tail+4: has no byte or element 4"},
        {"+N on a number", {"header.start_gold+1=5"},
         "header.start_gold+1: is one number; +N sets the bytes of a stretch or the elements of a run"},
        {"an unknown path", {"header.gold=5"}, "header.gold: no such field in this save"},
        {"two values for the same bytes", {"tail=00000000", "tail+1=ff"}, "tail+1: sets bytes that tail sets too"},
        {"not an assignment", {"header.start_gold"}, "\"header.start_gold\" is not PATH=VALUE or PATH+N=VALUE"},
    };
    const testing::temp_folder folder;
    const std::string save = folder.file("rich.sav");
    sb::write_file(save, sb::build_save(rich_save()));
    const auto old_bytes = testing::read_file(save);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.kind);
        std::vector<std::string> arguments{"set", save};
        arguments.insert(arguments.end(), test.assignments.begin(), test.assignments.end());
        arguments.insert(arguments.end(), {"-o", folder.file("new.sav")});
        const auto result = run_fields(arguments);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.standard_output, "");
        EXPECT_EQ(result.standard_error, "orbse-fields: " + save + ": " + test.message + "\n");
        // Nothing new in the folder: no output, no file written beside it.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    }
    EXPECT_EQ(testing::read_file(save), old_bytes);
}

// Where the new save goes: over another file only once whole, in place
// with or without the old save kept, from standard input; a damaged save
// has the leaves before its break set and the rest copied.
TEST(fields_set, the_new_save_takes_its_name_when_whole)
{
    const testing::temp_folder folder;
    const std::string save = folder.file("rich.sav");
    const auto old_bytes = sb::build_save(rich_save());
    sb::write_file(save, old_bytes);
    auto gold_bytes = old_bytes;
    gold_bytes[0xbc] = 0x88; // 5000 = 0x1388
    gold_bytes[0xbd] = 0x13;
    const std::string gold = "header.start_gold=5000";

    const std::string existing = folder.file("existing.sav");
    testing::write_text_file(existing, "an older file");
    const auto over = run_fields({"set", save, gold, "-o", existing});
    EXPECT_EQ(over.exit_code, 0) << over.standard_error;
    EXPECT_EQ(testing::read_file(existing), gold_bytes);

    const auto refused = run_fields({"set", save, "header.version=1", "-o", existing});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_EQ(testing::read_file(existing), gold_bytes);

    const auto in_place = run_fields({"set", save, gold, "--in-place"});
    EXPECT_EQ(in_place.exit_code, 0) << in_place.standard_error;
    EXPECT_EQ(testing::read_file(save), gold_bytes);
    EXPECT_EQ(testing::read_file(save + ".bak"), old_bytes);

    std::filesystem::remove(save + ".bak");
    const auto no_backup = run_fields({"set", save, "header.start_gold=150", "--in-place", "--no-backup"});
    EXPECT_EQ(no_backup.exit_code, 0) << no_backup.standard_error;
    EXPECT_EQ(testing::read_file(save), old_bytes);
    EXPECT_FALSE(testing::file_exists(save + ".bak"));

    const testing::temp_folder spool;
    const std::string piped = folder.file("piped.sav");
    const auto from_input = testing::run_with_input(ORBSE_FIELDS_EXECUTABLE, {"set", "-", gold, "-o", piped},
                                                    std::string(old_bytes.begin(), old_bytes.end()), spool.path().string());
    EXPECT_EQ(from_input.exit_code, 0) << from_input.standard_error;
    EXPECT_EQ(testing::read_file(piped), gold_bytes);

    for (const auto& usage : std::vector<std::vector<std::string>>{{"set", save, gold},
                                                                   {"set", "-", gold, "--in-place"},
                                                                   {"set", save, gold, "--no-backup", "-o", piped},
                                                                   {"set", save, gold, "--in-place", "-o", piped}}) {
        EXPECT_EQ(run_fields(usage).exit_code, 2) << usage.size();
    }

    // Cut inside the size that closes the stream, before the tail of four.
    auto cut_bytes = old_bytes;
    cut_bytes.resize(old_bytes.size() - 5);
    const std::string cut = folder.file("cut.sav");
    sb::write_file(cut, cut_bytes);
    const std::string cut_set = folder.file("cut-set.sav");
    const auto damaged = run_fields({"set", cut, gold, "-o", cut_set});
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_EQ(damaged.standard_error.rfind("orbse-fields: " + cut + ": damaged save: Read beyond end of file at offset ", 0), 0u)
        << damaged.standard_error;
    EXPECT_NE(damaged.standard_error.find("; the bytes from there on were copied as they are\n"), std::string::npos);
    auto cut_gold = gold_bytes;
    cut_gold.resize(cut_bytes.size());
    EXPECT_EQ(testing::read_file(cut_set), cut_gold);
    const auto past_break = run_fields({"set", cut, "tail+0=00", "-o", folder.file("never.sav")});
    EXPECT_EQ(past_break.exit_code, 2);
    EXPECT_EQ(past_break.standard_error, "orbse-fields: " + cut + ": tail: no such field in this save before its break\n");
    EXPECT_FALSE(testing::file_exists(folder.file("never.sav")));
}

// What other readers show of the new save: the inspector's report its
// header and player values (its lines end in CR LF), its pass picture the
// layer cell set (an 8 by 8 block of 4-byte pixels), check that it is
// whole, dump the new values.
TEST(fields_set, the_inspector_and_the_other_commands_read_the_new_values)
{
    const testing::temp_folder folder;
    const std::string save = folder.file("rich.sav");
    sb::write_file(save, sb::build_save(rich_save()));
    const std::string changed = folder.file("changed.sav");
    const auto result = run_fields({"set", save, "header.start_gold=5000", "players[2].gold_used=321",
                                    "pass_layer.row[40].column[50]=4", "-o", changed});
    ASSERT_EQ(result.exit_code, 0) << result.standard_error;
    for (const auto& name : {save, changed}) {
        const auto report = testing::run_inspector({name});
        ASSERT_EQ(report.exit_code, 0) << report.standard_error;
    }
    const auto old_report = lines_of(testing::read_text_file(save + ".inf"));
    const auto new_report = lines_of(testing::read_text_file(changed + ".inf"));
    ASSERT_EQ(old_report.size(), new_report.size());
    std::vector<std::string> changed_lines;
    for (std::size_t line = 0; line < new_report.size(); ++line) {
        if (old_report[line] != new_report[line]) {
            changed_lines.push_back(new_report[line]);
        }
    }
    EXPECT_EQ(changed_lines, (std::vector<std::string>{"Start Gold  =5000\r", "Gold Used   =321\r"}));
    const auto old_picture = testing::read_file(save + "_pass.bmp");
    const auto new_picture = testing::read_file(changed + "_pass.bmp");
    const auto picture_changes = differing_offsets(old_picture, new_picture);
    EXPECT_FALSE(picture_changes.empty());
    EXPECT_LE(picture_changes.size(), 8u * 8u * 4u);
    EXPECT_EQ(testing::read_file(save + "_rm1.bmp"), testing::read_file(changed + "_rm1.bmp"));

    const auto check = run_fields({"check", changed});
    EXPECT_EQ(check.exit_code, 0);
    EXPECT_NE(check.standard_output.find(", complete"), std::string::npos) << check.standard_output;
    const auto dump = run_fields({"dump", changed}).standard_output;
    EXPECT_NE(dump.find("\"start_gold\":5000,"), std::string::npos);
    EXPECT_NE(dump.find("\"gold_used\":321"), std::string::npos);
}

#ifdef _WIN32
// Windows will not rename over a file that another program holds open
// without letting it be deleted: set in place fails, and the save and its
// folder are as they were.
TEST(fields_set, in_place_on_a_save_held_open_fails_cleanly)
{
    const testing::temp_folder folder;
    const std::string save = folder.file("held.sav");
    const auto old_bytes = sb::build_save(rich_save());
    sb::write_file(save, old_bytes);
    const HANDLE held = ::CreateFileA(save.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto result = run_fields({"set", save, "header.start_gold=5000", "--in-place"});
    ::CloseHandle(held);
    // The lines of the fields set went out before the rename was refused.
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.standard_error.rfind("orbse-fields: " + save + ": not written: ", 0), 0u) << result.standard_error;
    EXPECT_EQ(testing::read_file(save), old_bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}
#endif

} // namespace
} // namespace orbse
