#include "report/info_report.h"

#include "orbsaves/setting_names.h"

#include "report/number_format.h"
#include "report/player_section.h"
#include "report/report_lines.h"
#include "report/unit_listing.h"

#include <algorithm>
#include <string>

namespace orbse {
namespace {

constexpr std::array<std::string_view, player_count> player_headings{"Red:", "Green:", "Blue:", "Gray:"};

// Each setting line names its own value: one outside its table prints
// "Unknown", never the text of a line before it.
template <std::size_t entry_count>
std::string setting_text(const std::array<enumeration_entry, entry_count>& table, std::int32_t value)
{
    return std::string(enumeration_text(table, value, unknown_text));
}

// The stored bytes up to the first NUL, all of them when there is none; no
// trimming and no change of character set.
std::string name_text(const name_field& field)
{
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

struct game_info_line {
    std::string_view label;
    std::string (*value_text)(const game_header& header);
};

// The game-info section, in report order. Every label is a name padded to
// twelve characters and "=".
constexpr std::array<game_info_line, 30> game_info_lines{{
    {"Save type   =", [](const game_header& header) { return setting_text(save_type_texts, header.save_type); }},
    {"Game Name   =", [](const game_header& header) { return name_text(header.game_name); }},
    {"Map N       =", [](const game_header& header) { return int_to_text(header.map_number); }},
    {"Level number=", [](const game_header& header) { return int_to_text(header.level_number); }},
    {"Red Name    =", [](const game_header& header) { return name_text(header.player_names[red]); }},
    {"Green Name  =", [](const game_header& header) { return name_text(header.player_names[green]); }},
    {"Blue Name   =", [](const game_header& header) { return name_text(header.player_names[blue]); }},
    {"Gray Name   =", [](const game_header& header) { return name_text(header.player_names[gray]); }},
    {"Red player  =",
     [](const game_header& header) { return setting_text(player_kind_texts, header.player_kinds[red]); }},
    {"Green player=",
     [](const game_header& header) { return setting_text(player_kind_texts, header.player_kinds[green]); }},
    {"Blue player =",
     [](const game_header& header) { return setting_text(player_kind_texts, header.player_kinds[blue]); }},
    {"Gray player =",
     [](const game_header& header) { return setting_text(player_kind_texts, header.player_kinds[gray]); }},
    {"Alien player=", [](const game_header& header) { return int_to_text(header.alien_player); }},
    {"Save date   =", [](const game_header& header) { return save_date_text(header.save_date); }},
    {"CPU IQ      =", [](const game_header& header) { return int_to_text(header.cpu_iq); }},
    {"Time turn #1=", [](const game_header& header) { return int_to_text(header.turn_time_1); }},
    {"Time et #1  =", [](const game_header& header) { return int_to_text(header.end_turn_time_1); }},
    {"Turn mode #1=", [](const game_header& header) { return setting_text(turn_mode_texts, header.turn_mode_1); }},
    {"Map N #2    =", [](const game_header& header) { return int_to_text(header.map_number_2); }},
    {"Time turn #2=", [](const game_header& header) { return int_to_text(header.turn_time_2); }},
    {"Time et #2  =", [](const game_header& header) { return int_to_text(header.end_turn_time_2); }},
    {"Start Gold  =", [](const game_header& header) { return int_to_text(header.start_gold); }},
    {"Turn mode #2=", [](const game_header& header) { return setting_text(turn_mode_texts, header.turn_mode_2); }},
    {"Type of end =", [](const game_header& header) { return setting_text(end_type_texts, header.end_type); }},
    {"Amt to end  =", [](const game_header& header) { return int_to_text(header.end_amount); }},
    {"CPU IQ #2   =", [](const game_header& header) { return int_to_text(header.cpu_iq_2); }},
    {"Start raw   =", [](const game_header& header) { return setting_text(richness_texts, header.raw_richness); }},
    {"Start fuel  =", [](const game_header& header) { return setting_text(richness_texts, header.fuel_richness); }},
    {"Start gold  =", [](const game_header& header) { return setting_text(richness_texts, header.gold_richness); }},
    {"Start aliens=",
     [](const game_header& header) { return setting_text(alien_frequency_texts, header.alien_frequency); }},
}};

void write_game_info(const game_header& header, text_channel& report_output)
{
    put_line(report_output, "Game info:");
    for (const game_info_line& line : game_info_lines) {
        put_labelled_line(report_output, line.label, line.value_text(header));
    }
}

// Each player section closes with an empty line of its own, and one more
// follows it, so two empty lines part one section from the next heading.
void write_player_sections(const saveorec& save, text_channel& report_output)
{
    for (int colour = red; colour < player_count; ++colour) {
        put_line(report_output, player_headings[colour]);
        write_player_section(save.players[colour], report_output);
        put_line(report_output, "");
    }
}

} // namespace

void write_info_report(const saveorec& save, text_channel& report_output)
{
    write_game_info(save.header, report_output);
    put_line(report_output, "");
    write_player_sections(save, report_output);
    put_line(report_output, "");
    put_line(report_output, "Units:");
    write_unit_listing(save, report_output);
    put_line(report_output, "");
}

} // namespace orbse
