#include "orbsaves/save_loader.h"
#include "save_builder.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <numeric>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::temp_folder;

std::unique_ptr<saveorec> load_bytes(const sb::bytes& content)
{
    temp_folder folder;
    const auto path = folder.file("game.sav");
    testing::write_file(path, content);
    auto save = std::make_unique<saveorec>();
    load_save(*save, path);
    return save;
}

// The code of the failure a load ends with, 0 when it succeeds.
std::int32_t load_failure_code(const sb::bytes& content)
{
    try {
        load_bytes(content);
    } catch (const io_failure& raised) {
        return raised.code();
    }
    return 0;
}

template <std::size_t N>
std::array<std::uint8_t, N> counting_array(std::uint8_t start)
{
    std::array<std::uint8_t, N> values{};
    std::iota(values.begin(), values.end(), start);
    return values;
}

sb::save_description every_header_field_set(std::uint16_t version)
{
    sb::save_description save = sb::empty_save(version);
    game_header& header = save.header;
    header.save_type = 3;
    header.game_name = sb::name("Four Rivers");
    header.map_number = 200;
    header.level_number = 65535;
    header.player_names = {sb::name("R"), sb::name("G"), sb::name("B"), sb::name(std::string(30, 'y'))};
    header.player_kinds = {1, 2, 0, 7};
    header.alien_player = 9;
    header.reserved = {1, 2, 3, 4, 5};
    header.save_date = 0xF0E0D0C0u;
    header.cpu_iq = 4;
    header.turn_time_1 = 0x1234;
    header.end_turn_time_1 = 0xFEDC;
    header.turn_mode_1 = 1;
    header.map_number_2 = -2;
    header.turn_time_2 = 2147483647;
    header.end_turn_time_2 = -2147483647 - 1;
    header.start_gold = 150;
    header.turn_mode_2 = 0x100;
    header.end_type = 1;
    header.end_amount = 400;
    header.cpu_iq_2 = -1;
    header.raw_richness = 2;
    header.fuel_richness = 1;
    header.gold_richness = 0;
    header.alien_frequency = 65536;
    save.version_69_byte = 0xAB;
    save.block40 = counting_array<40>(1);
    save.block36 = counting_array<36>(101);
    for (int cell = 0; cell < map_cell_count; ++cell) {
        save.pass_layer[cell] = static_cast<std::uint8_t>(cell * 7);
        save.resource_layer[2 * cell] = static_cast<std::uint8_t>(cell);
        save.resource_layer[2 * cell + 1] = static_cast<std::uint8_t>(cell >> 8);
    }
    return save;
}

// Compares every field the header decodes, so a shifted offset shows at
// once, with the field's name.
void expect_same_header(const game_header& loaded, const game_header& expected)
{
#define ORBSE_EXPECT_FIELD(field) EXPECT_EQ(loaded.field, expected.field) << #field
    ORBSE_EXPECT_FIELD(version);
    ORBSE_EXPECT_FIELD(save_type);
    ORBSE_EXPECT_FIELD(game_name);
    ORBSE_EXPECT_FIELD(map_number);
    ORBSE_EXPECT_FIELD(level_number);
    ORBSE_EXPECT_FIELD(player_names);
    ORBSE_EXPECT_FIELD(player_kinds);
    ORBSE_EXPECT_FIELD(alien_player);
    ORBSE_EXPECT_FIELD(reserved);
    ORBSE_EXPECT_FIELD(save_date);
    ORBSE_EXPECT_FIELD(cpu_iq);
    ORBSE_EXPECT_FIELD(turn_time_1);
    ORBSE_EXPECT_FIELD(end_turn_time_1);
    ORBSE_EXPECT_FIELD(turn_mode_1);
    ORBSE_EXPECT_FIELD(map_number_2);
    ORBSE_EXPECT_FIELD(turn_time_2);
    ORBSE_EXPECT_FIELD(end_turn_time_2);
    ORBSE_EXPECT_FIELD(start_gold);
    ORBSE_EXPECT_FIELD(turn_mode_2);
    ORBSE_EXPECT_FIELD(end_type);
    ORBSE_EXPECT_FIELD(end_amount);
    ORBSE_EXPECT_FIELD(cpu_iq_2);
    ORBSE_EXPECT_FIELD(raw_richness);
    ORBSE_EXPECT_FIELD(fuel_richness);
    ORBSE_EXPECT_FIELD(gold_richness);
    ORBSE_EXPECT_FIELD(alien_frequency);
#undef ORBSE_EXPECT_FIELD
}

