#include "save_builder.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace orbse::save_builder {
namespace {

class byte_writer {
public:
    explicit byte_writer(bytes& out) : out_(out) {}

    void u8(std::uint8_t value) { out_.push_back(value); }

    void u16(std::uint16_t value)
    {
        u8(static_cast<std::uint8_t>(value));
        u8(static_cast<std::uint8_t>(value >> 8));
    }

    void u32(std::uint32_t value)
    {
        u16(static_cast<std::uint16_t>(value));
        u16(static_cast<std::uint16_t>(value >> 16));
    }

    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }

    template <std::size_t N>
    void raw(const std::array<std::uint8_t, N>& field)
    {
        out_.insert(out_.end(), field.begin(), field.end());
    }

    void raw(const bytes& field) { out_.insert(out_.end(), field.begin(), field.end()); }

private:
    bytes& out_;
};

void write_header_front(byte_writer& out, const game_header& header)
{
    out.u8(header.save_type);
    out.raw(header.game_name);
    out.u8(header.map_number);
    out.u16(header.level_number);
    for (const auto& player_name : header.player_names) {
        out.raw(player_name);
    }
    out.raw(header.player_kinds);
}

void write_header_back(byte_writer& out, const game_header& header)
{
    out.u32(header.save_date);
    out.u8(header.cpu_iq);
    out.u16(header.turn_time_1);
    out.u16(header.end_turn_time_1);
    out.u8(header.turn_mode_1);
    for (const std::int32_t value :
         {header.map_number_2, header.turn_time_2, header.end_turn_time_2, header.start_gold, header.turn_mode_2,
          header.end_type, header.end_amount, header.cpu_iq_2, header.raw_richness, header.fuel_richness,
          header.gold_richness, header.alien_frequency}) {
        out.i32(value);
    }
}

void write_header(byte_writer& out, const save_description& save)
{
    const game_header& header = save.header;
    out.u16(header.version);
    if (header.version == 70) {
        write_header_front(out, header);
        out.u8(header.alien_player);
        out.raw(header.reserved);
        write_header_back(out, header);
    } else if (header.version == 69) {
        write_header_front(out, header);
        out.u8(save.version_69_byte);
        write_header_back(out, header);
    }
}

void write_player(byte_writer& out, const player_record& player)
{
    out.raw(player.reserved_front);
    out.u8(player.player_type);
    out.u8(player.unk0);
    out.u8(player.clan);
    for (const auto& entry : player.research) {
        out.i32(entry.now);
        out.i32(entry.unk);
        out.i32(entry.labs);
    }
    out.i32(player.score);
    out.u16(player.unk2);
    out.raw(player.unkarr1);
    out.raw(player.reserved_middle);
    for (const std::uint16_t value : {player.unk3, player.selunit, player.zoom, player.xoff, player.yoff}) {
        out.u16(value);
    }
    out.raw(player.buttons);
    for (const std::uint16_t value : {player.unk4, player.unk5, player.unk6, player.unk7}) {
        out.u16(value);
    }
    out.raw(player.loses);
    out.raw(player.unkarr2);
    out.u16(player.gold_used);
}

const update_description* find_update(const group_description& group, int row)
{
    const auto found = std::find_if(group.updates.begin(), group.updates.end(),
                                    [row](const update_description& update) { return update.row == row; });
    return found == group.updates.end() ? nullptr : &*found;
}

void write_updates(byte_writer& out, const group_description& group)
{
    const std::uint32_t base = group.block[0].object_number;
    for (int row = 0; row < unit_type_count; ++row) {
        if (const update_description* update = find_update(group, row)) {
            out.u16(update->object_number);
            if (update->object_number != base + static_cast<std::uint32_t>(row)) {
                out.raw(update->values);
            }
            continue;
        }
        const std::uint32_t plain_number = base + static_cast<std::uint32_t>(row);
        out.u16(static_cast<std::uint16_t>(plain_number));
        // Past 65,535 no stored number can be the plain one, so the row is
        // read as flagged and its values record must follow.
        if (plain_number > 0xFFFFu) {
            out.raw(values_record{});
        }
    }
}

