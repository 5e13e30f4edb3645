#include "orbsaves/save_walk.h"

#include "orbsaves/name_tables.h"
#include "orbsaves/save_format.h"
#include "orbsaves/save_reader.h"
#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_type_table.h"
#include "runtime/data_file.h"
#include "runtime/failures.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <memory>
#include <stdexcept>
#include <vector>

namespace orbse {
namespace {

// One part of a field's path: a name, and a position when it is numbered.
struct path_part {
    std::string_view name;
    std::int64_t index = -1;
};

std::string_view name_of(const char* name)
{
    return name != nullptr ? std::string_view(name) : std::string_view();
}

void append_number(std::string& text, std::uint64_t value)
{
    std::array<char, 24> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    text.append(digits.data(), end);
}

// The visitor that walks the description over the file, handing out leaves
// and remembering the read going on, which a failure then names.
class walker {
public:
    walker(save_reader& reader, leaf_sink* sink, saveorec& groups_seen)
        : reader_(reader), sink_(sink), paths_(sink != nullptr && sink->wants_paths()), save_(groups_seen),
          piece_buffer_(map_cell_count * 2)
    {
    }

    // ---- the visitor of the format's description ----

    void u8(const char* name, std::uint8_t& value, format::note meaning = {})
    {
        std::array<std::uint8_t, 1> byte;
        const std::uint64_t at = take(name, byte);
        value = byte[0];
        number_leaf(name, at, 1, leaf_type::u8, value, meaning);
    }

    void u16(const char* name, std::uint16_t& value, format::note meaning = {})
    {
        std::array<std::uint8_t, 2> bytes;
        const std::uint64_t at = take(name, bytes);
        value = load_u16(bytes.data());
        number_leaf(name, at, 2, leaf_type::u16, value, meaning);
    }

    void u32(const char* name, std::uint32_t& value, format::note meaning = {})
    {
        std::array<std::uint8_t, 4> bytes;
        const std::uint64_t at = take(name, bytes);
        value = load_u32(bytes.data());
        number_leaf(name, at, 4, leaf_type::u32, value, meaning);
    }

    void i32(const char* name, std::int32_t& value, format::note meaning = {})
    {
        std::array<std::uint8_t, 4> bytes;
        const std::uint64_t at = take(name, bytes);
        record_cursor cursor(bytes);
        value = cursor.take_i32();
        number_leaf(name, at, 4, leaf_type::i32, value, meaning);
    }

    void text(const char* name, name_field& field)
    {
        const std::uint64_t at = take(name, field);
        bytes_leaf(name_of(name), at, field.size(), leaf_type::text, field);
    }

    void raw(const char* name, std::span<std::uint8_t> bytes)
    {
        const std::uint64_t at = take(name, bytes);
        bytes_leaf(name_of(name), at, bytes.size(), leaf_type::raw, bytes.first(std::min(bytes.size(), raw_head_size)));
    }

    void skip(const char* name, std::size_t count)
    {
        std::array<std::uint8_t, 2> bytes;
        const auto skipped = std::span(bytes).first(count);
        const std::uint64_t at = take(name, skipped);
        bytes_leaf(name_of(name), at, count, leaf_type::raw, skipped);
    }

    template <typename fields_of>
    void piece(std::size_t size, const char* what, fields_of&& fields)
    {
        const auto bytes = std::span(piece_buffer_).first(size);
        piece_start_ = read_from_file(what, bytes);
        piece_ = bytes;
        piece_at_ = 0;
        fields();
        piece_ = {};
    }

    // Parts of the path are pushed and popped around their fields without
    // a guard: a failing read leaves the path standing as it was at the
    // read, and the break names it.
    template <typename fields_of>
    void record(const char* name, fields_of&& fields)
    {
        push_part(name);
        fields();
        pop_part();
    }

    template <typename fields_of>
    void element(const char* name, std::size_t index, fields_of&& fields)
    {
        push_part(name, static_cast<std::int64_t>(index));
        fields();
        pop_part();
    }