TEST(load_save, version_70_header_is_the_files_first_224_bytes)
{
    const auto description = every_header_field_set(70);
    const auto content = sb::build_save(description);
    const auto save = load_bytes(content);
    expect_same_header(save->header, description.header);
    // Spot checks against the raw file, independent of the builder's view.
    EXPECT_EQ(save->header.save_date, content[166] | content[167] << 8 | content[168] << 16 |
                                          static_cast<std::uint32_t>(content[169]) << 24);
    EXPECT_EQ(save->header.alien_player, content[160]);
    EXPECT_EQ(save->pass_layer[0], content[224]);
    EXPECT_EQ(save->resource_layer[0], content[12768]);
    EXPECT_EQ(save->block40, description.block40);
    EXPECT_EQ(save->block36, (std::array<std::uint8_t, 36>{}));
    EXPECT_EQ(save->pass_layer, description.pass_layer);
    EXPECT_EQ(save->resource_layer, description.resource_layer);
}

TEST(load_save, version_69_header_moves_the_date_and_drops_the_alien_player)
{
    const auto description = every_header_field_set(69);
    const auto content = sb::build_save(description);
    const auto save = load_bytes(content);
    game_header expected = description.header;
    expected.alien_player = 0;
    expected.reserved = {};
    expect_same_header(save->header, expected);
    EXPECT_EQ(content[160], 0xAB); // the byte that is read and dropped
    EXPECT_EQ(save->header.save_date, content[161] | content[162] << 8 | content[163] << 16 |
                                          static_cast<std::uint32_t>(content[164]) << 24);
    EXPECT_EQ(save->header.cpu_iq, content[165]);
    EXPECT_EQ(save->pass_layer[0], content[219]);
    EXPECT_EQ(save->block36, description.block36);
    EXPECT_EQ(save->block40, (std::array<std::uint8_t, 40>{}));
}

TEST(load_save, other_versions_have_no_header_and_no_version_block)
{
    for (const std::uint16_t version : {0, 71, 65535}) {
        auto description = every_header_field_set(version);
        description.players[red].clan = 5;
        const auto content = sb::build_save(description);
        const auto save = load_bytes(content);
        game_header expected{};
        expected.version = version;
        expect_same_header(save->header, expected);
        EXPECT_TRUE(std::equal(save->pass_layer.begin(), save->pass_layer.end(), content.begin() + 2));
        EXPECT_EQ(save->players[red].clan, content[37634 + 42]);
        EXPECT_EQ(save->block40, (std::array<std::uint8_t, 40>{}));
        EXPECT_EQ(save->block36, (std::array<std::uint8_t, 36>{}));
        EXPECT_EQ(save->units_blocks[red][0].object_number, content[39894] | content[39895] << 8);
    }
}

player_record every_player_field_set(std::uint8_t seed)
{
    player_record player;
    player.reserved_front = counting_array<40>(seed);
    player.player_type = 2;
    player.unk0 = static_cast<std::uint8_t>(seed + 1);
    player.clan = 6;
    for (int topic = 0; topic < research_count; ++topic) {
        player.research[topic] = {topic * 1000 + seed, -topic, 2147483647 - topic};
    }
    player.score = -12345;
    player.unk2 = 0xBEEF;
    player.unkarr1 = counting_array<93>(seed);
    player.reserved_middle = counting_array<110>(static_cast<std::uint8_t>(seed + 50));
    player.unk3 = 1;
    player.selunit = 2;
    player.zoom = 3;
    player.xoff = 0x8000;
    player.yoff = 5;
    player.buttons = counting_array<11>(0);
    player.unk4 = 6;
    player.unk5 = 7;
    player.unk6 = 8;
    player.unk7 = 0xFFFF;
    player.loses = counting_array<176>(seed);
    player.unkarr2 = counting_array<10>(200);
    player.gold_used = 0x0102;
    return player;
}

