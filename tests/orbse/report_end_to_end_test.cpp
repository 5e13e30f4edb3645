// Runs the real executable on a built save and compares the whole info
// report it writes with the text written out here.
#include "save_builder.h"
#include "support/environment.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::program_result;
using testing::run_inspector;
using testing::temp_folder;

// A name of exactly 30 bytes: no NUL ends it, two spaces close it.
constexpr char full_game_name[] = "Long Winter \xC4\xD6\xDC at the Caf\xE9\xFF  ";
static_assert(sizeof full_game_name - 1 == name_size);

game_header sample_header()
{
    game_header header;
    header.version = 70;
    header.save_type = 4;
    header.game_name = sb::name(full_game_name);
    header.map_number = 17;
    header.level_number = 300;
    header.player_names = {sb::name("Redbeard"), sb::name(""), sb::name("Bl\xFC" "e"), sb::name("Slate   ")};
    header.player_kinds = {1, 2, 0, 7};
    header.alien_player = 0;
    header.save_date = 1709210096;
    header.cpu_iq = 2;
    header.turn_time_1 = 65535;
    header.end_turn_time_1 = 30;
    header.turn_mode_1 = 1;
    header.map_number_2 = static_cast<std::int32_t>(0xFFFFFFFFu);
    header.turn_time_2 = 240;
    header.end_turn_time_2 = 0;
    header.start_gold = 2147483647;
    header.turn_mode_2 = 256;
    header.end_type = 0;
    header.end_amount = 100;
    header.cpu_iq_2 = static_cast<std::int32_t>(0x80000000u);
    header.raw_richness = 2;
    header.fuel_richness = 5;
    header.gold_richness = 0;
    header.alien_frequency = 1;
    return header;
}

player_record red_player()
{
    player_record player;
    player.player_type = 1;
    player.unk0 = 3;
    player.clan = 6;
    player.research[0] = {2, -1, 1};
    player.research[6] = {4, 0, 12};
    player.score = 1234;
    player.unk2 = 7;
    player.unkarr1.front() = 5;
    player.unkarr1.back() = 200;
    player.selunit = 42;
    player.zoom = 64;
    player.xoff = 30;
    player.yoff = 40;
    player.buttons = {1, 1, 0, 0, 0, 0, 1, 0, 2, 1, 0};
    player.unk4 = 1;
    player.unk5 = 2;
    player.unk6 = 3;
    player.unk7 = 4;
    player.loses.front() = 1;
    player.unkarr2 = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    player.gold_used = 321;
    return player;
}

sb::save_description sample_save()
{
    sb::save_description save = sb::empty_save();
    save.header = sample_header();
    save.players[red] = red_player();
    save.players[green].player_type = 2;
    save.players[green].clan = 9;
    save.players[gray].player_type = 3;
    save.players[gray].clan = 8;
    save.players[gray].score = -1;
    save.players[gray].buttons.fill(1);
    return save;
}

// Unit class numbers name the object of a red units_block row; the listing
// reads the index entry one further on, whose type is that row.
constexpr std::uint16_t red_row_object(int row)
{
    return static_cast<std::uint16_t>(row + 1);
}

sb::unit_description tank()
{
    sb::unit_description unit;
    unit.selected = 1;
    unit.speed_now = 300;
    unit.unk1 = 65535;
    unit.unk2 = 2;
    unit.unk3 = 255;
    unit.unk4 = 4;
    unit.unk5 = 5;
    unit.unk6 = 6;
    unit.unk7 = 7;
    unit.unk8 = 8;
    unit.unit_class = red_row_object(51);
    unit.unkf1 = 1;
    unit.unkf1_extra = 77;
    return unit;
}

sb::unit_description shield_generator()
{
    sb::unit_description unit;
    unit.unit_class = red_row_object(4);
    return unit;
}

// Three unit lists: a reference and then a tank; references only; a shield
// generator. Only the two new units are listed, at their own positions.
sb::save_description sample_save_with_units()
{
    sb::save_description save = sample_save();
    save.unit_lists = {
        {{sb::reference(3), sb::new_unit(1, {tank()})}},
        {{sb::reference(4), sb::reference(5)}},
        {{sb::new_unit(1, {shield_generator()})}},
    };
    sb::number_units(save);
    return save;
}

// Runs of "0 " in the byte array lines, too long to write out one by one.
std::string zeros(std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += "0 ";
    }
    return text;
}

