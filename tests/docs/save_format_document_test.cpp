// Holds docs/save-format.md to the program: the offsets and sizes of its
// tables against the bytes the save builder writes, the field behind each
// report label against the report, and its unit type table against the one
// the report prints from. A field is located by marking it in a described
// save and finding the bytes that change.
#include "orbsaves/loaded_saves.h"
#include "orbsaves/unit_type_table.h"
#include "report/info_report.h"
#include "report/report_capture.h"
#include "save_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace orbse {
namespace {

namespace sb = save_builder;
using description = sb::save_description;

// A table of the document: the header's cells, then each row's.
struct document_table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;

    const std::string& cell(const std::vector<std::string>& row, const std::string& column) const
    {
        const auto found = std::find(columns.begin(), columns.end(), column);
        if (found == columns.end() || static_cast<std::size_t>(found - columns.begin()) >= row.size()) {
            throw std::runtime_error("no column " + column);
        }
        return row[static_cast<std::size_t>(found - columns.begin())];
    }
};

std::vector<std::string> table_cells(const std::string& line)
{
    std::vector<std::string> cells;
    std::istringstream row(line.substr(1, line.rfind('|') - 1));
    for (std::string cell; std::getline(row, cell, '|');) {
        const auto first = cell.find_first_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
    }
    return cells;
}

// The first table after the line `heading`.
document_table table_after(const std::string& heading)
{
    std::istringstream document(testing::read_text_file(ORBSE_SAVE_FORMAT_DOCUMENT));
    std::string line;
    while (std::getline(document, line) && line != heading) {
    }
    if (line != heading) {
        throw std::runtime_error("no heading " + heading);
    }
    while (std::getline(document, line) && line.rfind('|', 0) != 0) {
    }
    document_table table{table_cells(line), {}};
    std::getline(document, line); // the line under the header
    while (std::getline(document, line) && line.rfind('|', 0) == 0) {
        table.rows.push_back(table_cells(line));
    }
    return table;
}

// The text of the first `code span` of a cell; empty when it has none.
std::string code_span(const std::string& cell)
{
    const auto open = cell.find('`');
    return open == std::string::npos ? "" : cell.substr(open + 1, cell.find('`', open + 1) - open - 1);
}

// A count of bytes as the document writes it: "12,544", "4 × 565", or
// "none" and an empty cell for no count.
std::optional<std::size_t> byte_count(std::string cell)
{
    if (cell.empty() || cell == "none") {
        return std::nullopt;
    }
    std::erase(cell, ',');
    const std::string times = "×";
    std::size_t product = 1;
    for (std::size_t at = 0;; at += times.size()) {
        product *= std::stoul(cell.substr(at));
        at = cell.find(times, at);
        if (at == std::string::npos) {
            return product;
        }
    }
}

// Sets every byte of a field, whatever its type, so that every byte the
// field takes in the file differs from the baseline's 0.
template <typename field>
void marked(field& value, int byte = 0xA5)
{
    static_assert(std::is_trivially_copyable_v<field>);
    std::memset(static_cast<void*>(&value), byte, sizeof value);
}

sb::unit_description& unit_of(description& save)
{
    return save.unit_lists[0].slots[0].chain[0];
}

struct probe {
    std::string_view field;
    void (*mark)(description&);
};

const std::vector<probe> fixed_part_probes{
    {"pass_layer", [](description& s) { marked(s.pass_layer); }},
    {"resource_layer", [](description& s) { marked(s.resource_layer); }},
    {"players",
     [](description& s) {
         marked(s.players[red].reserved_front);
         marked(s.players[gray].gold_used);
     }},
    {"block40", [](description& s) { marked(s.block40); }},
    {"block36", [](description& s) { marked(s.block36); }},
    {"groups", [](description& s) { marked(s.groups[red].block[0].object_number); }},
};