    // Cells in grid order: cell i lies in column i mod 112 and row i div 112.
    void layer(const char* name, std::span<std::uint8_t> cells, std::size_t bytes_per_cell)
    {
        const std::uint64_t start = read_from_file(name, std::span(piece_buffer_).first(cells.size()));
        std::copy_n(piece_buffer_.begin(), cells.size(), cells.begin());
        if (sink_ == nullptr) {
            return;
        }
        push_part(name);
        // Each row is one part around its cells, entered once.
        for (std::size_t row = 0; row < static_cast<std::size_t>(map_side); ++row) {
            push_part("row", static_cast<std::int64_t>(row));
            for (std::size_t column = 0; column < static_cast<std::size_t>(map_side); ++column) {
                const std::size_t cell = row * map_side + column;
                push_part("column", static_cast<std::int64_t>(column));
                const auto bytes = cells.subspan(cell * bytes_per_cell, bytes_per_cell);
                const std::uint64_t at = start + cell * bytes_per_cell;
                if (bytes_per_cell == 1) {
                    number_leaf(nullptr, at, 1, leaf_type::u8, bytes[0], {});
                } else {
                    bytes_leaf({}, at, bytes_per_cell, leaf_type::u8_array, bytes);
                }
                pop_part();
            }
            pop_part();
        }
        pop_part();
    }

    // The records are not kept: only their count matters to what follows.
    void post_update_records(units_post_updates_block_record& post_updates)
    {
        for (std::size_t record = 0; record < post_updates.count; ++record) {
            element("records", record, [&] {
                post_update_record bytes;
                raw(nullptr, bytes);
            });
        }
    }

    void unit_data(unidefrec& unit, std::uint16_t object_counter)
    {
        const std::uint64_t start = read_from_file("unit_data", unit.unit_data);
        if (sink_ == nullptr || sink_->take_unit_data({prefix_, start, unit.unit_data})) {
            return;
        }
        for (const auto& piece : unit_layout_.pieces()) {
            const std::uint64_t at = start + piece.object_offset - unit_data_offset;
            const auto bytes = std::span(unit.unit_data).subspan(piece.object_offset - unit_data_offset, piece.size);
            if (!piece.named) {
                bytes_leaf(piece.name, at, piece.size, leaf_type::raw, bytes);
                continue;
            }
            const std::uint16_t value = piece.size == 1 ? bytes[0] : load_u16(bytes.data());
            note_.clear();
            if (piece.object_offset == unit_fields::path_kind.object_offset &&
                is_next_object(unit.path_ref(), object_counter) && value == new_path_kind) {
                note_ = "path follows, object ";
                append_number(note_, unit.path_ref());
            }
            emit_number(piece.name, at, piece.size, piece.size == 1 ? leaf_type::u8 : leaf_type::u16, value);
        }
    }

    // Read in pieces of the loader's size, each a read of its own; shown
    // as one leaf.
    void path_points(unidefrec& unit)
    {
        constexpr std::size_t piece_words = 2048;
        const std::size_t count = unit.path.point_count;
        const std::uint64_t start = reader_.offset();
        points_.resize(sink_ != nullptr ? count : std::min(count, piece_words));
        for (std::size_t done = 0; done < count;) {
            const std::size_t words = std::min(count - done, piece_words);
            const auto into = std::span(points_).subspan(sink_ != nullptr ? done : 0, words);
            note_read("points", 2 * words);
            reader_.read_u16s(into);
            done += words;
        }
        if (sink_ != nullptr && count > 0) {
            field_leaf leaf = leaf_at("points", start, 2 * count, leaf_type::u16_array);
            leaf.words = points_;
            sink_->take(leaf);
        }
    }

    void list_begun(std::uint16_t) { ++lists_; }

    void slot_read(std::uint16_t, bool new_unit) { units_ += new_unit ? 1 : 0; }

    unidefrec& unit_record()
    {
        unit_ = unidefrec{};
        return unit_;
    }

    void linked_level(std::uint64_t level)
    {
        if (!path_.empty() && path_.back().name == "linked") {
            pop_part();
        }
        if (level > 0) {
            push_part("linked", static_cast<std::int64_t>(level));
        }
    }

    // References already in the read-ahead, taken in one sweep as the
    // loader takes them, and handed on as one run.
    std::size_t references(std::uint16_t object_counter, std::size_t first_slot, std::size_t slots_left)
    {
        const std::uint32_t new_object_number = std::uint32_t{object_counter} + 1;
        const std::uint64_t start = reader_.offset();
        const std::size_t taken = reader_.take_buffered_u16s_until(
            new_object_number, std::span(references_).first(std::min(references_.size(), slots_left)));
        if (sink_ != nullptr && taken > 0) {
            const reference_run run{prefix_, first_slot, start, std::span(references_).first(taken)};
            if (!sink_->take_references(run)) {
                take_each_reference(*sink_, run);
            }
        }
        return taken;
    }