std::string crlf(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

const std::string expected_game_info = crlf({
    "Game info:",
    "Save type   =Unknown",
    "Game Name   =Long Winter \xC4\xD6\xDC at the Caf\xE9\xFF  ",
    "Map N       =17",
    "Level number=300",
    "Red Name    =Redbeard",
    "Green Name  =",
    "Blue Name   =Bl\xFC" "e",
    "Gray Name   =Slate   ",
    "Red player  =Human",
    "Green player=Computer",
    "Blue player =Absent",
    "Gray player =Unknown",
    "Alien player=0",
    "Save date   =2024:02:29-12:34:56",
    "CPU IQ      =2",
    "Time turn #1=65535",
    "Time et #1  =30",
    "Turn mode #1=Simultaneous",
    "Map N #2    =-1",
    "Time turn #2=240",
    "Time et #2  =0",
    "Start Gold  =2147483647",
    "Turn mode #2=Unknown",
    "Type of end =Turns",
    "Amt to end  =100",
    "CPU IQ #2   =-2147483648",
    "Start raw   =Rich",
    "Start fuel  =Unknown",
    "Start gold  =Poor",
    "Start aliens=Rare",
    "",
});

const std::string expected_red = crlf({
    "Red:",
    "Player type =Human",
    "Unk-0       =3",
    "Clan        =Sacred Eights",
    "Research    :",
    " Attack:now=2:unk=-1:labs=1 ",
    " Shot:now=0:unk=0:labs=0 ",
    " Range:now=0:unk=0:labs=0 ",
    " Armor:now=0:unk=0:labs=0 ",
    " Hits:now=0:unk=0:labs=0 ",
    " Speed:now=0:unk=0:labs=0 ",
    " Scan:now=4:unk=0:labs=12 ",
    " Cost:now=0:unk=0:labs=0 ",
    "Score       =1234",
    "Unk-2       =7",
    "Unkarr-1    =5 " + zeros(91) + "200 ",
    "Unk-3       =0",
    "Selunit     =42",
    "Zoom        =64",
    "XOff        =30",
    "YOff        =40",
    "Button      =Range Scan Names Grid ",
    "Unk-4       =1",
    "Unk-5       =2",
    "Unk-6       =3",
    "Unk-7       =4",
    "Loses       =1 " + zeros(175),
    "Unkarr-2    =9 8 7 6 5 4 3 2 1 0 ",
    "Gold Used   =321",
    "",
    "",
});

// A player section of zeros but for its kind, clan, score and buttons.
std::string expected_plain_section(const std::string& heading, const std::string& kind, const std::string& clan,
                                   const std::string& score, const std::string& buttons)
{
    return crlf({
        heading,
        "Player type =" + kind,
        "Unk-0       =0",
        "Clan        =" + clan,
        "Research    :",
        " Attack:now=0:unk=0:labs=0 ",
        " Shot:now=0:unk=0:labs=0 ",
        " Range:now=0:unk=0:labs=0 ",
        " Armor:now=0:unk=0:labs=0 ",
        " Hits:now=0:unk=0:labs=0 ",
        " Speed:now=0:unk=0:labs=0 ",
        " Scan:now=0:unk=0:labs=0 ",
        " Cost:now=0:unk=0:labs=0 ",
        "Score       =" + score,
        "Unk-2       =0",
        "Unkarr-1    =" + zeros(93),
        "Unk-3       =0",
        "Selunit     =0",
        "Zoom        =0",
        "XOff        =0",
        "YOff        =0",
        "Button      =" + buttons,
        "Unk-4       =0",
        "Unk-5       =0",
        "Unk-6       =0",
        "Unk-7       =0",
        "Loses       =" + zeros(176),
        "Unkarr-2    =" + zeros(10),
        "Gold Used   =0",
        "",
        "",
    });
}

// A save without units: nothing stands between "Units:" and the last line.
const std::string expected_end = crlf({"", "Units:", ""});

const std::string expected_units = crlf({
    "",
    "Units:",
    "Unit 0:1:",
    " Type=TANK:tank",
    " Selected= 1",
    " SpeedNow= 300",
    " unk1= 65535",
    " unk2= 2",
    " unk3= 255",
    " unk4= 4",
    " unk5= 5",
    " unk6= 6",
    " unk7= 7",
    " unk8= 8",
    " unkf1=1",
    "Unit 2:0:",
    " Type=SHIELD_GEN:",
    " Selected= 0",
    " SpeedNow= 0",
    " unk1= 0",
    " unk2= 0",
    " unk3= 0",
    " unk4= 0",
    " unk5= 0",
    " unk6= 0",
    " unk7= 0",
    " unk8= 0",
    " unkf1=0",
    "",
});

std::string expected_report(const std::string& end = expected_end)
{
    return expected_game_info + expected_red +
           expected_plain_section("Green:", "Computer", "Unknown", "0", "") +
           expected_plain_section("Blue:", "Absent", "Unknown", "0", "") +
           expected_plain_section("Gray:", "", "Axis Inc.", "-1",
                                  "Range Scan Status Colors Hits Ammo Names 2X TNT Grid Survey ") +
           end;
}

// Sets an environment variable for as long as it lives; the inspector started
// meanwhile inherits it.
class environment_override {
public:
    environment_override(const char* name, const char* value) : name_(name)
    {
        if (const char* current = std::getenv(name)) {
            saved_ = current;
        }
        testing::set_environment(name, value);
    }
    ~environment_override()
    {
        if (saved_) {
            testing::set_environment(name_, *saved_);
        } else {
            testing::unset_environment(name_);
        }
    }
    environment_override(const environment_override&) = delete;
    environment_override& operator=(const environment_override&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

TEST(report_end_to_end, writes_the_whole_info_report_in_any_time_zone)
{
    for (const char* zone : {"UTC0", "XYZ-14", "America/New_York"}) {
        const environment_override time_zone("TZ", zone);
        temp_folder folder;
        const auto save = folder.file("winter.sav");
        testing::write_file(save, sb::build_save(sample_save()));
        const program_result result = run_inspector({save});
        EXPECT_EQ(result.exit_code, 0) << zone;
        EXPECT_EQ(result.standard_output, "") << zone;
        EXPECT_EQ(result.standard_error, "") << zone;
        EXPECT_EQ(testing::read_text_file(save + ".inf"), expected_report()) << zone;
    }
}

TEST(report_end_to_end, replaces_an_older_report_of_the_same_name)
{
    temp_folder folder;
    const auto save = folder.file("winter.sav");
    testing::write_file(save, sb::build_save(sample_save()));
    testing::write_text_file(save + ".inf", std::string(300, 'x'));
    const program_result result = run_inspector({save});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(testing::read_text_file(save + ".inf"), expected_report());
}

TEST(report_end_to_end, lists_every_new_unit_between_units_and_the_last_line)
{
    temp_folder folder;
    const auto save = folder.file("units.sav");
    testing::write_file(save, sb::build_save(sample_save_with_units()));
    const program_result result = run_inspector({save});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(testing::read_text_file(save + ".inf"), expected_report(expected_units));
}

} // namespace
} // namespace orbse