TEST(load_save, player_records_are_stored_field_by_field)
{
    auto description = sb::empty_save(70);
    for (int player = red; player < player_count; ++player) {
        description.players[player] = every_player_field_set(static_cast<std::uint8_t>(player * 10));
    }
    const auto content = sb::build_save(description);
    const auto save = load_bytes(content);
    for (int player = red; player < player_count; ++player) {
        const player_record& loaded = save->players[player];
        const player_record& expected = description.players[player];
        EXPECT_EQ(loaded.reserved_front, expected.reserved_front);
        EXPECT_EQ(loaded.unk0, expected.unk0);
        EXPECT_EQ(loaded.clan, expected.clan);
        for (int topic = 0; topic < research_count; ++topic) {
            EXPECT_EQ(loaded.research[topic].now, expected.research[topic].now);
            EXPECT_EQ(loaded.research[topic].unk, expected.research[topic].unk);
            EXPECT_EQ(loaded.research[topic].labs, expected.research[topic].labs);
        }
        EXPECT_EQ(loaded.score, expected.score);
        EXPECT_EQ(loaded.unk2, expected.unk2);
        EXPECT_EQ(loaded.unkarr1, expected.unkarr1);
        EXPECT_EQ(loaded.reserved_middle, expected.reserved_middle);
        EXPECT_EQ(loaded.xoff, expected.xoff);
        EXPECT_EQ(loaded.buttons, expected.buttons);
        EXPECT_EQ(loaded.unk7, expected.unk7);
        EXPECT_EQ(loaded.loses, expected.loses);
        EXPECT_EQ(loaded.unkarr2, expected.unkarr2);
        EXPECT_EQ(loaded.gold_used, expected.gold_used);
    }
    // The gray record's last field, straight from the file.
    const std::size_t gray_gold_used = 37856 + 3 * 565 + 563;
    EXPECT_EQ(save->players[gray].gold_used, content[gray_gold_used] | content[gray_gold_used + 1] << 8);
}

TEST(load_save, groups_keep_blocks_flagged_updates_post_updates_and_lead_words)
{
    auto description = sb::empty_save(70);
    description.groups[red].updates = {{5, 0, counting_array<30>(1)}, {40, 0, counting_array<30>(2)}};
    description.groups[red].post_updates = {counting_array<18>(3), counting_array<18>(4)};
    description.groups[green].lead_word = 0x1111;
    description.groups[blue].lead_word = 0x2222;
    description.groups[gray].lead_word = 0x3333;
    description.groups[gray].block[92].values = counting_array<30>(9);
    sb::number_objects(description);
    const auto save = load_bytes(sb::build_save(description));

    const units_updates_block& red_updates = save->units_updates[red];
    EXPECT_EQ(red_updates.count, 2);
    for (int row = 0; row < unit_type_count; ++row) {
        EXPECT_EQ(red_updates.flags[row], row == 5 || row == 40 ? 1 : 0) << row;
    }
    EXPECT_EQ(red_updates.entries[5].values, counting_array<30>(1));
    EXPECT_EQ(red_updates.entries[40].values, counting_array<30>(2));
    EXPECT_EQ(red_updates.entries[6].object_number, 7); // the plain number, base 1 + row 6
    EXPECT_EQ(red_updates.entries[6].values, values_record{});
    EXPECT_EQ(save->post_updates[red].count, 2);
    ASSERT_EQ(save->post_updates[red].records.size(), 2u);
    EXPECT_EQ(save->post_updates[red].records[1], counting_array<18>(4));
    EXPECT_EQ(save->post_updates[green].count, 0);
    EXPECT_TRUE(save->post_updates[green].records.empty());
    EXPECT_EQ(save->lead_words, (std::array<std::uint16_t, 3>{0x1111, 0x2222, 0x3333}));
    EXPECT_EQ(save->units_blocks[green][0].object_number, 93 + 2 + 2 + 1);
    EXPECT_EQ(save->units_blocks[gray][92].values, counting_array<30>(9));
    EXPECT_EQ(save->units_updates[gray].count, 0);
}

