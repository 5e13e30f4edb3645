#include "orbsaves/save_walk.h"

#include "orbsaves/name_tables.h"
#include "orbsaves/save_format.h"
#include "orbsaves/save_reader.h"
#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_type_table.h"
#include "runtime/data_file.h"
#include "runtime/failures.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <vector>

namespace orbse {
namespace {

std::string_view name_of(const char* name)
{
    return name != nullptr ? std::string_view(name) : std::string_view();
}

void append_number(std::string& text, std::uint64_t value)
{
    std::array<char, 20> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    text.append(digits.data(), static_cast<std::size_t>(end - digits.data()));
}

// One part as a path shows it, after a dot unless it is the first.
void append_part(std::string& text, const path_part& part)
{
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

// One leaf of the unit data: a named field (a u8 or a u16), or a stretch
// between them that nothing interprets (raw, named `unit_data@<N>` after its
// offset N in the unit object).
struct unit_data_piece {
    std::size_t object_offset;
    std::size_t size;
    std::string_view name;
    bool named;
    bool decides_layout = false;
};

// The unit data's leaves in offset order, covering its 144 bytes.
class unit_data_layout {
public:
    unit_data_layout()
    {
        std::vector<unit_data_piece> named;
        for (const auto& field : format::unit_data_fields) {
            named.push_back({field.field.object_offset, field.field.width, field.name, true, field.decides_layout});
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
        // The gaps' names are made where they cannot move once a piece
        // points at them.
        gap_names_.reserve(pieces_.size());
        for (auto& piece : pieces_) {
            if (!piece.named) {
                std::string name = "unit_data@";
                append_number(name, piece.object_offset);
                piece.name = gap_names_.emplace_back(std::move(name));
            }
        }
    }
    unit_data_layout(const unit_data_layout&) = delete;
    unit_data_layout& operator=(const unit_data_layout&) = delete;

    std::span<const unit_data_piece> pieces() const { return pieces_; }

private:
    std::vector<std::string> gap_names_;
    std::vector<unit_data_piece> pieces_;
};

const unit_data_layout& unit_layout()
{
    static const unit_data_layout layout;
    return layout;
}

// The table a note names a number's values from.
value_names names_of(format::note meaning)
{
    switch (meaning.what) {
    case format::note::kind::clan:
        return {value_names::table::clan};
    case format::note::kind::setting:
        return {value_names::table::setting, static_cast<setting>(meaning.context)};
    default:
        return {};
    }
}

// The visitor that walks the description over the file, gathering the
// leaves of one step into a record and remembering the read going on, which
// a failure then names.
class walker {
public:
    walker(save_reader& reader, bool with_leaves, saveorec& groups_seen, std::uint64_t file_size)
        : reader_(reader), leaves_from_(with_leaves ? 0 : UINT64_MAX), save_(groups_seen), file_size_(file_size),
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
        bytes_leaf(name_of(name), at, leaf_type::text, field);
    }

    void raw(const char* name, std::span<std::uint8_t> bytes)
    {
        const std::uint64_t at = take(name, bytes);
        bytes_leaf(name_of(name), at, leaf_type::raw, bytes);
    }

    void skip(const char* name, std::size_t count)
    {
        std::array<std::uint8_t, 2> bytes;
        const auto skipped = std::span(bytes).first(count);
        const std::uint64_t at = take(name, skipped);
        kept_bytes_leaf(name_of(name), at, skipped);
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
    // a guard: a failing read leaves the place standing as it was at the
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

    // A failing read inside leaves it set, as it leaves the place: the
    // walk ends there.
    template <typename fields_of>
    void unit_level(std::uint64_t level, format::level_part part, fields_of&& fields)
    {
        unit_depth_ = static_cast<std::uint8_t>(place_.depth);
        chain_level_ = level;
        closes_level_ = part == format::level_part::closing;
        fields();
        unit_depth_ = 0;
        closes_level_ = false;
    }

    // Read in one piece, as the loader reads it, and handed out a row at a
    // time: a layer is twelve thousand leaves.
    void layer(const char* name, std::span<std::uint8_t> cells, std::size_t bytes_per_cell)
    {
        const std::uint64_t start = read_from_file(name, std::span(piece_buffer_).first(cells.size()));
        std::copy_n(piece_buffer_.begin(), cells.size(), cells.begin());
        layer_ = {name_of(name), start, cells, bytes_per_cell, 0};
        layer_row();
    }

    // The next row of the layer being handed out, if any. Cells in grid
    // order: cell i lies in column i mod 112 and row i div 112.
    bool layer_row()
    {
        const std::size_t bytes_per_cell = layer_.bytes_per_cell;
        const std::size_t row_size = map_side * bytes_per_cell;
        while (layer_.row < static_cast<std::size_t>(map_side) &&
               (!wanted(layer_.start + layer_.row * row_size, row_size) || !row_on_the_way(layer_.row))) {
            ++layer_.row;
        }
        if (layer_.row == static_cast<std::size_t>(map_side)) {
            return false;
        }
        const std::size_t row = layer_.row++;
        push_part(layer_.name);
        push_part("row", static_cast<std::int64_t>(row));
        for (std::size_t column = 0; column < static_cast<std::size_t>(map_side); ++column) {
            const std::size_t cell = row * map_side + column;
            push_part("column", static_cast<std::int64_t>(column));
            const auto bytes = layer_.cells.subspan(cell * bytes_per_cell, bytes_per_cell);
            const std::uint64_t at = layer_.start + cell * bytes_per_cell;
            if (bytes_per_cell == 1) {
                number_leaf(nullptr, at, 1, leaf_type::u8, bytes[0], {});
            } else {
                bytes_leaf({}, at, leaf_type::u8_array, bytes);
            }
            pop_part();
        }
        pop_part();
        pop_part();
        return true;
    }

    // The records are not kept: only their count matters to what follows.
    void post_update_records(units_post_updates_block_record& post_updates)
    {
        for (std::size_t record = 0; record < post_updates.count; ++record) {
            element("records", record, [&] {
                post_update_record bytes;
                const std::uint64_t at = take(nullptr, bytes);
                kept_bytes_leaf({}, at, bytes);
            });
        }
    }

    void unit_data(unidefrec& unit, std::uint16_t object_counter)
    {
        const std::uint64_t start = read_from_file("unit_data", unit.unit_data);
        for (const auto& piece : unit_layout().pieces()) {
            const std::uint64_t at = start + piece.object_offset - unit_data_offset;
            if (!wanted(at, piece.size)) {
                continue;
            }
            const auto bytes = std::span(unit.unit_data).subspan(piece.object_offset - unit_data_offset, piece.size);
            if (!piece.named) {
                bytes_leaf(piece.name, at, leaf_type::raw, bytes);
                continue;
            }
            const std::uint16_t value = piece.size == 1 ? bytes[0] : load_u16(bytes.data());
            field_leaf& leaf = add_leaf(piece.name, at, piece.size, piece.size == 1 ? leaf_type::u8 : leaf_type::u16);
            leaf.number = value;
            leaf.decides_layout = piece.decides_layout;
            leaf.names_object = piece.object_offset == unit_fields::path_ref.object_offset;
            leaf.names_next_object = leaf.names_object && is_next_object(value, object_counter);
            if (piece.object_offset == unit_fields::path_kind.object_offset &&
                is_next_object(unit.path_ref(), object_counter) && value == new_path_kind) {
                begin_note();
                note_text_ += "path follows, object ";
                append_number(note_text_, unit.path_ref());
                end_note();
            }
        }
    }

    // Read in pieces of the loader's size, each a read of its own; shown as
    // one leaf. A file that ends among them breaks at the one point it
    // ends in, as the inspector, reading point by point, finds it.
    void path_points(unidefrec& unit)
    {
        constexpr std::size_t piece_words = 2048;
        const std::size_t count = unit.path.point_count;
        const std::uint64_t start = reader_.offset();
        const bool kept = wanted(start, 2 * count);
        points_.resize(kept ? count : std::min(count, piece_words));
        for (std::size_t done = 0; done < count;) {
            const std::size_t words = std::min(count - done, piece_words);
            const auto into = std::span(points_).subspan(kept ? done : 0, words);
            note_read("points", 2 * words);
            try {
                reader_.read_u16s(into);
            } catch (const io_failure& failed) {
                if (failed.code() == read_beyond_end) {
                    name_the_failing_word();
                }
                throw;
            }
            done += words;
        }
        if (kept && count > 0) {
            field_leaf& leaf = add_leaf("points", start, 2 * count, leaf_type::u16_array);
            leaf.words = points_;
        }
    }

    void list_begun(std::uint16_t)
    {
        ++lists_;
        if (last_kept_) {
            last_leaf().sizes_list = true;
        }
    }

    void slot_read(std::uint16_t, bool new_unit)
    {
        units_ += new_unit ? 1 : 0;
        if (last_kept_) {
            last_leaf().slot = new_unit ? slot_holds::unit : slot_holds::reference;
        }
    }

    unidefrec& unit_record()
    {
        unit_ = unidefrec{};
        return unit_;
    }

    // References already in the read-ahead are taken in one sweep, as the
    // loader takes them: most slots of a large save are references, two
    // bytes each. With leaves, a sweep takes a few hundred at most, so that
    // a record stays small; without, as many as end before the leaves wanted.
    std::size_t references(std::uint16_t object_counter, std::size_t first_slot, std::size_t slots_left)
    {
        constexpr std::size_t most_with_leaves = 256;
        const std::uint32_t new_object_number = std::uint32_t{object_counter} + 1;
        const std::uint64_t start = reader_.offset();
        const bool kept = wanted(start, 2);
        const bool before_leaves_from = start + 2 < leaves_from_;
        // Slots that are not on the way to a destination are as unwanted
        // as every slot buffered.
        const std::uint64_t unwanted = kept ? 0 : before_leaves_from ? (leaves_from_ - start - 1) / 2 : references_.size();
        const std::size_t room = static_cast<std::size_t>(
            std::min<std::uint64_t>(kept ? most_with_leaves : std::min<std::uint64_t>(references_.size(), unwanted), slots_left));
        const std::size_t taken = reader_.take_buffered_u16s_until(new_object_number, std::span(references_).first(room));
        for (std::size_t slot = 0; kept && slot < taken; ++slot) {
            push_part("slots", static_cast<std::int64_t>(first_slot + slot));
            number_leaf("object_id", start + 2 * slot, 2, leaf_type::u16, references_[slot],
                        format::slot_number(object_counter));
            // A run in a list on the way to a destination may hold slots
            // that are not.
            if (last_kept_) {
                last_leaf().slot = slot_holds::reference;
            }
            pop_part();
        }
        return taken;
    }

    bool at_end() { return reader_.at_end(); }

    void stream_closed()
    {
        if (last_kept_) {
            last_leaf().sizes_list = true;
            last_leaf().closes_stream = true;
        }
    }

    // ---- the walk's own ----

    // A new record: the leaves of the last one are let go.
    void begin_record()
    {
        leaf_count_ = 0;
        byte_arena_.clear();
        note_text_.clear();
        arena_views_.clear();
    }

    // The record's leaves, their bytes and notes pointed at where they were
    // kept now that nothing more is added.
    std::span<const field_leaf> finish_record()
    {
        for (const auto& view : arena_views_) {
            field_leaf& leaf = leaves_[view.leaf];
            if (view.note) {
                leaf.note = std::string_view(note_text_).substr(view.begin, view.size);
            } else {
                leaf.bytes = std::span(byte_arena_).subspan(view.begin, view.size);
            }
        }
        arena_views_.clear();
        return std::span(leaves_).first(leaf_count_);
    }

    // The tail's leaf, with the first piece of its bytes.
    void tail_leaf(std::uint64_t start, std::uint64_t size, std::span<const std::uint8_t> first_piece)
    {
        if (!wanted(start, size)) {
            return;
        }
        field_leaf& leaf = add_leaf("tail", start, size, leaf_type::raw);
        leaf.bytes = first_piece;
    }

    void note_read(std::string_view name, std::uint64_t needed)
    {
        read_offset_ = reader_.offset();
        read_name_ = name;
        read_needed_ = needed;
        std::copy_n(place_.parts.begin(), place_.depth, read_place_.parts.begin());
        read_place_.depth = place_.depth;
    }

    // The read that was going on when a failure came.
    walk_break break_of(std::int32_t code, std::string_view message) const
    {
        walk_break broken;
        broken.code = code;
        broken.message = std::string(message);
        broken.offset = read_offset_;
        broken.place = read_place_;
        broken.name = read_name_;
        broken.needed = read_needed_;
        broken.left = file_size_ > read_offset_ ? file_size_ - read_offset_ : 0;
        return broken;
    }

    // Leaves that end before `offset` are not handed out (a reader that
    // knows them already, having seen the same bytes read the same way in
    // another save, passes over them); the reads stay the same.
    void leaves_from(std::uint64_t offset) { leaves_from_ = offset; }

    void leaves_on_the_way_to(std::vector<leaf_place> destinations) { destinations_ = std::move(destinations); }

    std::size_t layer_rows_done() const { return layer_.row; }

    field_leaf& last_leaf() { return leaves_[leaf_count_ - 1]; }

    // Where the next record begins: a layer's next row, read already, or
    // the reader's next byte.
    std::uint64_t next_leaf_offset() const
    {
        return layer_.row < static_cast<std::size_t>(map_side) ? layer_.start + layer_.row * map_side * layer_.bytes_per_cell
                                                                : reader_.offset();
    }

    // Whether a leaf of `size` bytes at `at` is handed out.
    bool wanted(std::uint64_t at, std::uint64_t size) const { return at + size >= leaves_from_ && on_the_way(); }

    std::uint64_t lists() const { return lists_; }
    std::uint64_t units() const { return units_; }

private:
    struct arena_view {
        std::size_t leaf;
        std::size_t begin;
        std::size_t size;
        bool note;
    };

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

    // Points are read in pieces, but the inspector reads them one by one:
    // its failing read is the word in which the file ends.
    void name_the_failing_word()
    {
        const std::uint64_t available = file_size_ > read_offset_ ? file_size_ - read_offset_ : 0;
        read_offset_ += available - available % 2;
        read_needed_ = 2;
    }

    // Whether the place being read holds a destination, or is one.
    bool on_the_way() const
    {
        if (destinations_.empty()) {
            return true;
        }
        const auto here = place_.view();
        return std::ranges::any_of(destinations_, [&here](const leaf_place& destination) {
            return lies_in(destination.view(), here);
        });
    }

    bool row_on_the_way(std::size_t row)
    {
        if (destinations_.empty()) {
            return true;
        }
        push_part(layer_.name);
        push_part("row", static_cast<std::int64_t>(row));
        const bool kept = on_the_way();
        pop_part();
        pop_part();
        return kept;
    }

    void push_part(std::string_view name, std::int64_t index = -1)
    {
        if (place_.depth == leaf_place::capacity) {
            throw std::logic_error("a field of the save described deeper than a place holds");
        }
        place_.parts[place_.depth++] = {name, index};
    }

    void pop_part() { --place_.depth; }

    field_leaf& add_leaf(std::string_view name, std::uint64_t at, std::uint64_t size, leaf_type type)
    {
        last_kept_ = true;
        // The leaves of earlier records are written over, their place only
        // as deep as it goes: a record of references is hundreds of leaves.
        if (leaf_count_ == leaves_.size()) {
            leaves_.emplace_back();
        }
        field_leaf& leaf = leaves_[leaf_count_++];
        leaf.offset = at;
        leaf.size = size;
        leaf.type = type;
        std::copy_n(place_.parts.begin(), place_.depth, leaf.place.parts.begin());
        leaf.place.depth = place_.depth;
        leaf.name = name;
        leaf.number = 0;
        leaf.bytes = {};
        leaf.words = {};
        leaf.note = {};
        leaf.slot = slot_holds::not_a_slot;
        leaf.sizes_list = false;
        leaf.closes_stream = false;
        leaf.unit_depth = unit_depth_;
        leaf.chain_level = unit_depth_ > 0 ? chain_level_ : 0;
        leaf.closes_level = closes_level_;
        leaf.names_unit_type = false;
        leaf.decides_layout = false;
        leaf.names = {};
        leaf.names_object = false;
        leaf.names_next_object = false;
        return leaf;
    }

    void begin_note() { note_begin_ = note_text_.size(); }

    void end_note()
    {
        arena_views_.push_back({leaf_count_ - 1, note_begin_, note_text_.size() - note_begin_, true});
    }

    void number_leaf(const char* name, std::uint64_t at, std::uint64_t size, leaf_type type, std::int64_t value,
                     format::note meaning)
    {
        last_kept_ = wanted(at, size);
        if (!last_kept_) {
            return;
        }
        field_leaf& leaf = add_leaf(name_of(name), at, size, type);
        leaf.number = value;
        leaf.names_unit_type = meaning.what == format::note::kind::unit_class;
        leaf.decides_layout = meaning.decides_layout;
        leaf.names = names_of(meaning);
        leaf.names_object = meaning.what == format::note::kind::slot_object || meaning.what == format::note::kind::object_ref;
        leaf.names_next_object = leaf.names_object && is_next_object(static_cast<std::uint16_t>(value),
                                                                     static_cast<std::uint16_t>(meaning.context));
        begin_note();
        describe(meaning, value);
        if (note_text_.size() > note_begin_) {
            end_note();
        }
    }

    // Bytes that live on until the next record (the save's own fields, the
    // unit's data, a piece): pointed at.
    void bytes_leaf(std::string_view name, std::uint64_t at, leaf_type type, std::span<const std::uint8_t> bytes)
    {
        if (wanted(at, bytes.size())) {
            add_leaf(name, at, bytes.size(), type).bytes = bytes;
        }
    }

    // Raw bytes read into a local: kept in the record's arena.
    void kept_bytes_leaf(std::string_view name, std::uint64_t at, std::span<const std::uint8_t> bytes)
    {
        if (!wanted(at, bytes.size())) {
            return;
        }
        add_leaf(name, at, bytes.size(), leaf_type::raw);
        arena_views_.push_back({leaf_count_ - 1, byte_arena_.size(), bytes.size(), false});
        byte_arena_.insert(byte_arena_.end(), bytes.begin(), bytes.end());
    }

    void describe_unit_type(std::uint16_t unit_class)
    {
        const unit_type_row* row = find_unit_type(save_, unit_class);
        if (row == nullptr) {
            note_text_ += "no unit type";
            return;
        }
        note_text_ += "type row ";
        append_number(note_text_, static_cast<std::uint64_t>(row - unit_type_table.data()));
        note_text_ += ' ';
        note_text_ += row->internal_name;
    }

    void describe(format::note meaning, std::int64_t value)
    {
        using kind = format::note::kind;
        switch (meaning.what) {
        case kind::none:
            break;
        case kind::clan:
            if (value >= 1 && value <= clan_count) {
                note_text_ += clan_names[static_cast<std::size_t>(value - 1)];
            }
            break;
        case kind::button:
            note_text_ += button_names[meaning.context];
            break;
        case kind::unit_row:
            note_text_ += "row ";
            append_number(note_text_, meaning.context);
            note_text_ += ' ';
            note_text_ += unit_type_table[meaning.context].internal_name;
            break;
        case kind::unit_class:
            describe_unit_type(static_cast<std::uint16_t>(value));
            break;
        case kind::slot_object:
            note_text_ += is_next_object(static_cast<std::uint16_t>(value), static_cast<std::uint16_t>(meaning.context))
                              ? std::string_view("unit in a slot, object ")
                              : std::string_view("reference to object ");
            append_number(note_text_, static_cast<std::uint64_t>(value));
            break;
        case kind::setting:
            note_text_ += setting_name(static_cast<setting>(meaning.context), static_cast<std::int32_t>(value), {});
            break;
        case kind::object_ref:
            break;
        case kind::link_kind:
            if (meaning.context != 0 && value == new_linked_unit_kind) {
                note_text_ += "linked unit follows, object ";
                append_number(note_text_, meaning.context);
            }
            break;
        }
    }

    save_reader& reader_;
    std::uint64_t leaves_from_;
    std::vector<leaf_place> destinations_; // empty: every place
    bool last_kept_ = false; // whether the field just read was handed out as a leaf
    saveorec& save_;
    const std::uint64_t file_size_;
    leaf_place place_;
    std::uint8_t unit_depth_ = 0; // of the unit level being read, or 0
    std::uint64_t chain_level_ = 0;
    bool closes_level_ = false;

    std::vector<field_leaf> leaves_; // the first leaf_count_ are the record's
    std::size_t leaf_count_ = 0;
    std::vector<std::uint8_t> byte_arena_;
    std::string note_text_;
    std::size_t note_begin_ = 0;
    std::vector<arena_view> arena_views_;

    std::vector<std::uint8_t> piece_buffer_;
    std::span<const std::uint8_t> piece_;
    std::uint64_t piece_start_ = 0;
    std::size_t piece_at_ = 0;

    std::uint64_t read_offset_ = 0;
    std::string_view read_name_;
    std::uint64_t read_needed_ = 0;
    leaf_place read_place_;

    struct layer_rows {
        std::string_view name;
        std::uint64_t start = 0;
        std::span<const std::uint8_t> cells;
        std::size_t bytes_per_cell = 1;
        std::size_t row = map_side; // the next row to hand out
    };
    layer_rows layer_;

    unidefrec unit_;
    std::vector<std::uint16_t> points_;
    std::array<std::uint16_t, 4096> references_{};
    std::uint64_t lists_ = 0;
    std::uint64_t units_ = 0;
};

// The tail is read a piece at a time, so that a tail of any length costs
// one piece of memory.
constexpr std::size_t tail_piece_size = 64 * 1024;

} // namespace

struct save_walk::state {
    enum class stage : std::uint8_t { front, stream, tail, tail_pieces, ended };

    data_file file;
    std::unique_ptr<save_reader> reader;
    walk_summary summary;
    // The fixed part and the groups, for the version, the counts and the
    // class index; the unit store and the tail stay empty.
    std::unique_ptr<saveorec> groups_seen = std::make_unique<saveorec>();
    std::unique_ptr<walker> walk;
    stage at = stage::front;
    std::size_t front_step = 0;
    format::stream_cursor stream;
    std::uint16_t counter_before_record = 0; // before the step that read the last record handed out
    std::optional<stream_start> numbering_start; // once the groups are read
    std::uint64_t tail_left = 0;
    std::vector<std::uint8_t> tail_piece;

    // One step of the walk, whose leaves the walker gathers.
    void step()
    {
        switch (at) {
        case stage::front:
            if (walk->layer_row()) {
                return;
            }
            format::map_front_step(*walk, *groups_seen, front_step);
            if (front_step == static_cast<std::size_t>(format::front_step::header)) {
                summary.version = groups_seen->header.version;
            }
            if (++front_step == format::front_step_count) {
                start_stream();
            }
            return;
        case stage::stream:
            if (!format::map_stream_step(*walk, stream)) {
                start_tail();
            }
            return;
        case stage::tail:
            read_tail_front();
            return;
        case stage::tail_pieces:
            while (!read_tail_piece().empty()) {
            }
            at = stage::ended;
            return;
        case stage::ended:
            return;
        }
    }

    // The groups' objects take the numbers 1 up to the index length, so the
    // stream's objects go on from there, kept to 16 bits like every number.
    void start_stream()
    {
        build_class_index(*groups_seen);
        stream.object_counter = static_cast<std::uint16_t>(groups_seen->unit_class_index.size() & 0xFFFFu);
        numbering_start = stream_start{reader->offset(), stream.object_counter};
        at = stage::stream;
    }

    void start_tail()
    {
        summary.tail_size = reader->bytes_left();
        tail_left = summary.tail_size;
        at = stage::tail;
        if (tail_left == 0) {
            at = stage::ended;
        }
    }

    void read_tail_front()
    {
        const std::uint64_t start = reader->offset();
        const auto first = read_tail_piece();
        walk->tail_leaf(start, summary.tail_size, first);
        at = stage::tail_pieces;
    }

    std::span<const std::uint8_t> read_tail_piece()
    {
        if (tail_left == 0) {
            return {};
        }
        tail_piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(tail_left, tail_piece_size)));
        walk->note_read("tail", tail_piece.size());
        reader->read_bytes(tail_piece);
        tail_left -= tail_piece.size();
        return tail_piece;
    }
};

save_walk::save_walk(const std::string& path, bool with_leaves) : state_(std::make_unique<state>())
{
    open_data_file(state_->file, path);
    io_check();
    state_->reader = std::make_unique<save_reader>(state_->file);
    state_->summary.file_size = state_->reader->bytes_left();
    state_->walk = std::make_unique<walker>(*state_->reader, with_leaves, *state_->groups_seen, state_->summary.file_size);
}

save_walk::~save_walk() = default;

std::span<const field_leaf> save_walk::next()
{
    state& walk = *state_;
    walk.walk->begin_record();
    // A step that hands on no leaf (the stream's end, which reads nothing;
    // any step of a walk without leaves) is followed by the next at once.
    try {
        while (walk.at != state::stage::ended) {
            walk.counter_before_record = walk.stream.object_counter;
            walk.step();
            if (!walk.walk->finish_record().empty()) {
                break;
            }
        }
    } catch (const io_failure& failed) {
        walk.summary.broken = walk.walk->break_of(failed.code(), failed.message());
        walk.at = state::stage::ended;
    }
    walk.summary.lists = walk.walk->lists();
    walk.summary.units = walk.walk->units();
    return walk.walk->finish_record();
}

std::span<const std::uint8_t> save_walk::next_tail_piece()
{
    state& walk = *state_;
    if (walk.at != state::stage::tail_pieces) {
        return {};
    }
    try {
        const auto piece = walk.read_tail_piece();
        if (piece.empty()) {
            walk.at = state::stage::ended;
        }
        return piece;
    } catch (const io_failure& failed) {
        walk.summary.broken = walk.walk->break_of(failed.code(), failed.message());
        walk.at = state::stage::ended;
        return {};
    }
}

const walk_summary& save_walk::summary() const { return state_->summary; }

std::uint64_t save_walk::offset() const { return state_->walk->next_leaf_offset(); }

bool save_walk::reads_on_like(const save_walk& other) const
{
    const state& mine = *state_;
    const state& theirs = *other.state_;
    if (mine.at != theirs.at) {
        return false;
    }
    switch (mine.at) {
    case state::stage::front:
        return mine.front_step == theirs.front_step && mine.walk->layer_rows_done() == theirs.walk->layer_rows_done() &&
               format::read_on_alike(*mine.groups_seen, *theirs.groups_seen);
    case state::stage::stream:
        return format::read_on_alike(mine.stream, theirs.stream);
    default:
        return false;
    }
}

bool save_walk::reads_on_like(const save_walk& other, std::int64_t numbering_shift, std::int64_t list_shift) const
{
    const bool shifted = numbering_shift != 0 || list_shift != 0;
    if (!shifted || state_->at != state::stage::stream || other.state_->at != state::stage::stream) {
        return !shifted && reads_on_like(other);
    }
    format::stream_cursor unshifted = state_->stream;
    unshifted.object_counter = static_cast<std::uint16_t>(unshifted.object_counter - numbering_shift);
    unshifted.list = static_cast<std::size_t>(static_cast<std::int64_t>(unshifted.list) - list_shift);
    return format::read_on_alike(unshifted, other.state_->stream);
}

void save_walk::leaves_from(std::uint64_t offset) { state_->walk->leaves_from(offset); }

void save_walk::leaves_on_the_way_to(std::vector<leaf_place> destinations)
{
    state_->walk->leaves_on_the_way_to(std::move(destinations));
}

std::optional<std::int64_t> number_named(const field_leaf& leaf, std::string_view name)
{
    switch (leaf.names.from) {
    case value_names::table::none:
        return std::nullopt;
    case value_names::table::clan:
        for (std::size_t clan = 0; clan < clan_names.size(); ++clan) {
            if (clan_names[clan] == name) {
                return static_cast<std::int64_t>(clan + 1); // clans are counted from 1
            }
        }
        return std::nullopt;
    case value_names::table::setting:
        return setting_value(leaf.names.which, name);
    }
    return std::nullopt;
}
std::uint16_t save_walk::object_counter() const { return state_->stream.object_counter; }

std::uint16_t save_walk::object_counter_before_record() const { return state_->counter_before_record; }

std::optional<stream_start> save_walk::numbering_start() const { return state_->numbering_start; }

bool is_known_version(std::uint16_t version)
{
    return version == version_69 || version == version_70;
}

walk_summary check_save(const std::string& path)
{
    save_walk walk(path, false);
    while (!walk.next().empty()) {
    }
    return walk.summary();
}

// ---- places and paths ---------------------------------------------------------

void append_path(std::string& text, std::span<const path_part> parts, std::string_view name)
{
    for (const auto& part : parts) {
        append_part(text, part);
    }
    if (!name.empty()) {
        if (!text.empty()) {
            text += '.';
        }
        text += name;
    }
}

std::string path_of(std::span<const path_part> parts)
{
    std::string text;
    append_path(text, parts);
    return text;
}

std::string path_of(const field_leaf& leaf) { return path_of(leaf, leaf.place.depth + 1); }

std::string path_of(const field_leaf& leaf, std::size_t length)
{
    const auto parts = leaf.place.view();
    std::string text;
    append_path(text, parts.first(std::min(length, parts.size())), length > parts.size() ? leaf.name : std::string_view{});
    return text;
}

std::size_t slot_part_of(std::span<const path_part> place)
{
    constexpr std::size_t slot_part = 2; // after `units` and `lists[L]`
    return place.size() > slot_part && place[0].name == "units" && place[1].name == "lists" && place[slot_part].name == "slots"
               ? slot_part
               : 0;
}

std::size_t list_part_of(std::span<const path_part> place)
{
    constexpr std::size_t list_part = 1; // after `units`
    return place.size() > list_part && place[0].name == "units" && place[list_part].name == "lists" ? list_part : 0;
}

bool lies_in(std::span<const path_part> place, std::span<const path_part> record)
{
    return place.size() >= record.size() && std::equal(record.begin(), record.end(), place.begin());
}

std::size_t shared_length(std::span<const path_part> a, std::span<const path_part> b)
{
    const auto shared = std::min(a.size(), b.size());
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(shared), b.begin()).first - a.begin());
}

