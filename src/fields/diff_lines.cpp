#include "fields/diff_lines.h"

#include "fields/leaf_format.h"

#include <algorithm>

namespace orbse::fields {

// Before the column of `save`: a space in text, a comma between JSON
// elements.
void diff_writer::separate(std::size_t save)
{
    if (!json_) {
        out_.put(' ');
    } else if (save > 0) {
        out_.put(',');
    }
}

// "PATH OFFSET" and `text_after` in text; in JSON the members path,
// offset and type, and the values' array begun.
void diff_writer::begin_columns(std::string_view path, std::uint64_t offset, std::string_view type,
                                std::string_view text_after)
{
    if (json_) {
        out_.write("{\"path\":");
        write_json_quoted(out_, path);
        out_.write(",\"offset\":");
        out_.write_number(offset);
        out_.write(",\"type\":");
        write_json_quoted(out_, type);
        out_.write(",\"values\":[");
        return;
    }
    out_.write(path);
    out_.put(' ');
    out_.write_offset(offset);
    out_.write(text_after);
}

void diff_writer::values(std::string_view path, const std::vector<const field_leaf*>& leaves)
{
    const auto first = *std::find_if(leaves.begin(), leaves.end(), [](const field_leaf* leaf) { return leaf != nullptr; });
    begin_columns(path, first->offset, leaf_type_name(first->type, first->size));
    for (std::size_t save = 0; save < leaves.size(); ++save) {
        separate(save);
        if (leaves[save] == nullptr) {
            out_.write(json_ ? "null" : "-");
            continue;
        }
        write_leaf_value(out_, *leaves[save], json_);
        if (!json_ && !leaves[save]->note.empty()) {
            out_.write(" (");
            out_.write(leaves[save]->note);
            out_.put(')');
        }
    }
    const bool noted = std::any_of(leaves.begin(), leaves.end(), [](const field_leaf* leaf) { return leaf != nullptr && !leaf->note.empty(); });
    if (json_ && noted) {
        out_.write("],\"notes\":[");
        for (std::size_t save = 0; save < leaves.size(); ++save) {
            separate(save);
            if (leaves[save] == nullptr || leaves[save]->note.empty()) {
                out_.write("null");
            } else {
                write_json_quoted(out_, leaves[save]->note);
            }
        }
    }
    out_.write(json_ ? "]}\n" : "\n");
}

void diff_writer::saves(const std::vector<std::string>& names)
{
    out_.write(json_ ? "{\"saves\":[" : "# saves:");
    for (std::size_t save = 0; save < names.size(); ++save) {
        if (json_) {
            if (save > 0) {
                out_.put(',');
            }
            write_json_quoted(out_, names[save]);
            continue;
        }
        out_.write(save > 0 ? ", " : " ");
        out_.write_number(save + 1);
        out_.put(' ');
        out_.write(names[save]);
    }
    out_.write(json_ ? "]}\n" : "\n");
}

void diff_writer::run_values(leaf_type type, const run_column& column)
{
    if (type == leaf_type::u16_array) {
        out_.put('[');
        out_.write_u16_list(column.words.data(), column.words.size());
        if (column.cut && !json_) {
            out_.write(",...");
        }
        out_.put(']');
        return;
    }
    if (json_) {
        out_.put('"');
    }
    out_.write_hex(column.bytes.data(), column.bytes.size());
    if (column.cut && !json_) {
        out_.write("...");
    }
    if (json_) {
        out_.put('"');
    }
}

void diff_writer::run(std::string_view path, leaf_type type, std::uint64_t first, std::uint64_t last,
                      const std::vector<run_column>& columns)
{
    const bool points = type == leaf_type::u16_array;
    if (json_) {
        out_.write("{\"path\":");
        write_json_quoted(out_, path);
        out_.write(points ? ",\"type\":\"u16\",\"first\":" : ",\"type\":\"raw\",\"first\":");
        out_.write_number(first);
        out_.write(",\"last\":");
        out_.write_number(last);
        out_.write(",\"offsets\":[");
        for (std::size_t save = 0; save < columns.size(); ++save) {
            separate(save);
            columns[save].present ? out_.write_number(columns[save].offset) : out_.write("null");
        }
        out_.write("],\"values\":[");
        for (std::size_t save = 0; save < columns.size(); ++save) {
            separate(save);
            columns[save].present ? run_values(type, columns[save]) : out_.write("null");
        }
        out_.write("]}\n");
        return;
    }
    out_.write(path);
    out_.write(points ? "[" : "+");
    out_.write_number(first);
    if (last != first) {
        out_.write(points ? ".." : "..+");
        out_.write_number(last);
    }
    if (points) {
        out_.put(']');
    }
    for (const auto& column : columns) {
        out_.put(' ');
        column.present ? out_.write_offset(column.offset) : out_.put('-');
    }
    for (const auto& column : columns) {
        out_.put(' ');
        column.present ? run_values(type, column) : out_.put('-');
    }
    out_.put('\n');
}

void diff_writer::slot(std::string_view slot, std::uint64_t offset, const std::vector<slot_column>& columns)
{
    begin_columns(slot, offset, "slot");
    for (std::size_t save = 0; save < columns.size(); ++save) {
        const auto& column = columns[save];
        separate(save);
        if (column.content == slot_holds::not_a_slot) {
            out_.write(json_ ? "null" : "-");
            continue;
        }
        const bool unit = column.content == slot_holds::unit;
        out_.write(json_ ? (unit ? "{\"unit\":" : "{\"reference\":") : (unit ? "unit(" : "reference("));
        out_.write_signed(column.object);
        out_.put(json_ ? '}' : ')');
    }
    out_.write(json_ ? "]}\n" : "\n");
}

// "PATH OFFSET only in save(s) N..." in text, the JSON members up to the
// saves' array, whose bracket is left open.
void diff_writer::only_in_front(std::string_view record, std::uint64_t offset, const std::vector<bool>& present)
{
    const auto count = std::ranges::count(present, true);
    if (json_) {
        out_.write("{\"path\":");
        write_json_quoted(out_, record);
        out_.write(",\"offset\":");
        out_.write_number(offset);
        out_.write(",\"only_in\":[");
    } else {
        out_.write(record);
        out_.put(' ');
        out_.write_offset(offset);
        out_.write(count > 1 ? " only in saves" : " only in save");
    }
    bool first = true;
    for (std::size_t save = 0; save < present.size(); ++save) {
        if (!present[save]) {
            continue;
        }
        if (!json_ || !first) {
            out_.put(json_ ? ',' : ' ');
        }
        out_.write_number(save + 1);
        first = false;
    }
}

void diff_writer::only_in(std::string_view record, std::uint64_t offset, const std::vector<bool>& present)
{
    only_in_front(record, offset, present);
    out_.write(json_ ? "]}\n" : "\n");
}

void diff_writer::only_in(const lone_slot& slot, const std::vector<bool>& present)
{
    only_in_front(slot.path, slot.offset, present);
    const bool unit = slot.holds == slot_holds::unit;
    if (json_) {
        out_.write(unit ? "],\"holds\":\"unit\",\"object\":" : "],\"holds\":\"reference\",\"object\":");
        out_.write_signed(slot.object);
        if (unit) {
            out_.write(",\"unit_type\":");
            write_json_quoted(out_, slot.unit_type);
        }
        out_.write("}\n");
        return;
    }
    if (unit) {
        // A unit cut short before its unit_class has no type to name.
        out_.write(": unit, ");
        if (!slot.unit_type.empty()) {
            out_.write(slot.unit_type);
            out_.write(", ");
        }
        out_.write("object ");
    } else {
        out_.write(": reference to object ");
    }
    out_.write_signed(slot.object);
    out_.put('\n');
}

void diff_writer::only_in(const lone_list& list, const std::vector<bool>& present)
{
    only_in_front(list.path, list.offset, present);
    if (json_) {
        out_.write("],\"holds\":\"list\",\"slots\":");
        out_.write_number(list.slots);
        out_.write(",\"units\":");
        out_.write_number(list.units);
        out_.write("}\n");
        return;
    }
    out_.write(": list of ");
    out_.write_number(list.slots);
    out_.write(list.slots == 1 ? " slot, " : " slots, ");
    out_.write_number(list.units);
    out_.write(list.units == 1 ? " unit\n" : " units\n");
}

void diff_writer::numbering(std::string_view list, std::uint64_t offset, const std::vector<std::optional<std::int64_t>>& shifts)
{
    begin_columns(list, offset, "numbering", " numbering shifts after it:");
    for (std::size_t save = 0; save < shifts.size(); ++save) {
        separate(save);
        if (!shifts[save]) {
            out_.write(json_ ? "null" : "-");
            continue;
        }
        if (!json_ && *shifts[save] > 0) {
            out_.put('+');
        }
        out_.write_signed(*shifts[save]);
    }
    out_.write(json_ ? "]}\n" : "\n");
}

void diff_writer::shape(std::string_view record, std::uint64_t offset,
                        const std::vector<std::optional<std::string>>& where)
{
    begin_columns(record, offset, "shape", " differs in shape:");
    for (std::size_t save = 0; save < where.size(); ++save) {
        separate(save);
        if (!where[save]) {
            out_.write(json_ ? "null" : "-");
        } else if (json_) {
            write_json_quoted(out_, *where[save]);
        } else {
            out_.write(*where[save]);
        }
    }
    out_.write(json_ ? "]}\n" : "\n");
}

void diff_writer::broken(std::size_t save, const walk_break& broken)
{
    if (json_) {
        out_.write("{\"save\":");
        out_.write_number(save + 1);
        out_.put(',');
        write_break_members(out_, broken);
        out_.write("}\n");
        return;
    }
    out_.write("error: save ");
    out_.write_number(save + 1);
    out_.write(": ");
    write_break_text(out_, broken);
    out_.put('\n');
}

} // namespace orbse::fields