TEST(read_updates, a_base_near_the_top_flags_every_row_past_65535)
{
    auto description = sb::empty_save(70);
    for (int row = 0; row < unit_type_count; ++row) {
        description.groups[blue].block[row].object_number = static_cast<std::uint16_t>(65500 + row);
    }
    const auto save = load_bytes(sb::build_save(description));
    const units_updates_block& updates = save->units_updates[blue];
    for (int row = 0; row < unit_type_count; ++row) {
        EXPECT_EQ(updates.flags[row], row >= 36 ? 1 : 0) << row;
    }
    EXPECT_EQ(updates.count, 93 - 36);
}

TEST(load_save, a_save_cut_short_anywhere_in_its_fixed_part_or_groups_fails_with_100)
{
    auto description = sb::empty_save(70);
    description.groups[red].updates = {{5, 0, counting_array<30>(1)}};
    description.groups[green].post_updates = {counting_array<18>(3)};
    sb::number_objects(description);
    const auto content = sb::build_save(description);
    const std::size_t groups_start = sb::fixed_part_size(70);
    const std::size_t red_updates = groups_start + 93 * 32;
    const std::vector<std::pair<const char*, std::size_t>> cuts{
        {"empty file", 0},
        {"inside the version", 1},
        {"inside the header", 100},
        {"inside the pass layer", 5000},
        {"inside the resource layer", 20000},
        {"inside a player record", 38000},
        {"inside the version block", 40120},
        {"at the end of the fixed part", groups_start},
        {"inside a units block", groups_start + 100},
        {"inside an updates block", red_updates + 11},
        {"inside a flagged values record", red_updates + 5 * 2 + 2 + 10},
        {"inside a post-update count", red_updates + 93 * 2 + 30 + 1},
        {"inside a lead word", red_updates + 93 * 2 + 30 + 2 + 1},
        {"inside a post-update record", content.size() - 2 * (1 + 93 * 32 + 93 * 2 + 2) - 2 - 5},
        {"one byte short", content.size() - 1},
    };
    for (const auto& [where, size] : cuts) {
        const sb::bytes cut(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(load_failure_code(cut), 100) << where;
    }
    EXPECT_EQ(load_failure_code(content), 0);
}

TEST(load_save, a_missing_save_fails_with_file_not_found)
{
    temp_folder folder;
    saveorec save;
    try {
        load_save(save, folder.file("missing.sav"));
        FAIL() << "loaded a missing file";
    } catch (const io_failure& raised) {
        EXPECT_EQ(raised.code(), 2);
    }
}

// How many files this process holds open, where the system shows it.
std::optional<std::size_t> open_file_count()
{
    const std::filesystem::path descriptors = "/proc/self/fd";
    std::error_code unknown;
    if (!std::filesystem::is_directory(descriptors, unknown)) {
        return std::nullopt;
    }
    const auto entries = std::filesystem::directory_iterator(descriptors, unknown);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// A load that fails ends the run, but a caller that goes on (a fuzzer, a
// tool reading many saves) must not be left holding the save open.
TEST(load_save, a_save_that_fails_to_load_is_not_left_open)
{
    temp_folder folder;
    const auto content = sb::build_save(sb::empty_save(70));
    const auto path = folder.file("cut.sav");
    testing::write_file(path, sb::bytes(content.begin(), content.begin() + 20000));
    const auto open_before = open_file_count();
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto save = std::make_unique<saveorec>();
        EXPECT_THROW(load_save(*save, path), io_failure);
    }
    if (open_before) {
        EXPECT_EQ(open_file_count(), open_before);
    }
    // Windows keeps a file open without delete sharing from being removed.
    EXPECT_TRUE(std::filesystem::remove(path));
}

} // namespace
} // namespace orbse
