#include "report/info_report.h"

#include "report_capture.h"
#include "save_builder.h"

#include <gtest/gtest.h>

#include <memory>

namespace orbse {
namespace {

namespace sb = save_builder;

std::string report_text(const saveorec& save)
{
    return testing::captured_report([&](text_channel& report_output) { write_info_report(save, report_output); });
}

std::vector<std::string> report_lines(const saveorec& save)
{
    return testing::crlf_lines(report_text(save));
}

std::unique_ptr<saveorec> save_with(const game_header& header)
{
    auto save = std::make_unique<saveorec>();
    save->header = header;
    return save;
}

std::vector<std::string> game_info_lines(const game_header& header)
{
    const std::vector<std::string> lines = report_lines(*save_with(header));
    return {lines.begin(), lines.begin() + 32};
}

// Where the game-info lines stand.
constexpr std::size_t save_type_line = 1;
constexpr std::size_t game_name_line = 2;
constexpr std::size_t red_name_line = 5;
constexpr std::size_t save_date_line = 14;
constexpr std::size_t last_setting_line = 30;

TEST(info_report, game_info_prints_every_setting_in_order)
{
    game_header header;
    header.version = 70;
    header.save_type = 3;
    header.game_name = sb::name("Four Rivers");
    header.map_number = 12;
    header.level_number = 513;
    header.player_names = {sb::name("Redbeard"), sb::name("Viridia"), sb::name("Azure"), sb::name("Slate")};
    header.player_kinds = {1, 2, 0, 2};
    header.alien_player = 1;
    header.reserved = {9, 9, 9, 9, 9};
    header.save_date = 1234567890;
    header.cpu_iq = 3;
    header.turn_time_1 = 180;
    header.end_turn_time_1 = 45;
    header.turn_mode_1 = 1;
    header.map_number_2 = 12;
    header.turn_time_2 = 300;
    header.end_turn_time_2 = 60;
    header.start_gold = 150;
    header.turn_mode_2 = 0;
    header.end_type = 1;
    header.end_amount = 400;
    header.cpu_iq_2 = 2;
    header.raw_richness = 0;
    header.fuel_richness = 1;
    header.gold_richness = 2;
    header.alien_frequency = 2;
    const std::vector<std::string> expected{
        "Game info:",
        "Save type   =Multiplayer",
        "Game Name   =Four Rivers",
        "Map N       =12",
        "Level number=513",
        "Red Name    =Redbeard",
        "Green Name  =Viridia",
        "Blue Name   =Azure",
        "Gray Name   =Slate",
        "Red player  =Human",
        "Green player=Computer",
        "Blue player =Absent",
        "Gray player =Computer",
        "Alien player=1",
        "Save date   =2009:02:13-23:31:30",
        "CPU IQ      =3",
        "Time turn #1=180",
        "Time et #1  =45",
        "Turn mode #1=Simultaneous",
        "Map N #2    =12",
        "Time turn #2=300",
        "Time et #2  =60",
        "Start Gold  =150",
        "Turn mode #2=Turn Based",
        "Type of end =Score",
        "Amt to end  =400",
        "CPU IQ #2   =2",
        "Start raw   =Poor",
        "Start fuel  =Medium",
        "Start gold  =Rich",
        "Start aliens=Common",
        "",
    };
    EXPECT_EQ(game_info_lines(header), expected);
}

TEST(info_report, game_info_labels_are_thirteen_characters_wide)
{
    const std::vector<std::string> lines = game_info_lines(game_header{});
    for (std::size_t index = save_type_line; index <= last_setting_line; ++index) {
        const std::string& line = lines[index];
        ASSERT_GE(line.size(), 13u) << line;
        EXPECT_EQ(line[12], '=') << line;
        EXPECT_EQ(line.substr(0, 12).find('='), std::string::npos) << line;
    }
}

TEST(info_report, save_type_names_four_values_and_calls_the_rest_unknown)
{
    struct save_type_case {
        std::uint8_t value;
        const char* text;
    };
    for (const save_type_case entry :
         {save_type_case{0, "Singleplayer"}, save_type_case{1, "Unknown"}, save_type_case{2, "Campaing"},
          save_type_case{3, "Multiplayer"}, save_type_case{4, "Unknown"}, save_type_case{5, "Demo"},
          save_type_case{6, "Unknown"}, save_type_case{128, "Unknown"}, save_type_case{255, "Unknown"}}) {
        game_header header;
        header.save_type = entry.value;
        EXPECT_EQ(game_info_lines(header)[save_type_line], std::string("Save type   =") + entry.text)
            << int(entry.value);
    }
}

// Every coded line of the section, set to the same value at once.
game_header all_coded_settings(std::int32_t value)
{
    game_header header;
    header.player_kinds.fill(static_cast<std::uint8_t>(value));
    header.turn_mode_1 = static_cast<std::uint8_t>(value);
    header.turn_mode_2 = value;
    header.end_type = value;
    header.raw_richness = value;
    header.fuel_richness = value;
    header.gold_richness = value;
    header.alien_frequency = value;
    return header;
}

struct coded_line {
    std::size_t line;
    const char* label;
    std::array<const char*, 3> texts; // for the values 0, 1 and 2; null when not listed
};

constexpr coded_line coded_lines[] = {
    {9, "Red player  =", {"Absent", "Human", "Computer"}},
    {10, "Green player=", {"Absent", "Human", "Computer"}},
    {11, "Blue player =", {"Absent", "Human", "Computer"}},
    {12, "Gray player =", {"Absent", "Human", "Computer"}},
    {18, "Turn mode #1=", {"Turn Based", "Simultaneous", nullptr}},
    {23, "Turn mode #2=", {"Turn Based", "Simultaneous", nullptr}},
    {24, "Type of end =", {"Turns", "Score", nullptr}},
    {27, "Start raw   =", {"Poor", "Medium", "Rich"}},
    {28, "Start fuel  =", {"Poor", "Medium", "Rich"}},
    {29, "Start gold  =", {"Poor", "Medium", "Rich"}},
    {30, "Start aliens=", {"None", "Rare", "Common"}},
};

TEST(info_report, coded_settings_print_their_table_text_or_unknown)
{
    for (const std::int32_t value : {0, 1, 2, 3, 255}) {
        const std::vector<std::string> lines = game_info_lines(all_coded_settings(value));
        for (const coded_line& entry : coded_lines) {
            const bool listed = value <= 2 && entry.texts[static_cast<std::size_t>(value)] != nullptr;
            const std::string text = listed ? entry.texts[static_cast<std::size_t>(value)] : "Unknown";
            EXPECT_EQ(lines[entry.line], entry.label + text) << value;
        }
    }
}

TEST(info_report, an_unlisted_setting_never_repeats_the_line_before_it)
{
    game_header header;
    header.save_type = 5;             // Demo
    header.player_kinds = {2, 9, 1, 3}; // Computer, -, Human, -
    header.turn_mode_1 = 1;           // Simultaneous
    header.turn_mode_2 = 2;
    header.end_type = 0;              // Turns
    header.raw_richness = 2;          // Rich
    header.fuel_richness = -1;
    header.gold_richness = 7;
    header.alien_frequency = 3;
    const std::vector<std::string> lines = game_info_lines(header);
    EXPECT_EQ(lines[1], "Save type   =Demo");
    EXPECT_EQ(lines[9], "Red player  =Computer");
    EXPECT_EQ(lines[10], "Green player=Unknown");
    EXPECT_EQ(lines[11], "Blue player =Human");
    EXPECT_EQ(lines[12], "Gray player =Unknown");
    EXPECT_EQ(lines[18], "Turn mode #1=Simultaneous");
    EXPECT_EQ(lines[23], "Turn mode #2=Unknown");
    EXPECT_EQ(lines[24], "Type of end =Turns");
    EXPECT_EQ(lines[27], "Start raw   =Rich");
    EXPECT_EQ(lines[28], "Start fuel  =Unknown");
    EXPECT_EQ(lines[29], "Start gold  =Unknown");
    EXPECT_EQ(lines[30], "Start aliens=Unknown");
}

TEST(info_report, coded_32_bit_settings_are_compared_whole)
{
    // The low byte alone would name a table entry.
    const std::vector<std::string> lines = game_info_lines(all_coded_settings(0x100));
    for (const std::size_t line : {23u, 24u, 27u, 28u, 29u, 30u}) {
        EXPECT_EQ(lines[line].substr(13), "Unknown") << lines[line];
    }
}

struct name_case {
    name_field field;
    std::string text;
};

TEST(info_report, names_print_their_bytes_up_to_the_first_nul)
{
    name_field thirty_bytes{};
    for (std::size_t i = 0; i < thirty_bytes.size(); ++i) {
        thirty_bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    thirty_bytes[28] = ' ';
    thirty_bytes[29] = ' ';
    name_field after_nul = sb::name("ab");
    after_nul[3] = 'c';
    const std::string thirty_text(thirty_bytes.begin(), thirty_bytes.end());
    for (const name_case& entry : {
             name_case{name_field{}, ""},
             name_case{sb::name("  Spaced  "), "  Spaced  "},
             name_case{sb::name("\xE9t\xE9 \xFF\x80"), "\xE9t\xE9 \xFF\x80"},
             name_case{after_nul, "ab"},
             name_case{thirty_bytes, thirty_text},
         }) {
        game_header header;
        header.game_name = entry.field;
        header.player_names[blue] = entry.field;
        const std::vector<std::string> lines = game_info_lines(header);
        EXPECT_EQ(lines[game_name_line], "Game Name   =" + entry.text);
        EXPECT_EQ(lines[red_name_line + blue], "Blue Name   =" + entry.text);
    }
    EXPECT_EQ(thirty_text.size(), 30u);
}

TEST(info_report, numbers_print_unsigned_below_32_bits_and_signed_at_32)
{
    game_header header;
    header.map_number = 255;
    header.level_number = 65535;
    header.alien_player = 255;
    header.cpu_iq = 255;
    header.turn_time_1 = 65535;
    header.end_turn_time_1 = 32768;
    header.map_number_2 = static_cast<std::int32_t>(0xFFFFFFFFu);
    header.turn_time_2 = static_cast<std::int32_t>(0x80000000u);
    header.end_turn_time_2 = 2147483647;
    header.start_gold = -1;
    header.end_amount = -1;
    header.cpu_iq_2 = -1;
    const std::vector<std::string> lines = game_info_lines(header);
    EXPECT_EQ(lines[3], "Map N       =255");
    EXPECT_EQ(lines[4], "Level number=65535");
    EXPECT_EQ(lines[13], "Alien player=255");
    EXPECT_EQ(lines[15], "CPU IQ      =255");
    EXPECT_EQ(lines[16], "Time turn #1=65535");
    EXPECT_EQ(lines[17], "Time et #1  =32768");
    EXPECT_EQ(lines[19], "Map N #2    =-1");
    EXPECT_EQ(lines[20], "Time turn #2=-2147483648");
    EXPECT_EQ(lines[21], "Time et #2  =2147483647");
    EXPECT_EQ(lines[22], "Start Gold  =-1");
    EXPECT_EQ(lines[25], "Amt to end  =-1");
    EXPECT_EQ(lines[26], "CPU IQ #2   =-1");
}

TEST(info_report, save_date_prints_as_utc_calendar_time)
{
    for (const auto& [seconds, text] : {std::pair<std::uint32_t, const char*>{0, "1970:01:01-00:00:00"},
                                        {2147483648u, "2038:01:19-03:14:08"},
                                        {4294967295u, "2106:02:07-06:28:15"}}) {
        game_header header;
        header.save_date = seconds;
        EXPECT_EQ(game_info_lines(header)[save_date_line], std::string("Save date   =") + text);
    }
}

std::size_t empty_lines_before(const std::vector<std::string>& lines, const std::string& heading)
{
    const auto found = std::find(lines.begin(), lines.end(), heading);
    EXPECT_NE(found, lines.end()) << heading;
    std::size_t count = 0;
    for (auto line = found; line != lines.begin() && (line - 1)->empty(); --line) {
        ++count;
    }
    return count;
}

TEST(info_report, sections_stand_apart_by_a_fixed_number_of_empty_lines)
{
    const std::string text = report_text(saveorec{});
    const std::vector<std::string> lines = testing::crlf_lines(text);
    // 31 game-info lines, an empty line, four headed sections of 29 lines and
    // an empty line each, one more empty line, "Units:" and the last line.
    ASSERT_EQ(lines.size(), 31u + 1 + 4 * (1 + 29 + 1) + 1 + 1 + 1);
    EXPECT_EQ(lines[0], "Game info:");
    EXPECT_EQ(empty_lines_before(lines, "Red:"), 1u);
    EXPECT_EQ(empty_lines_before(lines, "Green:"), 2u);
    EXPECT_EQ(empty_lines_before(lines, "Blue:"), 2u);
    EXPECT_EQ(empty_lines_before(lines, "Gray:"), 2u);
    EXPECT_EQ(empty_lines_before(lines, "Units:"), 3u);
    // With no units the file ends in "Units:" and one empty line.
    EXPECT_TRUE(text.ends_with("Gold Used   =0\r\n\r\n\r\n\r\nUnits:\r\n\r\n"));
}

TEST(info_report, player_sections_follow_their_headings_in_colour_order)
{
    auto save = std::make_unique<saveorec>();
    for (int colour = red; colour < player_count; ++colour) {
        save->players[colour].gold_used = static_cast<std::uint16_t>(1000 + colour);
    }
    const std::vector<std::string> lines = report_lines(*save);
    const std::pair<const char*, const char*> sections[] = {
        {"Red:", "Gold Used   =1000"}, {"Green:", "Gold Used   =1001"},
        {"Blue:", "Gold Used   =1002"}, {"Gray:", "Gold Used   =1003"}};
    for (const auto& [heading, gold_used] : sections) {
        const auto found = std::find(lines.begin(), lines.end(), heading);
        ASSERT_NE(found, lines.end()) << heading;
        EXPECT_EQ(*(found + 1), "Player type =Absent") << heading;
        EXPECT_EQ(*(found + 28), gold_used) << heading;
        EXPECT_EQ(*(found + 29), "") << heading;
    }
}

TEST(info_report, a_report_file_that_cannot_be_created_ends_the_report_at_once)
{
    testing::temp_folder folder;
    const std::string taken = folder.file("taken.inf");
    std::filesystem::create_directory(taken);
    text_channel report_output;
    report_output.bind(taken);
    try {
        write_info_report(saveorec{}, report_output);
        ADD_FAILURE() << "the report went on past a failed write";
    } catch (const io_failure& raised) {
        EXPECT_EQ(raised.code(), 105);
    }
    pending_io_error = 0;
    report_output.close();
    EXPECT_TRUE(std::filesystem::is_directory(taken));
}

} // namespace
} // namespace orbse