const std::vector<probe> header_probes{
    {"save_type", [](description& s) { marked(s.header.save_type); }},
    {"game_name", [](description& s) { marked(s.header.game_name); }},
    {"map_number", [](description& s) { marked(s.header.map_number); }},
    {"level_number", [](description& s) { marked(s.header.level_number); }},
    {"player_names", [](description& s) { marked(s.header.player_names); }},
    {"player_kinds", [](description& s) { marked(s.header.player_kinds); }},
    {"alien_player", [](description& s) { marked(s.header.alien_player); }},
    {"reserved", [](description& s) { marked(s.header.reserved); }},
    {"version_69_byte", [](description& s) { marked(s.version_69_byte); }},
    {"save_date", [](description& s) { marked(s.header.save_date); }},
    {"cpu_iq", [](description& s) { marked(s.header.cpu_iq); }},
    {"turn_time_1", [](description& s) { marked(s.header.turn_time_1); }},
    {"end_turn_time_1", [](description& s) { marked(s.header.end_turn_time_1); }},
    {"turn_mode_1", [](description& s) { marked(s.header.turn_mode_1); }},
    {"map_number_2", [](description& s) { marked(s.header.map_number_2); }},
    {"turn_time_2", [](description& s) { marked(s.header.turn_time_2); }},
    {"end_turn_time_2", [](description& s) { marked(s.header.end_turn_time_2); }},
    {"start_gold", [](description& s) { marked(s.header.start_gold); }},
    {"turn_mode_2", [](description& s) { marked(s.header.turn_mode_2); }},
    {"end_type", [](description& s) { marked(s.header.end_type); }},
    {"end_amount", [](description& s) { marked(s.header.end_amount); }},
    {"cpu_iq_2", [](description& s) { marked(s.header.cpu_iq_2); }},
    {"raw_richness", [](description& s) { marked(s.header.raw_richness); }},
    {"fuel_richness", [](description& s) { marked(s.header.fuel_richness); }},
    {"gold_richness", [](description& s) { marked(s.header.gold_richness); }},
    {"alien_frequency", [](description& s) { marked(s.header.alien_frequency); }},
};

// The red record's fields. Clan and buttons are marked with 1, a value that
// prints differently from 0.
const std::vector<probe> player_probes{
    {"reserved_front", [](description& s) { marked(s.players[red].reserved_front); }},
    {"player_type", [](description& s) { marked(s.players[red].player_type); }},
    {"unk0", [](description& s) { marked(s.players[red].unk0); }},
    {"clan", [](description& s) { marked(s.players[red].clan, 1); }},
    {"research", [](description& s) { marked(s.players[red].research); }},
    {"score", [](description& s) { marked(s.players[red].score); }},
    {"unk2", [](description& s) { marked(s.players[red].unk2); }},
    {"unkarr1", [](description& s) { marked(s.players[red].unkarr1); }},
    {"reserved_middle", [](description& s) { marked(s.players[red].reserved_middle); }},
    {"unk3", [](description& s) { marked(s.players[red].unk3); }},
    {"selunit", [](description& s) { marked(s.players[red].selunit); }},
    {"zoom", [](description& s) { marked(s.players[red].zoom); }},
    {"xoff", [](description& s) { marked(s.players[red].xoff); }},
    {"yoff", [](description& s) { marked(s.players[red].yoff); }},
    {"buttons", [](description& s) { marked(s.players[red].buttons, 1); }},
    {"unk4", [](description& s) { marked(s.players[red].unk4); }},
    {"unk5", [](description& s) { marked(s.players[red].unk5); }},
    {"unk6", [](description& s) { marked(s.players[red].unk6); }},
    {"unk7", [](description& s) { marked(s.players[red].unk7); }},
    {"loses", [](description& s) { marked(s.players[red].loses); }},
    {"unkarr2", [](description& s) { marked(s.players[red].unkarr2); }},
    {"gold_used", [](description& s) { marked(s.players[red].gold_used); }},
};

