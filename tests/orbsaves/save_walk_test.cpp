// The walk against the loader: on saves built with every feature of the
// format, every value the walk shows is the value the loader put in
// saveorec, and the walk's leaves tile the file.
#include "loaded_saves.h"
#include "orbsaves/save_walk.h"
#include "orbsaves/setting_names.h"
#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_type_table.h"
#include "sample_saves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <tuple>

namespace orbse {
namespace {

namespace sb = save_builder;

struct seen_leaf {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::int64_t number = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;
    std::string note;
};

class collected_leaves {
public:
    // Walks the save at `path`, record by record, keeping every leaf.
    walk_summary walk(const std::string& path)
    {
        save_walk walk(path);
        for (auto record = walk.next(); !record.empty(); record = walk.next()) {
            for (const field_leaf& leaf : record) {
                take(leaf);
            }
        }
        return walk.summary();
    }

    void take(const field_leaf& leaf)
    {
        order.emplace_back(leaf.offset, leaf.size);
        const std::string leaf_path = path_of(leaf);
        auto [place, fresh] = by_path.try_emplace(leaf_path);
        EXPECT_TRUE(fresh) << "two leaves share the path " << leaf_path;
        place->second = {leaf.offset, leaf.size, leaf.number, {leaf.bytes.begin(), leaf.bytes.end()},
                         {leaf.words.begin(), leaf.words.end()}, std::string(leaf.note)};
    }

    const seen_leaf& at(const std::string& path) const
    {
        static const seen_leaf missing{};
        const auto found = by_path.find(path);
        if (found == by_path.end()) {
            ADD_FAILURE() << "no leaf " << path;
            return missing;
        }
        return found->second;
    }

    std::int64_t number(const std::string& path) const { return at(path).number; }