void write_group(byte_writer& out, const group_description& group, int player)
{
    if (player != red) {
        out.u16(group.lead_word);
    }
    for (const auto& entry : group.block) {
        out.u16(entry.object_number);
        out.raw(entry.values);
    }
    write_updates(out, group);
    out.u16(static_cast<std::uint16_t>(group.post_updates.size()));
    for (const auto& record : group.post_updates) {
        out.raw(record);
    }
}

// Where the named fields lie in a unit object, counted from its object
// number; the unit data starts at offset 4. Kept here rather than taken from
// the loader, so that loading a built save checks one against the other.
constexpr std::size_t unit_data_start = 4;

void put_u8(std::array<std::uint8_t, unit_data_size>& data, std::size_t object_offset, std::uint8_t value)
{
    data[object_offset - unit_data_start] = value;
}

void put_u16(std::array<std::uint8_t, unit_data_size>& data, std::size_t object_offset, std::uint16_t value)
{
    put_u8(data, object_offset, static_cast<std::uint8_t>(value));
    put_u8(data, object_offset + 1, static_cast<std::uint8_t>(value >> 8));
}

std::array<std::uint8_t, unit_data_size> unit_data_bytes(const unit_description& unit)
{
    auto data = unit.data;
    put_u16(data, 42, unit.selected);
    put_u16(data, 100, unit.unk1);
    put_u16(data, 102, unit.unk2);
    put_u8(data, 112, unit.unk3);
    put_u16(data, 113, unit.speed_now);
    put_u8(data, 115, unit.unk4);
    put_u16(data, 116, unit.unk5);
    put_u8(data, 118, unit.unk6);
    put_u8(data, 119, unit.unk7);
    put_u16(data, 120, unit.unk8);
    put_u16(data, 144, unit.path_ref);
    put_u16(data, 146, unit.path_kind);
    return data;
}

void write_path(byte_writer& out, const path_description& path)
{
    for (const std::uint16_t word : path.header_words) {
        out.u16(word);
    }
    out.u16(static_cast<std::uint16_t>(path.points.size()));
    for (const std::uint16_t point : path.points) {
        out.u16(point);
    }
    out.u16(path.trailing_word);
}

// Everything of one unit up to where the unit it links would follow.
void write_unit_front(byte_writer& out, const unit_description& unit)
{
    out.raw(unit_data_bytes(unit));
    if (unit.path) {
        write_path(out, *unit.path);
    }
    for (const std::uint16_t word : {unit.unit_class, unit.aux_word, unit.link_ref, unit.link_kind}) {
        out.u16(word);
    }
}

void write_unkf1(byte_writer& out, const unit_description& unit)
{
    out.u16(unit.unkf1);
    if (unit.unkf1_extra) {
        out.u16(*unit.unkf1_extra);
    }
}

// A linked unit sits between the four words and the unkf1 of the unit that
// links it, followed by one more word of that unit. Written level by level
// rather than recursively: a test may describe chains a million deep.
void write_slot(byte_writer& out, const slot_description& slot)
{
    out.u16(slot.object_number);
    if (slot.chain.empty()) {
        return;
    }
    out.u16(slot.class_word);
    for (const auto& unit : slot.chain) {
        write_unit_front(out, unit);
    }
    write_unkf1(out, slot.chain.back());
    for (std::size_t level = slot.chain.size() - 1; level-- > 0;) {
        out.u16(slot.chain[level].word_after_link);
        write_unkf1(out, slot.chain[level]);
    }
}

void write_unit_stream(byte_writer& out, const save_description& save)
{
    if (!save.unit_stream.empty()) {
        out.raw(save.unit_stream);
        return;
    }
    for (const auto& list : save.unit_lists) {
        out.u16(static_cast<std::uint16_t>(list.slots.size()));
        for (const auto& slot : list.slots) {
            write_slot(out, slot);
        }
    }
    if (save.closing_zero_size) {
        out.u16(0);
    }
}

bool updates_row_flagged(const group_description& group, int row)
{
    const std::uint32_t plain_number = group.block[0].object_number + static_cast<std::uint32_t>(row);
    if (const update_description* update = find_update(group, row)) {
        return update->object_number != plain_number;
    }
    return plain_number > 0xFFFFu;
}