const std::vector<probe> unit_probes{
    {"object_id", [](description& s) { marked(s.unit_lists[0].slots[0].object_number); }},
    {"class_word", [](description& s) { marked(s.unit_lists[0].slots[0].class_word); }},
    {"selected", [](description& s) { marked(unit_of(s).selected); }},
    {"unk1", [](description& s) { marked(unit_of(s).unk1); }},
    {"unk2", [](description& s) { marked(unit_of(s).unk2); }},
    {"unk3", [](description& s) { marked(unit_of(s).unk3); }},
    {"speed_now", [](description& s) { marked(unit_of(s).speed_now); }},
    {"unk4", [](description& s) { marked(unit_of(s).unk4); }},
    {"unk5", [](description& s) { marked(unit_of(s).unk5); }},
    {"unk6", [](description& s) { marked(unit_of(s).unk6); }},
    {"unk7", [](description& s) { marked(unit_of(s).unk7); }},
    {"unk8", [](description& s) { marked(unit_of(s).unk8); }},
    {"path_ref", [](description& s) { marked(unit_of(s).path_ref); }},
    {"path_kind", [](description& s) { marked(unit_of(s).path_kind); }},
};

// Words of a unit that lie at no fixed offset but have report lines.
const std::vector<probe> unit_word_probes{
    {"unit_class", [](description& s) { marked(unit_of(s).unit_class); }},
    {"unkf1", [](description& s) { marked(unit_of(s).unkf1); }},
};

using probe_sets = std::vector<std::span<const probe>>;

const probe* find_probe(const probe_sets& sets, const std::string& field)
{
    for (const auto& set : sets) {
        for (const probe& candidate : set) {
            if (candidate.field == field) {
                return &candidate;
            }
        }
    }
    return nullptr;
}

// Every probe starts from this save: one unit, of a type the listing names.
description baseline(std::uint16_t version)
{
    description save = sb::empty_save(version);
    sb::unit_description tank;
    tank.unit_class = 52;
    save.unit_lists = {{{sb::new_unit(1, {tank})}}};
    sb::number_units(save);
    return save;
}

description marked_save(std::uint16_t version, const probe& field)
{
    description save = baseline(version);
    field.mark(save);
    return save;
}

struct byte_span {
    std::size_t start;
    std::size_t size;
};

// Where the bytes of the save change when the field is marked; nothing when
// the field is not written at all.
std::optional<byte_span> changed_bytes(std::uint16_t version, const probe& field)
{
    const sb::bytes plain = sb::build_save(baseline(version));
    const sb::bytes changed = sb::build_save(marked_save(version, field));
    EXPECT_EQ(changed.size(), plain.size()) << field.field;
    const auto first = std::mismatch(plain.begin(), plain.end(), changed.begin(), changed.end());
    if (first.first == plain.end()) {
        return std::nullopt;
    }
    const auto last = std::mismatch(plain.rbegin(), plain.rend(), changed.rbegin(), changed.rend());
    const auto start = static_cast<std::size_t>(first.first - plain.begin());
    return byte_span{start, static_cast<std::size_t>(plain.rend() - last.first) - start};
}

struct offset_table_case {
    const char* name;
    const char* heading;
    const char* field_column;
    const char* offset_column;
    std::uint16_t version;
    std::span<const probe> probes;
    // The field whose place the table's offsets count from; none for the file.
    const char* origin;
};

