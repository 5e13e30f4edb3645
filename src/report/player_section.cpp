#include "report/player_section.h"

#include "orbsaves/name_tables.h"
#include "orbsaves/setting_names.h"
#include "report/number_format.h"
#include "report/report_lines.h"

#include <span>
#include <string>

namespace orbse {
namespace {

// A button is on only when its byte is exactly this; any other value leaves
// it out of the button line.
constexpr std::uint8_t button_on = 1;

// The record counts clans from 1; 0 and values past the table name no clan.
std::string_view clan_text(std::uint8_t clan)
{
    if (clan < 1 || clan > clan_names.size()) {
        return unknown_text;
    }
    return clan_names[clan - 1];
}

// The line begins and ends with a space, as the game writes it.
std::string research_line(std::string_view research_name, const research_entry& entry)
{
    std::string line(" ");
    line.append(research_name)
        .append(":now=")
        .append(int_to_text(entry.now))
        .append(":unk=")
        .append(int_to_text(entry.unk))
        .append(":labs=")
        .append(int_to_text(entry.labs))
        .append(" ");
    return line;
}

void write_research(const std::array<research_entry, research_count>& research, text_channel& report_output)
{
    put_line(report_output, "Research    :");
    for (std::size_t area = 0; area < research.size(); ++area) {
        put_line(report_output, research_line(research_names[area], research[area]));
    }
}

// Every byte, the last one included, is followed by one space.
void write_byte_array_line(std::string_view label, std::span<const std::uint8_t> values,
                           text_channel& report_output)
{
    put_text(report_output, label);
    for (const std::uint8_t value : values) {
        put_text(report_output, int_to_text(value) + " ");
    }
    put_line(report_output, "");
}

void write_button_line(const std::array<std::uint8_t, button_count>& buttons, text_channel& report_output)
{
    put_text(report_output, "Button      =");
    for (std::size_t button = 0; button < buttons.size(); ++button) {
        if (buttons[button] == button_on) {
            put_text(report_output, std::string(button_names[button]) + " ");
        }
    }
    put_line(report_output, "");
}

// Who plays, for which clan, how far their research has come.
void write_standing(const player_record& player, text_channel& report_output)
{
    // An unlisted kind is no failure: the label stands alone.
    put_labelled_line(report_output, "Player type =", enumeration_text(player_kind_texts, player.player_type, ""));
    put_labelled_line(report_output, "Unk-0       =", int_to_text(player.unk0));
    put_labelled_line(report_output, "Clan        =", clan_text(player.clan));
    write_research(player.research, report_output);
    put_labelled_line(report_output, "Score       =", int_to_text(player.score));
    put_labelled_line(report_output, "Unk-2       =", int_to_text(player.unk2));
    write_byte_array_line("Unkarr-1    =", player.unkarr1, report_output);
}

// Where the player's map view stood and which map options were on.
void write_view(const player_record& player, text_channel& report_output)
{
    put_labelled_line(report_output, "Unk-3       =", int_to_text(player.unk3));
    put_labelled_line(report_output, "Selunit     =", int_to_text(player.selunit));
    put_labelled_line(report_output, "Zoom        =", int_to_text(player.zoom));
    put_labelled_line(report_output, "XOff        =", int_to_text(player.xoff));
    put_labelled_line(report_output, "YOff        =", int_to_text(player.yoff));
    write_button_line(player.buttons, report_output);
}

void write_tallies(const player_record& player, text_channel& report_output)
{
    put_labelled_line(report_output, "Unk-4       =", int_to_text(player.unk4));
    put_labelled_line(report_output, "Unk-5       =", int_to_text(player.unk5));
    put_labelled_line(report_output, "Unk-6       =", int_to_text(player.unk6));
    put_labelled_line(report_output, "Unk-7       =", int_to_text(player.unk7));
    write_byte_array_line("Loses       =", player.loses, report_output);
    write_byte_array_line("Unkarr-2    =", player.unkarr2, report_output);
    put_labelled_line(report_output, "Gold Used   =", int_to_text(player.gold_used));
}

} // namespace

void write_player_section(const player_record& player, text_channel& report_output)
{
    write_standing(player, report_output);
    write_view(player, report_output);
    write_tallies(player, report_output);
    put_line(report_output, "");
}

} // namespace orbse
