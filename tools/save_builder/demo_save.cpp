#include "demo_save.h"

#include <cmath>

namespace orbse::save_builder {
namespace {

constexpr std::uint8_t terrain_land = 1;
constexpr std::uint8_t terrain_water = 2;
constexpr std::uint8_t terrain_coast = 4;
constexpr std::uint8_t terrain_blocked = 8;

// Smooth hills from a few waves, the same on every machine: only integer
// inputs and a fixed formula.
double height_at(int column, int row)
{
    const double x = column / 112.0;
    const double y = row / 112.0;
    return std::sin(x * 6.1 + 0.7) * 0.45 + std::cos(y * 5.3 - 0.4) * 0.4 + std::sin((x + y) * 9.7) * 0.2 +
           std::cos((x - y) * 13.1 + 1.3) * 0.1;
}

std::uint8_t terrain_for(double height)
{
    if (height < -0.35) {
        return terrain_water;
    }
    if (height < -0.2) {
        return terrain_coast;
    }
    if (height > 0.75) {
        return terrain_blocked;
    }
    return terrain_land;
}

// A small deterministic generator for scattering resources.
struct scatter {
    std::uint32_t state = 0x9E3779B9u;
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

void draw_map(save_description& save)
{
    scatter random;
    for (int cell = 0; cell < map_cell_count; ++cell) {
        const int column = cell % map_side;
        const int row = cell / map_side;
        const std::uint8_t terrain = terrain_for(height_at(column, row));
        save.pass_layer[cell] = terrain;
        // Resource byte 0: a kind base (32 raw material, 64 fuel, 128 gold)
        // plus a level 1 to 16; byte 1: which players have surveyed it.
        const std::uint32_t roll = random.next();
        if (terrain == terrain_land && roll % 7 == 0) {
            static constexpr std::uint8_t bases[] = {32, 32, 64, 128};
            save.resource_layer[2 * cell] = static_cast<std::uint8_t>(bases[(roll >> 8) % 4] + 1 + (roll >> 12) % 16);
            save.resource_layer[2 * cell + 1] = static_cast<std::uint8_t>(((roll >> 20) % 16) << 2);
        }
    }
}

player_record demo_player(std::uint8_t kind, std::uint8_t clan, std::int32_t score, std::uint16_t x, std::uint16_t y)
{
    player_record player;
    player.player_type = kind;
    player.clan = clan;
    for (int topic = 0; topic < research_count; ++topic) {
        player.research[topic] = {topic % 3, 0, topic == 1 ? 2 : 0};
    }
    player.score = score;
    player.zoom = 64;
    player.xoff = x;
    player.yoff = y;
    player.buttons = {1, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1};
    player.gold_used = static_cast<std::uint16_t>(score * 3);
    for (std::size_t index = 0; index < player.unkarr1.size(); ++index) {
        player.unkarr1[index] = static_cast<std::uint8_t>(index % 5 == 0 ? 1 : 0);
    }
    player.loses[51] = static_cast<std::uint8_t>(score % 4);
    return player;
}

void describe_game(save_description& save)
{
    game_header& header = save.header;
    header.version = 70;
    header.save_type = 3;
    header.game_name = name("Four Rivers");
    header.map_number = 4;
    header.level_number = 0;
    header.player_names = {name("Redbeard"), name("Viridia"), name("Azure"), name("Slate")};
    header.player_kinds = {1, 2, 2, 2};
    header.save_date = 1765203120; // 2025-12-08 14:12:00 UTC
    header.cpu_iq = 3;
    header.turn_time_1 = 180;
    header.end_turn_time_1 = 45;
    header.turn_mode_1 = 1;
    header.map_number_2 = 4;
    header.turn_time_2 = 180;
    header.end_turn_time_2 = 45;
    header.start_gold = 150;
    header.turn_mode_2 = 1;
    header.end_type = 1;
    header.end_amount = 400;
    header.cpu_iq_2 = 3;
    header.raw_richness = 1;
    header.fuel_richness = 2;
    header.gold_richness = 0;
    header.alien_frequency = 1;
    save.players = {demo_player(1, 5, 41, 10, 12), demo_player(2, 2, 37, 80, 14),
                    demo_player(2, 7, 29, 12, 78), demo_player(2, 8, 33, 82, 80)};
}

} // namespace

save_description demo_save()
{
    save_description save = empty_save(70);
    describe_game(save);
    draw_map(save);
    number_objects(save);
    return save;
}

} // namespace orbse::save_builder
