#include "report/unit_listing.h"

#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_type_table.h"
#include "report/number_format.h"
#include "report/report_lines.h"

#include <array>
#include <charconv>
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

// Positions print like every other number. Past the 32-bit range, which
// only a save of many gigabytes reaches, they go on counting rather than
// turn negative: unsigned decimal digits either way.
std::string_view position_text(std::size_t position, number_text_storage& storage)
{
    const auto result = std::to_chars(storage.data(), storage.data() + storage.size(), std::uint64_t{position});
    return {storage.data(), static_cast<std::size_t>(result.ptr - storage.data())};
}

// A listing may run to millions of units, so its lines are handed to the
// report in pieces, with numbers formatted on the stack: nothing is
// allocated per line.
void write_type_line(const saveorec& save, const unidefrec& unit, text_channel& report_output)
{
    const unit_type_row* row = find_unit_type(save, unit.unit_class);
    if (row == nullptr) {
        put_labelled_line(report_output, " Type=", unknown_type_text);
        return;
    }
    put_joined_line(report_output, {" Type=", row->internal_name, ":", row->file_stem});
}

void write_unit(const saveorec& save, const unit_slot& slot, text_channel& report_output)
{
    number_text_storage list_digits;
    number_text_storage slot_digits;
    put_joined_line(report_output, {"Unit ", position_text(slot.list, list_digits), ":",
                                    position_text(slot.slot, slot_digits), ":"});
    write_type_line(save, *slot.unit, report_output);
    for (const unit_value_line& line : unit_value_lines) {
        number_text_storage value_digits;
        put_labelled_line(report_output, line.label, int_to_text(line.value(*slot.unit), value_digits));
    }
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