TEST(save_format_document, offset_tables_match_the_save_builders_layout)
{
    const std::vector<offset_table_case> cases{
        {"fixed part, version 70", "## The fixed part", "Piece", "Version 70", 70, fixed_part_probes, nullptr},
        {"fixed part, version 69", "## The fixed part", "Piece", "Version 69", 69, fixed_part_probes, nullptr},
        {"fixed part, version 71", "## The fixed part", "Piece", "Other versions", 71, fixed_part_probes, nullptr},
        {"header, version 70", "### Game header", "Field", "Version 70", 70, header_probes, nullptr},
        {"header, version 69", "### Game header", "Field", "Version 69", 69, header_probes, nullptr},
        {"player record", "### Player record", "Field", "Offset", 70, player_probes, "reserved_front"},
        {"unit object", "### The unit's fixed fields", "Field", "Offset", 70, unit_probes, "object_id"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const document_table table = table_after(entry.heading);
        const std::size_t origin =
            entry.origin ? changed_bytes(entry.version, *find_probe({entry.probes}, entry.origin)).value().start : 0;
        std::set<std::string> documented;
        for (const auto& row : table.rows) {
            const std::string field = code_span(table.cell(row, entry.field_column));
            if (field.empty()) {
                continue;
            }
            documented.insert(field);
            const probe* located = find_probe({entry.probes}, field);
            if (located == nullptr) {
                ADD_FAILURE() << "the document names a field the builder has no place for: " << field;
                continue;
            }
            const auto written = changed_bytes(entry.version, *located);
            const auto offset = byte_count(table.cell(row, entry.offset_column));
            EXPECT_EQ(written.has_value(), offset.has_value()) << field << " is written, or documented, only once";
            if (written && offset) {
                EXPECT_EQ(written->start - origin, *offset) << field;
                EXPECT_EQ(written->size, byte_count(table.cell(row, "Size")).value_or(written->size)) << field;
            }
        }
        for (const probe& field : entry.probes) {
            EXPECT_EQ(documented.count(std::string(field.field)), 1u) << "not in the table: " << field.field;
        }
    }
}

// The report's lines that begin with `label`, after the one space that
// begins every line of a unit.
std::vector<std::string> lines_with(const description& save, const std::string& label)
{
    const auto loaded = testing::load_bytes(sb::build_save(save));
    std::vector<std::string> found;
    for (std::string line : testing::crlf_lines(testing::captured_report(
             [&](text_channel& report_output) { write_info_report(*loaded, report_output); }))) {
        if (line.rfind(' ', 0) == 0) {
            line.erase(0, 1);
        }
        if (line.rfind(label, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

TEST(save_format_document, each_report_label_prints_the_field_it_names)
{
    const std::vector<std::pair<std::string, probe_sets>> sections{
        {"### Game-info section", {header_probes}},
        {"### Player section", {player_probes}},
        {"### Unit listing", {unit_probes, unit_word_probes}},
    };
    for (const auto& [heading, probes] : sections) {
        SCOPED_TRACE(heading);
        const document_table table = table_after(heading);
        EXPECT_FALSE(table.rows.empty());
        for (const auto& row : table.rows) {
            const std::string label = code_span(table.cell(row, "Report line"));
            const std::string field = code_span(table.cell(row, "Field"));
            if (field.empty()) {
                continue;
            }
            const probe* named = find_probe(probes, field);
            ASSERT_NE(named, nullptr) << label << " names an unknown field " << field;
            const auto plain = lines_with(baseline(70), label);
            EXPECT_FALSE(plain.empty()) << "no report line begins with " << label;
            EXPECT_NE(lines_with(marked_save(70, *named), label), plain) << label << " does not show " << field;
        }
    }
}

TEST(save_format_document, unit_type_table_is_the_one_the_report_prints)
{
    const document_table table = table_after("## Unit types");
    ASSERT_EQ(table.rows.size(), unit_type_table.size());
    for (std::size_t row = 0; row < unit_type_table.size(); ++row) {
        const auto& cells = table.rows[row];
        EXPECT_EQ(table.cell(cells, "Row"), std::to_string(row));
        EXPECT_EQ(code_span(table.cell(cells, "Internal name")), unit_type_table[row].internal_name) << row;
        EXPECT_EQ(code_span(table.cell(cells, "Display name")), unit_type_table[row].display_name) << row;
        EXPECT_EQ(code_span(table.cell(cells, "File stem")), unit_type_table[row].file_stem) << row;
    }
}

} // namespace
} // namespace orbse
