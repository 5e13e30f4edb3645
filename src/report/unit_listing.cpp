#include "report/unit_listing.h"

#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_type_table.h"
#include "report/number_format.h"
#include "report/report_lines.h"

#include <algorithm>
#include <array>
#include <concepts>
#include <cstring>
#include <cstdint>
#include <string_view>

namespace orbse {
namespace {

struct unit_value_line {
    std::string_view label;
    std::int32_t (*value)(const unidefrec& unit);
};

// The eleven value lines after the type line, in report order. Every label
// starts with a space and, but for " unkf1=", ends with one.
constexpr std::array<unit_value_line, 11> unit_value_lines{{
    {" Selected= ", [](const unidefrec& unit) -> std::int32_t { return unit.selected(); }},
    {" SpeedNow= ", [](const unidefrec& unit) -> std::int32_t { return unit.speed_now(); }},
    {" unk1= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk1(); }},
    {" unk2= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk2(); }},
    {" unk3= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk3(); }},
    {" unk4= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk4(); }},
    {" unk5= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk5(); }},
    {" unk6= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk6(); }},
    {" unk7= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk7(); }},
    {" unk8= ", [](const unidefrec& unit) -> std::int32_t { return unit.unk8(); }},
    {" unkf1=", [](const unidefrec& unit) -> std::int32_t { return unit.unkf1; }},
}};

// A unit whose unit_class points past the index, or at an entry that names
// no row of the table, still gets its type line.
constexpr std::string_view unknown_type_text = "Unknown:";

// The thirteen lines of one unit, gathered and handed to the report in one
// write. The report's bytes are those of writing the lines one by one, and
// so are its 128-byte blocks: the channel cuts blocks from the stream of
// bytes whatever the writes were. Should a block fail, the run ends there
// either way, with the same blocks in the file. A listing may run to
// millions of units, and one write per unit instead of one per line takes
// about a tenth off the time of a large listing.
class unit_lines {
public:
    explicit unit_lines(text_channel& report_output) : report_output_(report_output) {}

    void add(std::string_view piece)
    {
        if (piece.size() > room()) [[unlikely]] {
            // Labels and type names are short and numbers have at most 20
            // digits, so a unit's lines always fit; were a table ever to
            // hold longer names, the text would go in more than one write.
            write_gathered();
            if (piece.size() > text_.size()) {
                put_text(report_output_, piece);
                return;
            }
        }
        std::memcpy(text_.data() + size_, piece.data(), piece.size());
        size_ += piece.size();
    }

    // Positions print like every other number. Past the 32-bit range,
    // which only a save of many gigabytes reaches, they go on counting
    // rather than turn negative.
    template <std::integral number>
    void add_number(number value)
    {
        if (room() < max_number_text) [[unlikely]] {
            write_gathered();
        }
        size_ = static_cast<std::size_t>(put_decimal(text_.data() + size_, value) - text_.data());
    }

    void end_line() { add(text_channel::line_break); }

    // Hands the gathered lines to the report, checked like every report
    // write.
    void write_gathered()
    {
        put_text(report_output_, std::string_view(text_.data(), size_));
        size_ = 0;
    }

private:
    std::size_t room() const { return text_.size() - size_; }

    text_channel& report_output_;
    std::array<char, 1024> text_;
    std::size_t size_ = 0;
};

void add_type_line(const saveorec& save, const unidefrec& unit, unit_lines& lines)
{
    lines.add(" Type=");
    if (const unit_type_row* row = find_unit_type(save, unit.unit_class)) {
        lines.add(row->internal_name);
        lines.add(":");
        lines.add(row->file_stem);
    } else {
        lines.add(unknown_type_text);
    }
    lines.end_line();
}

void write_unit(const saveorec& save, const unit_slot& slot, text_channel& report_output)
{
    unit_lines lines(report_output);
    lines.add("Unit ");
    lines.add_number(std::uint64_t{slot.list});
    lines.add(":");
    lines.add_number(std::uint64_t{slot.slot});
    lines.add(":");
    lines.end_line();
    add_type_line(save, *slot.unit, lines);
    for (const unit_value_line& line : unit_value_lines) {
        lines.add(line.label);
        lines.add_number(line.value(*slot.unit));
        lines.end_line();
    }
    lines.write_gathered();
}

} // namespace

void write_unit_listing(const saveorec& save, text_channel& report_output)
{
    save.unit_store.for_each_slot([&](const unit_slot& slot) {
        if (slot.present()) {
            write_unit(save, slot, report_output);
        }
    });
}

} // namespace orbse