    bool at_end() { return reader_.at_end(); }

    // ---- the walk's own ----

    void tail()
    {
        const std::uint64_t size = reader_.bytes_left();
        tail_size_ = size;
        const std::uint64_t start = reader_.offset();
        std::array<std::uint8_t, raw_head_size> head{};
        std::vector<std::uint8_t> piece(std::min<std::uint64_t>(size, 64 * 1024));
        for (std::uint64_t done = 0; done < size;) {
            const auto bytes = std::span(piece).first(static_cast<std::size_t>(std::min<std::uint64_t>(size - done, piece.size())));
            note_read("tail", bytes.size());
            reader_.read_bytes(bytes);
            if (done < head.size()) {
                std::copy_n(bytes.begin(), std::min(bytes.size(), head.size() - static_cast<std::size_t>(done)),
                            head.begin() + done);
            }
            done += bytes.size();
        }
        if (size > 0 && sink_ != nullptr) {
            field_leaf leaf = leaf_at("tail", start, size, leaf_type::raw);
            leaf.bytes = std::span(head).first(static_cast<std::size_t>(std::min<std::uint64_t>(size, head.size())));
            sink_->take(leaf);
        }
    }

    // The read that was going on when a failure came.
    walk_break break_of(std::int32_t code, std::string_view message, std::uint64_t file_size) const
    {
        walk_break broken;
        broken.code = code;
        broken.message = std::string(message);
        broken.offset = read_offset_;
        broken.path = render_path(read_name_);
        broken.needed = read_needed_;
        broken.left = file_size > read_offset_ ? file_size - read_offset_ : 0;
        return broken;
    }

    std::uint64_t lists() const { return lists_; }
    std::uint64_t units() const { return units_; }
    std::uint64_t tail_size() const { return tail_size_; }

private:
    void note_read(std::string_view name, std::uint64_t needed)
    {
        read_offset_ = reader_.offset();
        read_name_ = name;
        read_needed_ = needed;
    }

    // Reads `bytes` from the file in one read; returns where they began.
    std::uint64_t read_from_file(const char* name, std::span<std::uint8_t> bytes)
    {
        const std::uint64_t at = reader_.offset();
        note_read(name_of(name), bytes.size());
        reader_.read_bytes(bytes);
        return at;
    }

    // A field: from the piece being mapped, or a read of its own.
    std::uint64_t take(const char* name, std::span<std::uint8_t> bytes)
    {
        if (piece_.empty()) {
            return read_from_file(name, bytes);
        }
        if (bytes.size() > piece_.size() - piece_at_) {
            throw std::logic_error("a field of the save described beyond its piece");
        }
        std::copy_n(piece_.begin() + static_cast<std::ptrdiff_t>(piece_at_), bytes.size(), bytes.begin());
        const std::uint64_t at = piece_start_ + piece_at_;
        piece_at_ += bytes.size();
        return at;
    }

    // The path's parts, and for a walk that hands out leaves their text,
    // kept as they change rather than rendered for every leaf.
    void push_part(std::string_view name, std::int64_t index = -1)
    {
        path_.push_back({name, index});
        if (sink_ == nullptr) {
            return;
        }
        sink_->part_begun(name, index);
        if (!paths_) {
            return;
        }
        prefix_lengths_.push_back(prefix_.size());
        if (!prefix_.empty()) {
            prefix_ += '.';
        }
        prefix_ += name;
        if (index >= 0) {
            prefix_ += '[';
            append_number(prefix_, static_cast<std::uint64_t>(index));
            prefix_ += ']';
        }
    }

    void pop_part()
    {
        path_.pop_back();
        if (sink_ != nullptr) {
            sink_->part_ended();
        }
        if (paths_) {
            prefix_.resize(prefix_lengths_.back());
            prefix_lengths_.pop_back();
        }
    }