// The counter of new objects, which fails loudly rather than describe a
// number the format cannot hold.
class object_numbers {
public:
    explicit object_numbers(std::uint16_t start) : counter_(start) {}

    std::uint16_t next() const
    {
        if (counter_ == 0xFFFFu) {
            throw std::logic_error("no object number is left after 65535");
        }
        return static_cast<std::uint16_t>(counter_ + 1);
    }

    void step() { counter_ = static_cast<std::uint16_t>(counter_ + 1); }
    std::uint16_t counter() const { return counter_; }

private:
    std::uint16_t counter_;
};

void number_slot(slot_description& slot, object_numbers& numbers)
{
    slot.object_number = numbers.next();
    numbers.step();
    for (std::size_t level = 0; level < slot.chain.size(); ++level) {
        unit_description& unit = slot.chain[level];
        if (unit.path) {
            unit.path_ref = numbers.next();
            unit.path_kind = 4;
            numbers.step();
        }
        if (level + 1 < slot.chain.size()) {
            unit.link_ref = numbers.next();
            unit.link_kind = 5;
        }
    }
    // Each linked unit is counted once its whole body is written.
    for (std::size_t level = 1; level < slot.chain.size(); ++level) {
        numbers.step();
    }
}

} // namespace

slot_description reference(std::uint16_t object_number)
{
    return slot_description{object_number, 0, {}};
}

slot_description new_unit(std::uint16_t class_word, std::vector<unit_description> chain)
{
    if (chain.empty()) {
        throw std::logic_error("a new unit needs at least its own unit description");
    }
    return slot_description{0, class_word, std::move(chain)};
}

std::size_t index_length(const save_description& save)
{
    std::size_t length = 0;
    for (const auto& group : save.groups) {
        length += unit_type_count + group.post_updates.size();
        for (int row = 0; row < unit_type_count; ++row) {
            length += updates_row_flagged(group, row) ? 1 : 0;
        }
    }
    return length;
}

std::uint16_t number_units(save_description& save)
{
    object_numbers numbers(static_cast<std::uint16_t>(index_length(save) & 0xFFFFu));
    for (auto& list : save.unit_lists) {
        for (auto& slot : list.slots) {
            if (!slot.chain.empty()) {
                number_slot(slot, numbers);
            }
        }
    }
    return numbers.counter();
}

name_field name(std::string_view text)
{
    name_field field{};
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
    return field;
}

save_description empty_save(std::uint16_t version)
{
    save_description save;
    save.header.version = version;
    number_objects(save);
    return save;
}

std::uint32_t number_objects(save_description& save)
{
    std::uint32_t next = 1;
    for (auto& group : save.groups) {
        for (auto& entry : group.block) {
            entry.object_number = static_cast<std::uint16_t>(next++);
        }
        for (auto& update : group.updates) {
            update.object_number = static_cast<std::uint16_t>(next++);
        }
        next += static_cast<std::uint32_t>(group.post_updates.size());
    }
    return next;
}

bytes build_save(const save_description& save)
{
    bytes out;
    byte_writer writer(out);
    write_header(writer, save);
    writer.raw(save.pass_layer);
    writer.raw(save.resource_layer);
    for (const auto& player : save.players) {
        write_player(writer, player);
    }
    if (save.header.version == 70) {
        writer.raw(save.block40);
    } else if (save.header.version == 69) {
        writer.raw(save.block36);
    }
    for (int player = red; player < player_count; ++player) {
        write_group(writer, save.groups[player], player);
    }
    write_unit_stream(writer, save);
    writer.raw(save.tail);
    return out;
}

std::size_t fixed_part_size(std::uint16_t version)
{
    const std::size_t layers_and_players = map_cell_count * 3 + player_count * player_record_size;
    switch (version) {
    case 70:
        return header_size + layers_and_players + 40;
    case 69:
        return 219 + layers_and_players + 36;
    default:
        return 2 + layers_and_players;
    }
}

void write_file(const std::string& path, const bytes& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace orbse::save_builder