    std::vector<std::pair<std::uint64_t, std::uint64_t>> order;
    std::map<std::string, seen_leaf> by_path;
};

template <std::size_t N>
std::vector<std::uint8_t> bytes_of(const std::array<std::uint8_t, N>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

std::string indexed(const std::string& name, std::size_t index)
{
    return name + "[" + std::to_string(index) + "]";
}

void expect_tiling(const collected_leaves& leaves, std::uint64_t file_size)
{
    std::uint64_t next = 0;
    for (const auto& [offset, size] : leaves.order) {
        ASSERT_EQ(offset, next) << "a gap or an overlap before offset " << offset;
        ASSERT_GT(size, 0u);
        next = offset + size;
    }
    EXPECT_EQ(next, file_size);
}

void expect_header(const collected_leaves& leaves, const game_header& header)
{
    const std::vector<std::pair<const char*, std::int64_t>> fields{
        {"version", header.version},         {"save_type", header.save_type},
        {"map_number", header.map_number},   {"level_number", header.level_number},
        {"save_date", header.save_date},     {"cpu_iq", header.cpu_iq},
        {"turn_time_1", header.turn_time_1}, {"end_turn_time_1", header.end_turn_time_1},
        {"turn_mode_1", header.turn_mode_1}, {"map_number_2", header.map_number_2},
        {"start_gold", header.start_gold},   {"turn_mode_2", header.turn_mode_2},
        {"end_amount", header.end_amount},   {"alien_frequency", header.alien_frequency},
    };
    if (header.version != version_69 && header.version != version_70) {
        EXPECT_EQ(leaves.number("header.version"), header.version);
        EXPECT_EQ(leaves.by_path.count("header.save_date"), 0u);
        return;
    }
    for (const auto& [name, value] : fields) {
        EXPECT_EQ(leaves.number(std::string("header.") + name), value) << name;
    }
    EXPECT_EQ(leaves.at("header.game_name").bytes, bytes_of(header.game_name));
    EXPECT_EQ(leaves.number("header.player_kinds[3]"), header.player_kinds[3]);
    EXPECT_EQ(leaves.by_path.count("header.alien_player"), header.version == version_70 ? 1u : 0u);
    // A coded setting carries its name, none when its table has no entry.
    const std::vector<std::tuple<const char*, setting, std::int32_t>> settings{
        {"save_type", setting::save_type, header.save_type},
        {"player_kinds[1]", setting::player_kind, header.player_kinds[1]},
        {"turn_mode_2", setting::turn_mode, header.turn_mode_2},
        {"end_type", setting::end_type, header.end_type},
        {"gold_richness", setting::richness, header.gold_richness},
        {"alien_frequency", setting::alien_frequency, header.alien_frequency},
    };
    for (const auto& [name, which, value] : settings) {
        EXPECT_EQ(leaves.at(std::string("header.") + name).note, setting_name(which, value, "")) << name;
    }
}

void expect_layers_and_players(const collected_leaves& leaves, const saveorec& save)
{
    for (std::size_t cell = 0; cell < save.pass_layer.size(); cell += 97) {
        const std::string place = ".row[" + std::to_string(cell / map_side) + "].column[" +
                                  std::to_string(cell % map_side) + "]";
        EXPECT_EQ(leaves.number("pass_layer" + place), save.pass_layer[cell]) << place;
        EXPECT_EQ(leaves.at("resource_layer" + place).bytes,
                  (std::vector<std::uint8_t>{save.resource_layer[2 * cell], save.resource_layer[2 * cell + 1]}));
    }
    for (std::size_t player = 0; player < save.players.size(); ++player) {
        const player_record& record = save.players[player];
        const std::string at = indexed("players", player) + ".";
        EXPECT_EQ(leaves.number(at + "clan"), record.clan);
        EXPECT_EQ(leaves.number(at + "research[2].labs"), record.research[2].labs);
        EXPECT_EQ(leaves.number(at + "research[7].now"), record.research[7].now);
        EXPECT_EQ(leaves.number(at + "score"), record.score);
        EXPECT_EQ(leaves.number(at + "buttons[10]"), record.buttons[10]);
        EXPECT_EQ(leaves.number(at + "gold_used"), record.gold_used);
        EXPECT_EQ(leaves.at(at + "loses").bytes, bytes_of(record.loses));
    }
    EXPECT_EQ(leaves.by_path.count("block40"), save.header.version == version_70 ? 1u : 0u);
    EXPECT_EQ(leaves.by_path.count("block36"), save.header.version == version_69 ? 1u : 0u);
    if (save.header.version == version_69) {
        EXPECT_EQ(leaves.at("block36").bytes, bytes_of(save.block36));
    }
}

void expect_groups(const collected_leaves& leaves, const saveorec& save)
{
    for (std::size_t player = 0; player < player_count; ++player) {
        const std::string group = indexed("groups", player) + ".";
        if (player != red) {
            EXPECT_EQ(leaves.number(group + "lead_word"), save.lead_words[player - 1]);
        }
        for (std::size_t row = 0; row < unit_type_count; ++row) {
            const std::string block = group + indexed("units_block", row) + ".";
            EXPECT_EQ(leaves.number(block + "object_number"), save.units_blocks[player][row].object_number);
            const std::string updates = group + indexed("updates", row) + ".";
            EXPECT_EQ(leaves.number(updates + "object_number"), save.units_updates[player].entries[row].object_number);
            EXPECT_EQ(leaves.by_path.count(updates + "values"), save.units_updates[player].flags[row]);
        }
        const auto& post = save.post_updates[player];
        EXPECT_EQ(leaves.number(group + "post_updates.count"), post.count);
        for (std::size_t record = 0; record < post.records.size(); ++record) {
            EXPECT_EQ(leaves.at(group + "post_updates." + indexed("records", record)).bytes, bytes_of(post.records[record]));
        }
    }
}

// The loader keeps one record per slot, the deepest level of its chain; the
// walk shows every level, so the record is compared with the deepest.
std::string deepest_level(const collected_leaves& leaves, const std::string& unit)
{
    std::string level = unit;
    for (std::size_t depth = 1; leaves.by_path.count(unit + "." + indexed("linked", depth) + ".unit_class") != 0;
         ++depth) {
        level = unit + "." + indexed("linked", depth);
    }
    return level;
}

std::string unit_type_note(const saveorec& save, std::uint16_t unit_class)
{
    const unit_type_row* row = find_unit_type(save, unit_class);
    return row == nullptr ? "no unit type"
                          : "type row " + std::to_string(row - unit_type_table.data()) + " " +
                                std::string(row->internal_name);
}

void expect_unit(const collected_leaves& leaves, const saveorec& save, const std::string& unit_path,
                 const unidefrec& unit)
{
    const std::string level = deepest_level(leaves, unit_path);
    EXPECT_EQ(leaves.number(level + ".unk5"), unit.unk5()) << level;
    EXPECT_EQ(leaves.number(level + ".selected"), unit.selected());
    EXPECT_EQ(leaves.number(level + ".path_kind"), unit.path_kind());
    EXPECT_EQ(leaves.number(level + ".unit_class"), unit.unit_class);
    EXPECT_EQ(leaves.at(level + ".unit_class").note, unit_type_note(save, unit.unit_class));
    EXPECT_EQ(leaves.number(level + ".aux_word"), unit.aux_word);
    EXPECT_EQ(leaves.number(level + ".link_ref"), unit.link_ref);
    EXPECT_EQ(leaves.number(unit_path + ".unkf1"), unit.unkf1);
    const bool linked = level != unit_path;
    EXPECT_EQ(leaves.number(unit_path + (linked ? ".word_after_link" : ".link_kind")), unit.link_kind);
    // A linked unit carries no class word of its own: the record's is the 5
    // of the link_kind that brought it.
    EXPECT_EQ(leaves.by_path.count(level + ".class_word"), linked ? 0u : 1u);
    if (!linked) {
        EXPECT_EQ(leaves.number(unit_path + ".class_word"), unit.class_word);
    } else {
        EXPECT_EQ(unit.class_word, new_linked_unit_kind);
        EXPECT_EQ(leaves.at(unit_path + ".link_kind").note.starts_with("linked unit follows"), true);
    }
    if (unit.unkf1 == 1) {
        EXPECT_EQ(leaves.number(unit_path + ".unkf1_extra"), unit.unkf1_extra);
    }
}

void expect_units(const collected_leaves& leaves, const saveorec& save)
{
    std::size_t units = 0;
    save.unit_store.for_each_slot([&](const unit_slot& slot) {
        const std::string at = "units." + indexed("lists", slot.list) + "." + indexed("slots", slot.slot);
        const seen_leaf& number = leaves.at(at + ".object_id");
        EXPECT_EQ(number.note.starts_with("unit in a slot"), slot.present()) << at;
        if (!slot.present()) {
            EXPECT_EQ(number.number, slot.object_id) << at;
        } else {
            // A chain leaves the record with the number of its deepest unit,
            // the link_ref of the level above it.
            const std::string unit = at + ".unit";
            const std::string deepest = deepest_level(leaves, unit);
            std::string above = unit;
            for (std::size_t depth = 1; deepest != unit && unit + "." + indexed("linked", depth) != deepest; ++depth) {
                above = unit + "." + indexed("linked", depth);
            }
            EXPECT_EQ(deepest == unit ? number.number : leaves.number(above + ".link_ref"), slot.object_id) << at;
            ++units;
            expect_unit(leaves, save, at + ".unit", *slot.unit);
        }
    });
    EXPECT_EQ(units, save.unit_store.units.size());
}

// Every path the walk shows has the points the record ends with, once
// the last level of a chain that brought one is taken.
void expect_last_paths(const collected_leaves& leaves, const saveorec& save)
{
    save.unit_store.for_each_slot([&](const unit_slot& slot) {
        if (!slot.present() || slot.unit->path.point_count == 0) {
            return;
        }
        const std::string unit = "units." + indexed("lists", slot.list) + "." + indexed("slots", slot.slot) + ".unit";
        std::string last = unit;
        for (std::size_t depth = 1; leaves.by_path.count(unit + "." + indexed("linked", depth) + ".unit_class"); ++depth) {
            if (leaves.by_path.count(unit + "." + indexed("linked", depth) + ".path.point_count")) {
                last = unit + "." + indexed("linked", depth);
            }
        }
        EXPECT_EQ(leaves.at(last + ".path.points").words, testing::path_points_of(save.unit_store, *slot.unit));
        EXPECT_EQ(leaves.number(last + ".path.point_count"), slot.unit->path.point_count);
    });
}

sb::unit_description linking(std::uint16_t link_ref)
{
    sb::unit_description unit;
    unit.link_ref = link_ref;
    unit.link_kind = 5;
    unit.unit_class = 17;
    return unit;
}

sb::save_description with_tail(sb::save_description save, std::size_t tail_size)
{
    save.closing_zero_size = true;
    save.tail.resize(tail_size);
    for (std::size_t at = 0; at < tail_size; ++at) {
        save.tail[at] = static_cast<std::uint8_t>(at * 7);
    }
    return save;
}

// The counter at 65,533: a unit takes 65,534, links one that takes 65,535
// after its path, and the counter wraps to 0, so the next list's number 1 is
// a new unit.
sb::save_description wrapping_save()
{
    auto save = testing::save_with_index_length(65533);
    sb::unit_description path_carrier;
    path_carrier.path_ref = 65535;
    path_carrier.path_kind = 4;
    path_carrier.path = sb::path_description{{1, 2, 3}, {5, 6}, 9};
    save.unit_lists = {{{{65534, 3, {linking(65535), path_carrier}}}}, {{{1, 4, {sb::unit_description{}}}}}};
    return with_tail(save, 3);
}

sb::save_description other_version_save()
{
    auto save = sb::empty_save(71);
    save.pass_layer[5] = 9;
    save.unit_lists = {{{sb::new_unit(1, {sb::unit_description{}}), sb::reference(3)}}};
    sb::number_units(save);
    return save;
}

struct differential_case {
    const char* name;
    sb::save_description save;
    std::uint64_t lists;
};

TEST(save_walk, shows_every_value_the_loader_keeps_and_tiles_the_file)
{
    auto header_rich = sb::stream_rich_save(69);
    header_rich.header.save_date = 0x12345678;
    header_rich.header.game_name = sb::name("Walk\xE9");
    header_rich.header.end_type = 7; // no name
    header_rich.header.gold_richness = 2;
    header_rich.players[2].clan = 4;
    header_rich.players[2].research[2].labs = -5;
    header_rich.players[1].buttons[10] = 1;
    header_rich.groups[blue].lead_word = 0x3333;
    header_rich.pass_layer[97 * 3] = 200;
    header_rich.resource_layer[2 * 97 * 5 + 1] = 77;
    const std::vector<differential_case> cases{
        {"version 70, every stream feature, ending at the file's end", sb::stream_rich_save(70), 3},
        {"version 69 with a long tail", with_tail(header_rich, 300), 3},
        {"version 71, no header and no version block", other_version_save(), 1},
        {"the counter wrapping past 65535", wrapping_save(), 2},
        {"the demo's kind of numbering with a short tail", with_tail(sb::stream_rich_save(70), 10), 3},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const sb::bytes content = sb::build_save(test.save);
        testing::temp_folder folder;
        const auto path = folder.file("walked.sav");
        testing::write_file(path, content);
        auto loaded = std::make_unique<saveorec>();
        load_save(*loaded, path);

        collected_leaves leaves;
        const walk_summary result = leaves.walk(path);
        ASSERT_FALSE(result.broken) << result.broken->path();
        expect_tiling(leaves, content.size());
        EXPECT_EQ(result.lists, test.lists);
        EXPECT_EQ(result.lists, loaded->unit_store.list_sizes.size());
        EXPECT_EQ(result.units, loaded->unit_store.units.size());
        EXPECT_EQ(result.tail_size, static_cast<std::uint64_t>(loaded->tail_size));
        EXPECT_EQ(result.version, loaded->header.version);
        expect_header(leaves, loaded->header);
        expect_layers_and_players(leaves, *loaded);
        expect_groups(leaves, *loaded);
        expect_units(leaves, *loaded);
        expect_last_paths(leaves, *loaded);
        if (loaded->tail_size > 0) {
            const seen_leaf& tail = leaves.at("tail");
            EXPECT_EQ(tail.size, static_cast<std::uint64_t>(loaded->tail_size));
            const auto kept = testing::tail_bytes(*loaded);
            // The tail's leaf carries its first piece of bytes.
            EXPECT_EQ(tail.bytes, std::vector<std::uint8_t>(kept.begin(), kept.end()));
        }
    }
}

struct break_case {
    const char* name;
    std::size_t cut;
    std::string path;
    std::uint64_t needed;
};

// A cut names the read it stopped, where that read began and what it asked for.
TEST(save_walk, a_damaged_save_breaks_at_the_read_it_cannot_finish)
{
    const sb::bytes content = sb::build_save(sb::stream_rich_save(70));
    const std::size_t groups = sb::fixed_part_size(70);
    const std::vector<break_case> cases{
        {"an empty file", 0, "header.version", 2},
        {"inside the header", 100, "header", 222},
        {"inside the resource layer", 224 + 12544 + 7, "resource_layer", 25088},
        {"inside a player record", 224 + 3 * 12544 + 565 + 1, "players[1]", 565},
        {"inside the red units_block", groups + 5, "groups[0].units_block", 2976},
    };
    testing::temp_folder folder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const auto path = folder.file("cut.sav");
        testing::write_file(path, sb::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(test.cut)));
        const walk_summary result = check_save(path);
        ASSERT_TRUE(result.broken);
        EXPECT_EQ(result.broken->code, 100);
        EXPECT_EQ(result.broken->message, "Read beyond end of file");
        EXPECT_EQ(result.broken->path(), test.path);
        EXPECT_EQ(result.broken->needed, test.needed);
        EXPECT_LE(result.broken->offset, test.cut);
        EXPECT_EQ(result.broken->left, test.cut - result.broken->offset);
    }