std::optional<leaf_place> place_of_path(std::string_view path)
{
    leaf_place place;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('.', start);
        end = end == std::string_view::npos ? path.size() : end;
        std::string_view part = path.substr(start, end - start);
        std::int64_t index = -1;
        if (!part.empty() && part.back() == ']') {
            const std::size_t open = part.find('[');
            if (open == std::string_view::npos) {
                return std::nullopt;
            }
            const std::string_view digits = part.substr(open + 1, part.size() - open - 2);
            const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
            if (error != std::errc{} || stop != digits.data() + digits.size() || digits.empty() || index < 0) {
                return std::nullopt;
            }
            part = part.substr(0, open);
        }
        if (part.empty() || part.find_first_of("[]") != std::string_view::npos || place.depth == leaf_place::capacity) {
            return std::nullopt;
        }
        place.parts[place.depth++] = {part, index};
        start = end + 1;
    }
    return place;
}

std::string walk_break::path() const
{
    std::string text;
    append_path(text, place.view(), name);
    return text;
}

std::string_view path_text::of(const field_leaf& leaf)
{
    const auto place = leaf.place.view();
    std::size_t same = 0;
    while (same < place.size() && same < place_.depth && place[same] == place_.parts[same]) {
        ++same;
    }
    if (same < place.size() || same < place_.depth) {
        // Only the parts from the first that changed are written again.
        text_.resize(same == 0 ? 0 : part_ends_[same - 1]);
        for (std::size_t at = same; at < place.size(); ++at) {
            append_part(text_, place[at]);
            part_ends_[at] = text_.size();
            place_.parts[at] = place[at];
        }
        place_.depth = place.size();
    }
    prefix_ = place.empty() ? 0 : part_ends_[place.size() - 1];
    text_.resize(prefix_);
    if (!leaf.name.empty()) {
        if (prefix_ > 0) {
            text_ += '.';
        }
        text_ += leaf.name;
    }
    return text_;
}

