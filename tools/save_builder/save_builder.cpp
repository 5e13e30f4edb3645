#include "save_builder.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

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
        out.u8(save.version_69_extra_byte);
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

} // namespace

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
    writer.raw(save.unit_stream);
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