    // Points are read in pieces of thousands, but the inspector reads them
    // one by one: the failing read is the one point the file ends in, in
    // the first piece or a later one, on a word's border or inside it.
    auto long_path = sb::empty_save(70);
    sb::unit_description walker;
    walker.path = sb::path_description{{}, std::vector<std::uint16_t>(5000, 7), 0};
    long_path.unit_lists = {{{sb::new_unit(2, {walker})}}};
    sb::number_units(long_path);
    const sb::bytes path_content = sb::build_save(long_path);
    const auto whole = folder.file("long_path.sav");
    testing::write_file(whole, path_content);
    collected_leaves leaves;
    ASSERT_FALSE(leaves.walk(whole).broken);
    const std::uint64_t points = leaves.at("units.lists[0].slots[0].unit.path.points").offset;
    for (const std::uint64_t into : {0, 1, 2, 3, 4095, 4096, 4097, 9998}) {
        SCOPED_TRACE(into);
        const auto path = folder.file("cut.sav");
        testing::write_file(path, sb::bytes(path_content.begin(), path_content.begin() + static_cast<std::ptrdiff_t>(points + into)));
        const walk_summary result = check_save(path);
        ASSERT_TRUE(result.broken);
        EXPECT_EQ(result.broken->path(), "units.lists[0].slots[0].unit.path.points");
        EXPECT_EQ(result.broken->offset, points + into - into % 2);
        EXPECT_EQ(result.broken->needed, 2u);
        EXPECT_EQ(result.broken->left, into % 2);
    }
}


struct seen_from {
    std::string path;
    std::uint64_t offset;
    std::uint64_t size;
    std::int64_t number;
    std::string note;
    bool operator==(const seen_from&) const = default;
};

// The leaves of the walk of `path` that end at `from` or later; and whether
// offset() named, before each record, where it begins.
std::vector<seen_from> leaves_from(const std::string& path, std::uint64_t from, bool& offsets_right)
{
    save_walk walk(path);
    walk.leaves_from(from);
    std::vector<seen_from> seen;
    for (std::uint64_t next = walk.offset();; next = walk.offset()) {
        const auto record = walk.next();
        if (record.empty()) {
            return seen;
        }
        offsets_right = offsets_right && (from > 0 || record[0].offset == next);
        for (const field_leaf& leaf : record) {
            seen.push_back({path_of(leaf), leaf.offset, leaf.size, leaf.number, std::string(leaf.note)});
        }
    }
}

std::uint64_t offset_of(const std::vector<seen_from>& leaves, const std::string& path)
{
    const auto found = std::ranges::find(leaves, path, &seen_from::path);
    EXPECT_NE(found, leaves.end()) << path;
    return found == leaves.end() ? 0 : found->offset;
}

// A walk told to hand out leaves from an offset on hands out exactly the
// leaves of the whole walk that end there or later, wherever the offset
// falls: in a layer's row, in a run of references taken in one sweep, in a
// unit's data or points, on the tail.
// Every feature of the stream, a tail of 20 bytes, and before them a list of
// 700 references, which the walk takes in sweeps.
sb::save_description with_reference_list()
{
    auto save = with_tail(sb::stream_rich_save(70), 20);
    std::vector<sb::slot_description> references;
    for (std::uint16_t slot = 0; slot < 700; ++slot) {
        references.push_back(sb::reference(static_cast<std::uint16_t>(1 + slot % 300)));
    }
    save.unit_lists.insert(save.unit_lists.begin(), sb::unit_list_description{references});
    sb::number_units(save);
    return save;
}

TEST(save_walk, leaves_from_an_offset_are_the_whole_walks_that_end_there_or_later)
{
    const sb::bytes content = sb::build_save(with_reference_list());
    testing::temp_folder folder;
    const auto path = folder.file("walked.sav");
    testing::write_file(path, content);
    bool offsets_right = true;
    const auto whole = leaves_from(path, 0, offsets_right);
    EXPECT_TRUE(offsets_right) << "offset() is not where the next record begins";
    const std::uint64_t references_start = offset_of(whole, "units.lists[0].slots[0].object_id");
    const std::uint64_t unit_data = offset_of(whole, "units.lists[1].slots[0].unit.unit_data@44");
    const std::uint64_t points = offset_of(whole, "units.lists[1].slots[0].unit.path.points");
    for (const std::uint64_t from : {std::uint64_t{1}, offset_of(whole, "pass_layer.row[5].column[3]"),
                                     offset_of(whole, "resource_layer.row[1].column[0]"), references_start + 1,
                                     references_start + 2, references_start + 2 * 300, references_start + 1400,
                                     unit_data + 7, points + 3, offset_of(whole, "tail") + 1, std::uint64_t{content.size()}}) {
        SCOPED_TRACE(from);
        std::vector<seen_from> expected;
        std::copy_if(whole.begin(), whole.end(), std::back_inserter(expected),
                     [&](const seen_from& leaf) { return leaf.offset + leaf.size >= from; });
        EXPECT_EQ(leaves_from(path, from, offsets_right), expected);
    }
}

// The leaves a walk told of destinations hands out are those of the whole
// walk whose place holds one of them or is one, by the plain rule on the
// paths' text: the destination is the place's path, or goes on from it
// after a dot. Every leaf's path reads back as its place and name.
TEST(save_walk, leaves_on_the_way_to_paths_are_the_whole_walks_there)
{
    testing::temp_folder folder;
    const auto path = folder.file("walked.sav");
    testing::write_file(path, sb::build_save(with_reference_list()));

    struct placed_leaf {
        std::string path;
        std::string place; // the path of the parts it lies in
        bool operator==(const placed_leaf&) const = default;
    };
    const auto walk_to = [&path](const std::vector<std::string>& destinations) {
        save_walk walk(path);
        std::vector<leaf_place> places;
        for (const auto& destination : destinations) {
            if (const auto place = place_of_path(destination)) {
                places.push_back(*place);
            }
        }
        walk.leaves_on_the_way_to(std::move(places));
        std::vector<placed_leaf> seen;
        for (auto record = walk.next(); !record.empty(); record = walk.next()) {
            for (const field_leaf& leaf : record) {
                seen.push_back({path_of(leaf), path_of(leaf.place.view())});
                const auto read_back = place_of_path(seen.back().path);
                leaf_place named = leaf.place;
                if (!leaf.name.empty()) {
                    named.parts[named.depth++] = {leaf.name, -1};
                }
                EXPECT_TRUE(read_back && std::ranges::equal(read_back->view(), named.view())) << seen.back().path;
            }
        }
        EXPECT_FALSE(walk.summary().broken);
        return seen;
    };
    const auto whole = walk_to({});
    const std::vector<std::vector<std::string>> destination_sets{
        {"header.start_gold"},
        {"header.player_names[2]"},
        {"pass_layer.row[5].column[3]"},
        {"resource_layer.row[111].column[111]", "players[2].research[1].labs"},
        {"units.lists[0].slots[350].object_id"},
        {"units.lists[1].size", "tail"},
        {"units.lists[1].slots[0].unit.path.points"},
        {"units.lists[1].slots[0].unit.unit_data@44"},
        {"no.such[3].field"},
    };
    for (const auto& destinations : destination_sets) {
        SCOPED_TRACE(destinations.front());
        std::vector<placed_leaf> expected;
        std::ranges::copy_if(whole, std::back_inserter(expected), [&](const placed_leaf& leaf) {
            return std::ranges::any_of(destinations, [&](const std::string& destination) {
                return leaf.place.empty() || destination == leaf.place || destination.starts_with(leaf.place + ".");
            });
        });
        const auto seen = walk_to(destinations);
        EXPECT_EQ(seen, expected);
        EXPECT_LT(seen.size(), whole.size() / 10);
    }
}

TEST(save_walk, texts_that_are_no_path_have_no_place)
{
    for (const std::string_view text : {"", ".", "header.", ".header", "a..b", "a[", "a[]", "a[x]", "a[-1]", "[3]",
                                        "a]b", "a[1]b", "a.b.c.d.e.f.g.h.i"}) {
        EXPECT_FALSE(place_of_path(text)) << text;
    }
    const auto place = place_of_path("units.lists[12].slots[0].unit.linked[3].unkf1");
    ASSERT_TRUE(place);
    EXPECT_EQ(path_of(place->view()), "units.lists[12].slots[0].unit.linked[3].unkf1");
    EXPECT_EQ(place->depth, 6u);
    EXPECT_EQ(place->parts[3].index, -1);
    EXPECT_EQ(place->parts[4].index, 3);
}

// Saves whose chains of linked units differ in depth are aligned by the
// order of their leaves' places, which must be the file's order: within a
// slot, where the level of the chain changes or a level's closing words
// begin, the place before comes before the next one, the words that close
// a level (read after every deeper level) too.
TEST(save_walk, levels_of_a_chain_are_placed_in_the_order_of_the_file)
{
    auto save = sb::stream_rich_save(70);
    sb::number_units(save);
    testing::temp_folder folder;
    const auto path = folder.file("a.sav");
    testing::write_file(path, sb::build_save(save));
    save_walk walk(path);
    struct seen_leaf {
        leaf_place place;
        std::uint64_t level = 0;
        bool closes = false;
    };
    std::optional<seen_leaf> previous;
    std::size_t ordered = 0;
    std::size_t closed_after_deeper = 0;
    for (auto record = walk.next(); !record.empty(); record = walk.next()) {
        for (const field_leaf& leaf : record) {
            const seen_leaf current{alignment_place_of(leaf), leaf.chain_level, leaf.closes_level};
            const std::size_t slot = slot_part_of(current.place.view());
            if (previous && slot != 0 && shared_length(current.place.view(), previous->place.view()) > slot &&
                (current.level != previous->level || current.closes != previous->closes)) {
                SCOPED_TRACE(path_of(leaf));
                EXPECT_EQ(order_of_places(previous->place.view(), current.place.view()), place_order::before);
                EXPECT_EQ(order_of_places(current.place.view(), previous->place.view()), place_order::after);
                ++ordered;
                closed_after_deeper += current.closes && current.level < previous->level ? 1 : 0;
            }
            previous = current;
        }
    }
    EXPECT_GE(ordered, 6U);
    EXPECT_GE(closed_after_deeper, 2U); // the chain of three levels closes two of them after a deeper one
}

// Two walks read on alike where the same bytes ahead would give both the same
// leaves: between the fixed part's records of one version, between records of
// the stream of one numbering, inside a unit at one level of its chain; never
// where the numbering, the level or the version differs.
TEST(save_walk, walks_read_on_alike_where_only_the_bytes_ahead_decide)
{
    const auto save = sb::stream_rich_save(70);
    auto one_unit_more = save;
    one_unit_more.unit_lists[0].slots.insert(one_unit_more.unit_lists[0].slots.begin(), sb::new_unit(1, {sb::unit_description{}}));
    auto version_69 = save;
    version_69.header.version = 69;
    auto chain_deeper = save;
    chain_deeper.unit_lists[0].slots[0].chain.push_back(sb::unit_description{});
    auto record_more = save;
    record_more.groups[red].post_updates.push_back(post_update_record{});
    testing::temp_folder folder;
    const auto file_of = [&](sb::save_description description, const std::string& name) {
        sb::number_units(description);
        const auto path = folder.file(name);
        testing::write_file(path, sb::build_save(description));
        return path;
    };
    const auto first = file_of(save, "a.sav");
    const auto other_version = file_of(version_69, "b.sav");
    const auto unit_more = file_of(one_unit_more, "c.sav");
    const auto groups_longer = file_of(record_more, "d.sav");
    const auto deeper = file_of(chain_deeper, "e.sav");
    struct case_ {
        const char* name;
        std::string other;
        std::string at; // both walks go to the first record that begins at this leaf or after it
        bool alike;
        std::string their_at = {}; // the other walk's, where it is another leaf
    };
    const std::vector<case_> cases{
        {"two walks of one save at its start", first, "header.version", true},
        {"one save, inside the pass layer", first, "pass_layer.row[5].column[0]", true},
        {"one save, inside a unit", first, "units.lists[0].slots[0].unit.unit_class", true},
        {"one save, at the unit's last word", first, "units.lists[0].slots[0].unit.unkf1", true},
        {"a linked unit more: at the same step of another level", deeper, "units.lists[0].slots[0].unit.unkf1", false,
         "units.lists[0].slots[0].unit.linked[1].unkf1"},
        {"another version, before its header", other_version, "header.version", true},
        {"another version, after its header", other_version, "pass_layer.row[0].column[0]", false},
        {"a unit more ahead, between the groups", unit_more, "groups[2].lead_word", true},
        {"a unit more behind: the counter differs", unit_more, "units.lists[1].slots[0].object_id", false},
        {"a post-update record more behind: the numbering will start later", groups_longer, "groups[1].lead_word", false},
    };
    bool offsets_right = true;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        save_walk mine(first);
        save_walk theirs(test.other);
        const std::uint64_t my_target = offset_of(leaves_from(first, 0, offsets_right), test.at);
        const std::uint64_t their_target =
            offset_of(leaves_from(test.other, 0, offsets_right), test.their_at.empty() ? test.at : test.their_at);
        while (mine.offset() < my_target && !mine.next().empty()) {
        }
        while (theirs.offset() < their_target && !theirs.next().empty()) {
        }
        EXPECT_EQ(mine.reads_on_like(theirs), test.alike);
    }
}

} // namespace
} // namespace orbse
