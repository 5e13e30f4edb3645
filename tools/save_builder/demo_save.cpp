#include "demo_save.h"

#include <array>
#include <cmath>
#include <vector>

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

// A few objects of the per-player groups that the game has updated since
// the start, and a few post-update records.
void describe_groups(save_description& save)
{
    save.groups[red].updates = {{51, 0, {}}, {61, 0, {}}};
    save.groups[blue].updates = {{25, 0, {}}};
    save.groups[green].post_updates.resize(2);
    save.groups[gray].post_updates.resize(1);
    for (int player = green; player < player_count; ++player) {
        save.groups[player].lead_word = static_cast<std::uint16_t>(player);
    }
}

// Unit type rows the demo's units are drawn from.
constexpr int row_gun_turret = 34;
constexpr int row_mining = 40;
constexpr int row_constructor = 49;
constexpr int row_tank = 51;
constexpr int row_engineer = 61;
constexpr int row_infantry = 67;
constexpr int row_sea_transport = 72;
constexpr int row_air_transport = 78;
constexpr int row_awac = 79;

constexpr std::array<int, 10> building_rows{0, 1, 3, 5, 6, 9, 12, 21, row_gun_turret, row_mining};
constexpr std::array<int, 12> vehicle_rows{row_constructor, 50, row_tank, 52, 53, 55, 57, 59, 62, 63, 70, 76};

constexpr int units_per_player = 500;
constexpr int selection_size = 24;

struct player_start {
    int column;
    int row;
};

constexpr std::array<player_start, player_count> player_starts{{{12, 14}, {92, 16}, {14, 90}, {94, 92}}};

// The unit_class that names type `row` (0 to 91) for `player`: the number
// of the object at that row of the player's block, which is its position
// in the index plus one.
std::uint16_t unit_class_of(const save_description& save, int player, int row)
{
    std::size_t block_start = 0;
    for (int before = red; before < player; ++before) {
        const group_description& group = save.groups[before];
        block_start += unit_type_count + group.updates.size() + group.post_updates.size();
    }
    return static_cast<std::uint16_t>(block_start + static_cast<std::size_t>(row) + 1);
}

std::uint16_t cell_number(int column, int row)
{
    return static_cast<std::uint16_t>(row * map_side + column);
}

// A path from a unit's cell, one step at a time towards a goal.
path_description walk(scatter& random, int column, int row)
{
    path_description path;
    path.header_words = {static_cast<std::uint16_t>(random.next() % 4), 0, 1};
    const int goal_column = static_cast<int>(random.next() % map_side);
    const int goal_row = static_cast<int>(random.next() % map_side);
    const int steps = 3 + static_cast<int>(random.next() % 20);
    for (int step = 0; step < steps && (column != goal_column || row != goal_row); ++step) {
        column += (goal_column > column) - (goal_column < column);
        row += (goal_row > row) - (goal_row < row);
        path.points.push_back(cell_number(column, row));
    }
    return path;
}

unit_description demo_unit(const save_description& save, scatter& random, int player, int row)
{
    unit_description unit;
    unit.unit_class = unit_class_of(save, player, row);
    unit.speed_now = static_cast<std::uint16_t>(random.next() % 12);
    unit.unk1 = static_cast<std::uint16_t>(random.next() % 100);
    unit.unk2 = static_cast<std::uint16_t>(random.next() % 3);
    unit.unk3 = static_cast<std::uint8_t>(player);
    unit.unk5 = static_cast<std::uint16_t>(random.next() % 40);
    unit.unk8 = static_cast<std::uint16_t>(random.next() % 1000);
    const std::uint32_t flag_roll = random.next() % 10;
    unit.unkf1 = static_cast<std::uint16_t>(flag_roll < 7 ? 0 : flag_roll < 9 ? 1 : 2);
    if (unit.unkf1 == 1) {
        unit.unkf1_extra = static_cast<std::uint16_t>(random.next() % 500);
    }
    return unit;
}

// A transport with what it carries: a chain of linked units, sometimes two
// deep (an air transport carrying an engineer who carries infantry).
std::vector<unit_description> transport_chain(const save_description& save, scatter& random, int player)
{
    const bool by_air = random.next() % 2 == 0;
    std::vector<unit_description> chain{
        demo_unit(save, random, player, by_air ? row_air_transport : row_sea_transport)};
    chain.push_back(demo_unit(save, random, player, by_air ? row_engineer : row_infantry));
    if (by_air && random.next() % 3 == 0) {
        chain.push_back(demo_unit(save, random, player, row_infantry));
    }
    for (auto& unit : chain) {
        unit.word_after_link = static_cast<std::uint16_t>(random.next() % 4);
    }
    return chain;
}

unit_list_description player_units(const save_description& save, scatter& random, int player)
{
    unit_list_description list;
    const player_start start = player_starts[player];
    for (int index = 0; index < units_per_player; ++index) {
        const std::uint32_t kind = random.next() % 20;
        if (kind == 0) {
            // A unit that stands on one of the groups' objects: a reference.
            list.slots.push_back(reference(static_cast<std::uint16_t>(1 + random.next() % 372)));
        } else if (kind < 3) {
            list.slots.push_back(new_unit(1, transport_chain(save, random, player)));
        } else if (kind < 10) {
            const int row = building_rows[random.next() % building_rows.size()];
            list.slots.push_back(new_unit(2, {demo_unit(save, random, player, row)}));
        } else {
            const int row = vehicle_rows[random.next() % vehicle_rows.size()];
            unit_description unit = demo_unit(save, random, player, row);
            if (kind < 16) {
                unit.path = walk(random, start.column + static_cast<int>(random.next() % 8),
                                 start.row + static_cast<int>(random.next() % 8));
            }
            list.slots.push_back(new_unit(1, {unit}));
        }
    }
    // The player's first unit is the one selected on screen.
    list.slots.front().chain.front().selected = 1;
    return list;
}

// A list that only names units listed before it: a player's selection group.
unit_list_description selection_of(const unit_list_description& units)
{
    unit_list_description selection;
    for (const auto& slot : units.slots) {
        if (!slot.chain.empty() && selection.slots.size() < selection_size) {
            selection.slots.push_back(reference(slot.object_number));
        }
    }
    return selection;
}

void describe_units(save_description& save)
{
    scatter random;
    random.state = 0x2545F491u;
    for (int player = red; player < player_count; ++player) {
        save.unit_lists.push_back(player_units(save, random, player));
    }
    unit_description scout = demo_unit(save, random, red, row_awac);
    save.unit_lists.push_back({{new_unit(1, {scout})}});
    number_units(save);
    // References take no numbers, so the selections slot in after numbering.
    for (int player = player_count - 1; player >= red; --player) {
        const auto after_units = save.unit_lists.begin() + player + 1;
        save.unit_lists.insert(after_units, selection_of(save.unit_lists[static_cast<std::size_t>(player)]));
    }
    save.tail = {0x44, 0x45, 0x4D, 0x4F, 0x00, 0x01, 0x02, 0x03, 0xFF, 0xFE};
}

} // namespace

save_description demo_save()
{
    save_description save = empty_save(70);
    describe_game(save);
    draw_map(save);
    describe_groups(save);
    number_objects(save);
    describe_units(save);
    return save;
}

} // namespace orbse::save_builder