    std::string render_path(std::string_view last) const
    {
        std::string text;
        for (const auto& part : path_) {
            if (!text.empty()) {
                text += '.';
            }
            text += part.name;
            if (part.index >= 0) {
                text += '[';
                append_number(text, static_cast<std::uint64_t>(part.index));
                text += ']';
            }
        }
        if (!last.empty()) {
            if (!text.empty()) {
                text += '.';
            }
            text += last;
        }
        return text;
    }

    field_leaf leaf_at(std::string_view name, std::uint64_t at, std::uint64_t size, leaf_type type)
    {
        if (paths_) {
            path_text_.assign(prefix_);
            if (!name.empty()) {
                if (!path_text_.empty()) {
                    path_text_ += '.';
                }
                path_text_ += name;
            }
        }
        field_leaf leaf;
        leaf.offset = at;
        leaf.size = size;
        leaf.type = type;
        leaf.path = path_text_;
        leaf.name = name;
        leaf.note = note_;
        return leaf;
    }

    void emit_number(std::string_view name, std::uint64_t at, std::uint64_t size, leaf_type type, std::int64_t value)
    {
        field_leaf leaf = leaf_at(name, at, size, type);
        leaf.number = value;
        sink_->take(leaf);
        note_.clear();
    }

    void number_leaf(const char* name, std::uint64_t at, std::uint64_t size, leaf_type type, std::int64_t value,
                     format::note meaning)
    {
        if (sink_ == nullptr) {
            return;
        }
        describe(meaning, value);
        emit_number(name_of(name), at, size, type, value);
    }

    void bytes_leaf(std::string_view name, std::uint64_t at, std::uint64_t size, leaf_type type,
                    std::span<const std::uint8_t> bytes)
    {
        if (sink_ == nullptr) {
            return;
        }
        note_.clear();
        field_leaf leaf = leaf_at(name, at, size, type);
        leaf.bytes = bytes;
        sink_->take(leaf);
    }

    void describe_unit_type(std::uint16_t unit_class)
    {
        const unit_type_row* row = find_unit_type(save_, unit_class);
        if (row == nullptr) {
            note_ = "no unit type";
            return;
        }
        note_ = "type row ";
        append_number(note_, static_cast<std::uint64_t>(row - unit_type_table.data()));
        note_ += ' ';
        note_ += row->internal_name;
    }

    void describe(format::note meaning, std::int64_t value)
    {
        using kind = format::note::kind;
        note_.clear();
        switch (meaning.what) {
        case kind::none:
            break;
        case kind::clan:
            if (value >= 1 && value <= clan_count) {
                note_ = clan_names[static_cast<std::size_t>(value - 1)];
            }
            break;
        case kind::button:
            note_ = button_names[meaning.context];
            break;
        case kind::unit_row:
            note_ = "row ";
            append_number(note_, meaning.context);
            note_ += ' ';
            note_ += unit_type_table[meaning.context].internal_name;
            break;
        case kind::unit_class:
            describe_unit_type(static_cast<std::uint16_t>(value));
            break;
        case kind::slot_object:
            note_ = is_next_object(static_cast<std::uint16_t>(value), static_cast<std::uint16_t>(meaning.context))
                        ? "unit in a slot, object "
                        : reference_note;
            append_number(note_, static_cast<std::uint64_t>(value));
            break;
        case kind::setting:
            note_ = setting_name(static_cast<setting>(meaning.context), static_cast<std::int32_t>(value), {});
            break;
        case kind::link_kind:
            if (meaning.context != 0 && value == new_linked_unit_kind) {
                note_ = "linked unit follows, object ";
                append_number(note_, meaning.context);
            }
            break;
        }
    }

    save_reader& reader_;
    leaf_sink* sink_;
    const bool paths_; // leaves carry their whole path
    saveorec& save_;
    const unit_data_layout unit_layout_;
    std::vector<path_part> path_;
    std::string prefix_;
    std::vector<std::size_t> prefix_lengths_;
    std::string path_text_;
    std::string note_;

    std::vector<std::uint8_t> piece_buffer_;
    std::span<const std::uint8_t> piece_;
    std::uint64_t piece_start_ = 0;
    std::size_t piece_at_ = 0;

    std::uint64_t read_offset_ = 0;
    std::string_view read_name_;
    std::uint64_t read_needed_ = 0;