std::string leaf_type_name(leaf_type type, std::uint64_t size)
{
    std::string name;
    switch (type) {
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
        size /= 2;
        name = "u16[";
        break;
    }
    append_number(name, size);
    name += ']';
    return name;
}

// Names that one save may have where another has the next one, each row in
// file order: the top level, the header by version, a group with and
// without row 92's values, a unit with and without its inline path, a path
// with and without points, and a level of a chain with and without a linked
// unit (whose levels all come before the words that close the level).
// Numbered parts are in order by their numbers; the levels of a chain are
// placed for this so that their closing words come after the deeper levels.
namespace {
constexpr std::array<std::array<std::string_view, 9>, 6> orders_of_names{{
    {"header", "pass_layer", "resource_layer", "players", "block40", "block36", "groups", "units", "tail"},
    {"alien_player", "reserved", "version_69_byte", "save_date"},
    {"updates", "post_updates"},
    {"path", "unit_class"},
    {"points", "word_after_points"},
    {"link_kind", "linked", "word_after_link", "unkf1", "unkf1_extra"},
}};

// The index the stream's closing size is placed at: after every list.
constexpr std::int64_t after_every_list = INT64_MAX;
// The index the closing words of a linked unit's level are placed at: after
// every level's body, the deeper level's first.
constexpr std::int64_t closing_of_level(std::uint64_t level)
{
    return INT64_MAX - static_cast<std::int64_t>(std::min<std::uint64_t>(level, INT64_MAX));
}
} // namespace

