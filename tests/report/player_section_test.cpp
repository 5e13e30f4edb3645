#include "report/player_section.h"

#include "report_capture.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace orbse {
namespace {

std::vector<std::string> section_lines(const player_record& player)
{
    return testing::crlf_lines(
        testing::captured_report([&](text_channel& report_output) { write_player_section(player, report_output); }));
}

std::string repeated(const std::string& piece, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

// Where the lines of one section stand.
constexpr std::size_t first_research_line = 4;
constexpr std::size_t unkarr1_line = 14;
constexpr std::size_t button_line = 20;
constexpr std::size_t loses_line = 25;
constexpr std::size_t unkarr2_line = 26;
constexpr std::size_t section_line_count = 29;

player_record sample_player()
{
    player_record player;
    player.player_type = 2;
    player.unk0 = 255;
    player.clan = 4;
    for (int area = 0; area < research_count; ++area) {
        player.research[area] = {area + 1, -area, 10 * area};
    }
    player.score = -1;
    player.unk2 = 65535;
    player.unkarr1.fill(7);
    player.unkarr1.front() = 0;
    player.unkarr1.back() = 255;
    player.unk3 = 3;
    player.selunit = 513;
    player.zoom = 64;
    player.xoff = 111;
    player.yoff = 1;
    player.buttons = {1, 0, 1, 2, 1, 255, 0, 1, 0, 0, 1};
    player.unk4 = 4;
    player.unk5 = 5;
    player.unk6 = 6;
    player.unk7 = 7;
    player.loses.fill(255);
    player.loses[100] = 12;
    player.unkarr2 = {0, 1, 2, 127, 128, 200, 254, 255, 10, 99};
    player.gold_used = 40000;
    // Bytes the section does not print.
    player.reserved_front.fill(0xAA);
    player.reserved_middle.fill(0xBB);
    return player;
}

TEST(player_section, writes_a_record_as_twenty_nine_lines)
{
    const std::vector<std::string> expected{
        "Player type =Computer",
        "Unk-0       =255",
        "Clan        =Ayer's Hand",
        "Research    :",
        " Attack:now=1:unk=0:labs=0 ",
        " Shot:now=2:unk=-1:labs=10 ",
        " Range:now=3:unk=-2:labs=20 ",
        " Armor:now=4:unk=-3:labs=30 ",
        " Hits:now=5:unk=-4:labs=40 ",
        " Speed:now=6:unk=-5:labs=50 ",
        " Scan:now=7:unk=-6:labs=60 ",
        " Cost:now=8:unk=-7:labs=70 ",
        "Score       =-1",
        "Unk-2       =65535",
        "Unkarr-1    =0 " + repeated("7 ", 91) + "255 ",
        "Unk-3       =3",
        "Selunit     =513",
        "Zoom        =64",
        "XOff        =111",
        "YOff        =1",
        "Button      =Range Status Hits 2X Survey ",
        "Unk-4       =4",
        "Unk-5       =5",
        "Unk-6       =6",
        "Unk-7       =7",
        "Loses       =" + repeated("255 ", 100) + "12 " + repeated("255 ", 75),
        "Unkarr-2    =0 1 2 127 128 200 254 255 10 99 ",
        "Gold Used   =40000",
        "",
    };
    EXPECT_EQ(section_lines(sample_player()), expected);
}

TEST(player_section, labels_are_thirteen_characters_wide)
{
    const std::vector<std::string> lines = section_lines(sample_player());
    ASSERT_EQ(lines.size(), section_line_count);
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        if (index >= first_research_line && index < first_research_line + research_count) {
            continue; // research lines carry no label
        }
        const std::string& line = lines[index];
        ASSERT_GE(line.size(), 13u) << line;
        EXPECT_TRUE(line[12] == '=' || line[12] == ':') << line;
        EXPECT_EQ(line.substr(0, 12).find_first_of("=:"), std::string::npos) << line;
    }
    EXPECT_EQ(lines.back(), "");
}

TEST(player_section, is_twenty_nine_lines_whatever_the_record_holds)
{
    player_record zeros;
    player_record ones;
    ones.player_type = 255;
    ones.clan = 255;
    ones.buttons.fill(1);
    for (const player_record& player : {zeros, ones, sample_player()}) {
        EXPECT_EQ(section_lines(player).size(), section_line_count);
    }
}

struct text_case {
    std::uint8_t value;
    const char* line;
};

TEST(player_section, player_type_names_the_kind_or_leaves_it_empty)
{
    for (const text_case entry :
         {text_case{0, "Player type =Absent"}, text_case{1, "Player type =Human"},
          text_case{2, "Player type =Computer"}, text_case{3, "Player type ="}, text_case{255, "Player type ="}}) {
        player_record player;
        player.player_type = entry.value;
        EXPECT_EQ(section_lines(player).front(), entry.line) << int(entry.value);
    }
}

TEST(player_section, clan_counts_from_one_and_names_others_unknown)
{
    for (const text_case entry : {
             text_case{0, "Clan        =Unknown"},
             text_case{1, "Clan        =The Choosen"},
             text_case{2, "Clan        =Crimson Path"},
             text_case{3, "Clan        =Von Griffin"},
             text_case{4, "Clan        =Ayer's Hand"},
             text_case{5, "Clan        =Musashi"},
             text_case{6, "Clan        =Sacred Eights"},
             text_case{7, "Clan        =7 Knights"},
             text_case{8, "Clan        =Axis Inc."},
             text_case{9, "Clan        =Unknown"},
             text_case{255, "Clan        =Unknown"},
         }) {
        player_record player;
        player.clan = entry.value;
        EXPECT_EQ(section_lines(player)[2], entry.line) << int(entry.value);
    }
}

TEST(player_section, research_lines_begin_and_end_with_a_space)
{
    player_record player;
    player.research[0] = {5, -1, 0};
    player.research[7] = {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(), -1};
    const std::vector<std::string> lines = section_lines(player);
    EXPECT_EQ(lines[first_research_line - 1], "Research    :");
    EXPECT_EQ(lines[first_research_line], " Attack:now=5:unk=-1:labs=0 ");
    EXPECT_EQ(lines[first_research_line + 1], " Shot:now=0:unk=0:labs=0 ");
    EXPECT_EQ(lines[first_research_line + 7], " Cost:now=2147483647:unk=-2147483648:labs=-1 ");
}

struct button_case {
    std::array<std::uint8_t, button_count> buttons;
    const char* line;
};

TEST(player_section, button_line_lists_the_buttons_whose_byte_is_one)
{
    for (const button_case& entry : {
             button_case{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Button      ="},
             button_case{{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
                         "Button      =Range Scan Status Colors Hits Ammo Names 2X TNT Grid Survey "},
             button_case{{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, "Button      ="},
             button_case{{0, 1, 2, 0, 1, 2, 0, 1, 2, 255, 1}, "Button      =Scan Hits 2X Survey "},
         }) {
        player_record player;
        player.buttons = entry.buttons;
        EXPECT_EQ(section_lines(player)[button_line], entry.line);
    }
}

std::vector<int> numbers_after_label(const std::string& line, std::size_t label_width)
{
    std::vector<int> numbers;
    std::istringstream values(line.substr(label_width));
    for (int value = 0; values >> value;) {
        numbers.push_back(value);
    }
    return numbers;
}

struct byte_array_case {
    std::size_t line;
    const char* label;
    std::size_t value_count;
};

TEST(player_section, byte_array_lines_print_every_value_and_one_space_after_each)
{
    player_record player;
    for (std::size_t i = 0; i < player.unkarr1.size(); ++i) {
        player.unkarr1[i] = static_cast<std::uint8_t>(i * 3);
    }
    for (std::size_t i = 0; i < player.loses.size(); ++i) {
        player.loses[i] = static_cast<std::uint8_t>(255 - i);
    }
    for (std::size_t i = 0; i < player.unkarr2.size(); ++i) {
        player.unkarr2[i] = static_cast<std::uint8_t>(i * 28);
    }
    const std::vector<std::string> lines = section_lines(player);
    const std::vector<std::vector<std::uint8_t>> arrays{
        {player.unkarr1.begin(), player.unkarr1.end()},
        {player.loses.begin(), player.loses.end()},
        {player.unkarr2.begin(), player.unkarr2.end()},
    };
    const byte_array_case cases[] = {
        {unkarr1_line, "Unkarr-1    =", 93},
        {loses_line, "Loses       =", 176},
        {unkarr2_line, "Unkarr-2    =", 10},
    };
    for (std::size_t which = 0; which < std::size(cases); ++which) {
        const byte_array_case& entry = cases[which];
        const std::string& line = lines[entry.line];
        EXPECT_EQ(line.substr(0, 13), entry.label);
        const std::string values = line.substr(13);
        EXPECT_EQ(std::count(values.begin(), values.end(), ' '), static_cast<std::ptrdiff_t>(entry.value_count))
            << entry.label;
        EXPECT_EQ(values.back(), ' ') << entry.label;
        EXPECT_EQ(values.find("  "), std::string::npos) << entry.label;
        EXPECT_NE(values.front(), ' ') << entry.label;
        const std::vector<int> expected(arrays[which].begin(), arrays[which].end());
        EXPECT_EQ(numbers_after_label(line, 13), expected) << entry.label;
    }
}

} // namespace
} // namespace orbse