    unidefrec unit_;
    std::vector<std::uint16_t> points_;
    std::array<std::uint16_t, 4096> references_{};
    std::uint64_t lists_ = 0;
    std::uint64_t units_ = 0;
    std::uint64_t tail_size_ = 0;
};

} // namespace

walk_result walk_save(const std::string& path, leaf_sink* sink)
{
    data_file file;
    open_data_file(file, path);
    io_check();
    save_reader reader(file);
    walk_result result;
    result.file_size = reader.bytes_left();
    // The fixed part and the groups, for the version, the counts and the
    // class index; the unit store and the tail stay empty.
    auto groups_seen = std::make_unique<saveorec>();
    walker walk(reader, sink, *groups_seen);
    try {
        format::map_fixed_part(walk, *groups_seen);
        result.version = groups_seen->header.version;
        format::map_player_groups(walk, *groups_seen);
        build_class_index(*groups_seen);
        std::uint16_t object_counter = static_cast<std::uint16_t>(groups_seen->unit_class_index.size() & 0xFFFFu);
        format::map_unit_stream(walk, object_counter);
        walk.tail();
    } catch (const io_failure& failed) {
        result.broken = walk.break_of(failed.code(), failed.message(), result.file_size);
    }
    result.version = groups_seen->header.version;
    result.lists = walk.lists();
    result.units = walk.units();
    result.tail_size = walk.tail_size();
    return result;
}

// The named fields in offset order with the gaps between them.
unit_data_layout::unit_data_layout()
{
    std::vector<unit_data_piece> named;
    for (const auto& field : format::unit_data_fields) {
        named.push_back({field.field.object_offset, field.field.width, field.name, true});
    }
    std::sort(named.begin(), named.end(),
              [](const unit_data_piece& a, const unit_data_piece& b) { return a.object_offset < b.object_offset; });
    constexpr std::size_t unit_data_end = unit_data_offset + unit_data_size;
    std::size_t at = unit_data_offset;
    for (const auto& field : named) {
        if (field.object_offset > at) {
            pieces_.push_back({at, field.object_offset - at, {}, false});
        }
        pieces_.push_back(field);
        at = field.object_offset + field.size;
    }
    if (at < unit_data_end) {
        pieces_.push_back({at, unit_data_end - at, {}, false});
    }
    // The gaps' names are made where they cannot move once a piece points
    // at them.
    gap_names_.reserve(pieces_.size());
    for (auto& piece : pieces_) {
        if (!piece.named) {
            std::string name = "unit_data@";
            append_number(name, piece.object_offset);
            piece.name = gap_names_.emplace_back(std::move(name));
        }
    }
}

reference_paths::reference_paths(std::string_view list_path) : path_(list_path)
{
    path_ += ".slots[";
    head_ = path_.size();
}

void take_each_reference(leaf_sink& sink, const reference_run& run)
{
    const bool paths = sink.wants_paths();
    reference_paths slot_paths(run.list_path);
    std::string note;
    for (std::size_t slot = 0; slot < run.objects.size(); ++slot) {
        sink.part_begun("slots", static_cast<std::int64_t>(run.first_slot + slot));
        const std::string_view path = paths ? slot_paths.of(run.first_slot + slot) : std::string_view{};
        note = reference_note;
        append_number(note, run.objects[slot]);
        field_leaf leaf;
        leaf.offset = run.offset + 2 * slot;
        leaf.size = 2;
        leaf.type = leaf_type::u16;
        leaf.path = path;
        leaf.name = "object_id";
        leaf.number = run.objects[slot];
        leaf.note = note;
        sink.take(leaf);
        sink.part_ended();
    }
}

std::string leaf_type_name(const field_leaf& leaf)
{
    std::string name;
    switch (leaf.type) {
    case leaf_type::u8:
        return "u8";
    case leaf_type::u16:
        return "u16";
    case leaf_type::u32:
        return "u32";
    case leaf_type::i32:
        return "i32";
    case leaf_type::raw:
        return "raw";
    case leaf_type::text:
        name = "text[";
        break;
    case leaf_type::u8_array:
        name = "u8[";
        break;
    case leaf_type::u16_array:
        name = "u16[";
        append_number(name, leaf.size / 2);
        name += ']';
        return name;
    }
    append_number(name, leaf.size);
    name += ']';
    return name;
}

} // namespace orbse