place_order order_of_parts(const path_part& a, const path_part& b)
{
    if (a.name == b.name) {
        if (a.index == b.index) {
            return place_order::same;
        }
        if (a.index < 0 || b.index < 0) {
            return place_order::unknown;
        }
        return a.index < b.index ? place_order::before : place_order::after;
    }
    for (const auto& row : orders_of_names) {
        const auto first = std::find(row.begin(), row.end(), a.name);
        const auto second = std::find(row.begin(), row.end(), b.name);
        if (first != row.end() && second != row.end() && !a.name.empty() && !b.name.empty()) {
            return first < second ? place_order::before : place_order::after;
        }
    }
    return place_order::unknown;
}

place_order order_of_places(std::span<const path_part> a, std::span<const path_part> b)
{
    const std::size_t shared = shared_length(a, b);
    if (shared == a.size() || shared == b.size()) {
        return a.size() == b.size() ? place_order::same : place_order::unknown;
    }
    return order_of_parts(a[shared], b[shared]);
}

leaf_place alignment_place_of(const field_leaf& leaf)
{
    leaf_place place = leaf.place;
    if (leaf.closes_stream && place.depth > 0) {
        place.parts[place.depth - 1].index = after_every_list;
    }
    if (leaf.closes_level && leaf.chain_level > 0 && leaf.unit_depth > 0) {
        place.parts[leaf.unit_depth - 1].index = closing_of_level(leaf.chain_level);
    }
    if (!leaf.name.empty() && place.depth < leaf_place::capacity) {
        place.parts[place.depth++] = {leaf.name, -1};
    }
    return place;
}

} // namespace orbse
