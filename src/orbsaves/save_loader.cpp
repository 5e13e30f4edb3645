#include "orbsaves/save_loader.h"

#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_stream.h"

#include <algorithm>

namespace orbse {
namespace {

constexpr std::size_t version_size = 2;

// Version 69 has no alien player and no reserved bytes: its header is five
// bytes shorter and has one byte of its own in their place, which is skipped.
constexpr std::size_t v69_header_read = 217;
constexpr std::size_t v69_front_end = 160;      // header offsets 2..159 keep their place
constexpr std::size_t v69_date_offset = 166;    // file byte 161 lands here
constexpr std::size_t v69_skipped_byte = 1;

using header_image = std::array<std::uint8_t, header_size>;

void read_version_69_header(save_reader& reader, header_image& image)
{
    std::array<std::uint8_t, v69_header_read> bytes{};
    reader.read_bytes(bytes);
    const auto front = std::span(bytes).first(v69_front_end - version_size);
    const auto back = std::span(bytes).subspan(front.size() + v69_skipped_byte);
    std::copy(front.begin(), front.end(), image.begin() + version_size);
    std::copy(back.begin(), back.end(), image.begin() + v69_date_offset);
}

void read_header(save_reader& reader, saveorec& save)
{
    header_image image{};
    const std::uint16_t version = reader.read_u16();
    store_u16(image.data(), version);
    if (version == version_70) {
        reader.read_bytes(std::span(image).subspan(version_size));
    } else if (version == version_69) {
        read_version_69_header(reader, image);
    }
    // Any other version has no header: the map follows the version word.
    save.header = decode_header(image);
}

void read_layers(save_reader& reader, saveorec& save)
{
    reader.read_bytes(save.pass_layer);
    reader.read_bytes(save.resource_layer);
}

void read_player_records(save_reader& reader, saveorec& save)
{
    for (auto& player : save.players) {
        std::array<std::uint8_t, player_record_size> bytes{};
        reader.read_bytes(bytes);
        player = decode_player_record(bytes);
    }
}

void read_version_block(save_reader& reader, saveorec& save)
{
    if (save.header.version == version_70) {
        reader.read_bytes(save.block40);
    } else if (save.header.version == version_69) {
        reader.read_bytes(save.block36);
    }
}

void decode_units_block(std::span<const std::uint8_t> bytes, units_block& block)
{
    record_cursor cursor(bytes);
    for (auto& entry : block) {
        entry.object_number = cursor.take_u16();
        cursor.take_into(entry.values);
    }
}

void read_units_block(save_reader& reader, units_block& block)
{
    constexpr std::size_t entry_size = 2 + values_record_size;
    std::array<std::uint8_t, unit_type_count * entry_size> bytes{};
    reader.read_bytes(bytes);
    decode_units_block(bytes, block);
}

void read_player_groups(save_reader& reader, saveorec& save)
{
    for (int player = red; player < player_count; ++player) {
        if (player != red) {
            save.lead_words[player - 1] = reader.read_u16();
        }
        read_units_block(reader, save.units_blocks[player]);
        read_updates(reader, save.units_updates[player], save.units_blocks[player][0].object_number);
        read_post_updates(reader, save.post_updates[player]);
    }
}

// Whatever follows the unit stream is kept as it is, in one read.
void read_tail(save_reader& reader, saveorec& save)
{
    const std::uint64_t tail_size = reader.bytes_left();
    save.tail_size = static_cast<std::int64_t>(tail_size);
    if (tail_size == 0) {
        return; // no bytes, so no memory asked for
    }
    save.tail_data = large_buffer<std::uint8_t>(tail_size);
    reader.read_bytes({save.tail_data.data(), save.tail_data.size()});
}

template <std::size_t N>
void take_names(record_cursor& cursor, std::array<name_field, N>& names)
{
    for (auto& name : names) {
        cursor.take_into(name);
    }
}

} // namespace

game_header decode_header(std::span<const std::uint8_t, header_size> image)
{
    record_cursor cursor(image);
    game_header header;
    header.version = cursor.take_u16();
    header.save_type = cursor.take_u8();
    cursor.take_into(header.game_name);
    header.map_number = cursor.take_u8();
    header.level_number = cursor.take_u16();
    take_names(cursor, header.player_names);
    cursor.take_into(header.player_kinds);
    header.alien_player = cursor.take_u8();
    cursor.take_into(header.reserved);
    header.save_date = cursor.take_u32();
    header.cpu_iq = cursor.take_u8();
    header.turn_time_1 = cursor.take_u16();
    header.end_turn_time_1 = cursor.take_u16();
    header.turn_mode_1 = cursor.take_u8();
    header.map_number_2 = cursor.take_i32();
    header.turn_time_2 = cursor.take_i32();
    header.end_turn_time_2 = cursor.take_i32();
    header.start_gold = cursor.take_i32();
    header.turn_mode_2 = cursor.take_i32();
    header.end_type = cursor.take_i32();
    header.end_amount = cursor.take_i32();
    header.cpu_iq_2 = cursor.take_i32();
    header.raw_richness = cursor.take_i32();
    header.fuel_richness = cursor.take_i32();
    header.gold_richness = cursor.take_i32();
    header.alien_frequency = cursor.take_i32();
    return header;
}

player_record decode_player_record(std::span<const std::uint8_t, player_record_size> bytes)
{
    record_cursor cursor(bytes);
    player_record player;
    cursor.take_into(player.reserved_front);
    player.player_type = cursor.take_u8();
    player.unk0 = cursor.take_u8();
    player.clan = cursor.take_u8();
    for (auto& entry : player.research) {
        entry.now = cursor.take_i32();
        entry.unk = cursor.take_i32();
        entry.labs = cursor.take_i32();
    }
    player.score = cursor.take_i32();
    player.unk2 = cursor.take_u16();
    cursor.take_into(player.unkarr1);
    cursor.take_into(player.reserved_middle);
    player.unk3 = cursor.take_u16();
    player.selunit = cursor.take_u16();
    player.zoom = cursor.take_u16();
    player.xoff = cursor.take_u16();
    player.yoff = cursor.take_u16();
    cursor.take_into(player.buttons);
    player.unk4 = cursor.take_u16();
    player.unk5 = cursor.take_u16();
    player.unk6 = cursor.take_u16();
    player.unk7 = cursor.take_u16();
    cursor.take_into(player.loses);
    cursor.take_into(player.unkarr2);
    player.gold_used = cursor.take_u16();
    return player;
}

void read_updates(save_reader& reader, units_updates_block& updates, std::uint16_t base)
{
    updates.count = 0;
    for (int row = 0; row < unit_type_count; ++row) {
        auto& entry = updates.entries[row];
        updates.flags[row] = 0;
        entry.object_number = reader.read_u16();
        // Formed at full width: near the top of the range no number matches.
        if (entry.object_number != static_cast<std::int32_t>(base) + row) {
            updates.flags[row] = 1;
            ++updates.count;
            reader.read_bytes(entry.values);
        }
    }
}

void read_post_updates(save_reader& reader, units_post_updates_block_record& post_updates)
{
    post_updates.count = reader.read_u16();
    post_updates.records.assign(post_updates.count, post_update_record{});
    for (auto& record : post_updates.records) {
        reader.read_bytes(record);
    }
}

void load_save(saveorec& save, const std::string& path)
{
    data_file file;
    open_data_file(file, path);
    io_check();
    save_reader reader(file);
    read_header(reader, save);
    read_layers(reader, save);
    read_player_records(reader, save);
    read_version_block(reader, save);
    read_player_groups(reader, save);
    build_class_index(save);
    // The groups' objects take the numbers 1 up to the index length, so the
    // stream's objects go on from there, kept to 16 bits like every number.
    save.unit_store = unidefa{};
    save.unit_store.object_counter = static_cast<std::uint16_t>(save.unit_class_index.size() & 0xFFFFu);
    read_units(reader, save.unit_store);
    read_tail(reader, save);
    close_data_file(file);
    io_check();
}

} // namespace orbse
