// orbse-fields diff held to the plain comparison of the test support, which
// predicts every line it writes, in order, on saves made up from fixed seeds
// and changed by each kind of change. diff runs as the program a user runs:
// its exit code and its message for a damaged save are part of its answer.
#include "sample_saves.h"
#include "support/plain_diff.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>

namespace orbse {
namespace {

namespace sb = save_builder;
using chain = std::vector<sb::unit_description>;

struct dice : sb::scatter {
    explicit dice(std::uint32_t seed) { state += seed; }
    std::size_t below(std::size_t bound) { return next() % bound; }
    template <typename number>
    void raise(number& value) { value = static_cast<number>(value + 1 + below(200)); }
    void flip(std::uint8_t& byte) { byte = static_cast<std::uint8_t>(byte ^ (1 + below(255))); }
};

// The chain of units of one of the slots that hold one and whose chain
// `fits`; null when none does.
chain* some_chain(sb::save_description& save, dice& roll, const std::function<bool(const chain&)>& fits = {})
{
    std::vector<chain*> fitting;
    for (auto& list : save.unit_lists) {
        for (auto& slot : list.slots) {
            if (!slot.chain.empty() && (!fits || fits(slot.chain))) {
                fitting.push_back(&slot.chain);
            }
        }
    }
    return fitting.empty() ? nullptr : fitting[roll.below(fitting.size())];
}

sb::unit_description& some_unit(sb::save_description& save, dice& roll)
{
    auto& units = *some_chain(save, roll);
    return units[roll.below(units.size())];
}

void insert_somewhere(sb::save_description& save, dice& roll, sb::slot_description slot)
{
    auto& slots = save.unit_lists[roll.below(save.unit_lists.size())].slots;
    slots.insert(slots.begin() + static_cast<std::ptrdiff_t>(roll.below(slots.size() + 1)), std::move(slot));
}

// The save builder's save with every feature of the stream, a few of its
// units again elsewhere, and its stream ended by the file, closed by its size
// of 0, or closed and followed by a tail.
sb::save_description made_up_save(dice& roll)
{
    auto save = sb::stream_rich_save(70);
    for (std::size_t more = roll.below(4); more > 0; --more) {
        insert_somewhere(save, roll, sb::new_unit(1, *some_chain(save, roll)));
        roll.raise(some_unit(save, roll).unk5);
    }
    save.closing_zero_size = roll.below(3) != 0;
    save.tail.resize(save.closing_zero_size ? roll.below(6) : 0, static_cast<std::uint8_t>(roll.below(256)));
    return save;
}

using change = std::function<void(sb::save_description&, dice&)>;

const change header_field = [](auto& save, dice& roll) {
    switch (roll.below(5)) {
    case 0: roll.raise(save.header.save_date); break;
    case 1: roll.raise(save.header.start_gold); break;
    case 2: save.header.game_name[roll.below(12)] = static_cast<std::uint8_t>('A' + roll.below(26)); break;
    case 3: roll.flip(save.header.reserved[roll.below(5)]); break;
    default: roll.raise(save.header.turn_time_1);
    }
};

const change player_field = [](auto& save, dice& roll) {
    auto& player = save.players[roll.below(4)];
    switch (roll.below(4)) {
    case 0: roll.raise(player.research[roll.below(8)].labs); break;
    case 1: roll.raise(player.clan); break;
    case 2: roll.flip(player.unkarr1[roll.below(93)]); break;
    default: // a run of bytes anywhere in the 176 of `loses`, past the 64 the listing shows too
        const auto from = player.loses.begin() + static_cast<std::ptrdiff_t>(roll.below(170));
        std::for_each_n(from, 1 + roll.below(6), [](auto& byte) { byte ^= 0x5A; });
    }
};

const change layer_cell = [](auto& save, dice& roll) {
    roll.below(2) == 0 ? roll.raise(save.pass_layer[roll.below(map_cell_count)]) : roll.raise(save.resource_layer[roll.below(map_cell_count * 2)]);
};

const change unit_field = [](auto& save, dice& roll) {
    using unit = sb::unit_description;
    static constexpr std::array fields{&unit::selected, &unit::unk5, &unit::unk8, &unit::speed_now, &unit::unit_class};
    auto& changed = some_unit(save, roll);
    roll.raise(changed.*fields[roll.below(fields.size())]);
};

// Bytes of the stretches nothing interprets, which lie at 4, 44, 104 and 122
// of the unit object: data[0..38), [40..96), [100..108) and [118..140).
const change unit_data_bytes = [](auto& save, dice& roll) {
    static constexpr std::array<std::pair<std::size_t, std::size_t>, 4> stretches{{{0, 38}, {40, 96}, {100, 108}, {118, 140}}};
    auto& data = some_unit(save, roll).data;
    const auto [from, to] = stretches[roll.below(4)];
    const std::size_t first = from + roll.below(to - from);
    std::for_each(data.begin() + first, data.begin() + std::min(to, first + 1 + roll.below(4)), [&](auto& byte) { roll.flip(byte); });
};

struct kind {
    const char* name;
    change prepare; // the first save as well (may be empty)
    change changed; // each further save: the one before it, changed once more
    enum { whole, last_cut, first_cut } cut = whole;
};

// The lines that say where the numbering shifts, which the plain comparison
// does not know, taken out of `written`: each must follow the line of the
// record it names as held alone.
std::size_t take_numbering_lines(std::vector<std::string>& written)
{
    std::size_t taken = 0;
    for (std::size_t at = 1; at < written.size();) {
        const auto says = written[at].find(" numbering shifts after it: ");
        if (says == std::string::npos) {
            ++at;
            continue;
        }
        const std::string record = written[at].substr(0, says);
        EXPECT_TRUE(written[at - 1].starts_with(record + " only in save")) << written[at - 1] << "\n" << written[at];
        written.erase(written.begin() + static_cast<std::ptrdiff_t>(at));
        ++taken;
    }
    return taken;
}

// Holds `orbse-fields diff` on the saves to the plain comparison of their
// leaves: its lines, its exit code and its message for a damaged save; and
// `numbering` lines more where the saves' numbering shifts.
void compare_with_plain(const std::vector<std::string>& arguments, const std::vector<const testing::plain_save*>& saves,
                        std::size_t numbering = 0)
{
    const auto expected = testing::lines_of(testing::plain_diff(saves));
    ASSERT_FALSE(expected.empty()); // every kind changes something
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
    EXPECT_EQ(result.exit_code, 1) << result.standard_error;
    const bool damaged = std::ranges::any_of(saves, [](const auto* save) { return !save->broken.empty(); });
    EXPECT_EQ(result.standard_error.find(": damaged save: ") != std::string::npos, damaged) << result.standard_error;
    auto written = testing::lines_of(result.standard_output);
    ASSERT_FALSE(written.empty());
    EXPECT_TRUE(written[0].starts_with("# saves: 1 ")) << written[0];
    written.erase(written.begin()); // the saves' names
    EXPECT_EQ(take_numbering_lines(written), numbering);
    const auto [line, expected_line] = std::ranges::mismatch(written, expected);
    EXPECT_TRUE(line == written.end() && expected_line == expected.end())
        << written.size() << " lines written, " << expected.size() << " expected; line " << (line - written.begin()) + 1
        << "\n  written:  " << (line == written.end() ? "(none)" : *line)
        << "\n  expected: " << (expected_line == expected.end() ? "(none)" : *expected_line);
}

// For each seed three saves: the made-up one, that one changed, and that one
// changed again (a save cut short as the kind says: two cuts in three inside
// the unit stream or the tail, the others anywhere after the version word).
// The first is compared with each of the others, then the three as a series.
void compare_kinds(const std::vector<kind>& kinds, std::uint32_t seeds = 1)
{
    for (std::uint32_t index = 0; index < kinds.size(); ++index) {
        for (std::uint32_t seed = 10 * index + 1; seed <= 10 * index + seeds; ++seed) {
            const kind& test = kinds[index];
            SCOPED_TRACE(std::string(test.name) + ", seed " + std::to_string(seed));
            dice roll(seed);
            auto description = made_up_save(roll);
            if (test.prepare) {
                test.prepare(description, roll);
            }
            const testing::temp_folder folder;
            std::vector<std::string> files;
            std::vector<testing::plain_save> saves;
            for (std::size_t save = 0; save < 3; ++save) {
                if (save > 0) {
                    test.changed(description, roll);
                }
                auto numbered = description;
                sb::number_units(numbered);
                auto content = sb::build_save(numbered);
                numbered.unit_lists.clear();
                numbered.closing_zero_size = false;
                numbered.tail.clear();
                const std::size_t from = roll.below(3) != 0 ? sb::build_save(numbered).size() : 2;
                const bool cut = (save == 0 && test.cut == kind::first_cut) || (save == 2 && test.cut == kind::last_cut);
                content.resize(cut ? from + roll.below(content.size() - from) : content.size());
                files.push_back(folder.file("save" + std::to_string(save + 1) + ".sav"));
                sb::write_file(files.back(), content);
                saves.push_back(testing::plain_walk(files.back()));
            }
            for (const auto& set : {std::vector<std::size_t>{0, 1}, {0, 2}, {0, 1, 2}}) {
                std::vector<std::string> arguments{"diff"};
                std::vector<const testing::plain_save*> compared;
                for (const std::size_t save : set) {
                    arguments.push_back(files[save]);
                    compared.push_back(&saves[save]);
                }
                SCOPED_TRACE(arguments.back());
                compare_with_plain(arguments, compared);
            }
        }
    }
}

// Over four seeds, three saves: one made up, that one `changed`, and that
// one changed again; diff of the first against the second and against the
// third, each run handed to `check` with the number of changes (1, 2) and
// the files.
void diff_saves_changed_in_turn(
    const change& changed,
    const std::function<void(std::size_t changes, const std::vector<std::string>& files, const testing::program_result& result)>& check)
{
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        dice roll(seed);
        auto description = made_up_save(roll);
        const testing::temp_folder folder;
        std::vector<std::string> files;
        for (std::size_t save = 0; save < 3; ++save) {
            if (save > 0) {
                changed(description, roll);
            }
            auto numbered = description;
            sb::number_units(numbered);
            files.push_back(folder.file("save" + std::to_string(save + 1) + ".sav"));
            sb::write_file(files.back(), sb::build_save(numbered));
        }
        for (const std::size_t changes : {1, 2}) {
            const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", files[0], files[changes]});
            EXPECT_EQ(result.exit_code, 1) << result.standard_error;
            check(changes, files, result);
        }
    }
}

TEST(fields_diff_against_plain, values_and_bytes_that_differ)
{
    compare_kinds({
        {"a header field", {}, header_field},
        {"a player field", {}, player_field},
        {"a layer cell", {}, layer_cell},
        {"a unit field", {}, unit_field},
        {"bytes of unit data", {}, unit_data_bytes},
        // A tail needs the stream closed by its size of 0; one of more than
        // 64 KB comes in more than one piece. Each save changes a byte and
        // has up to a hundred more (more than a line shows of a run).
        {"tail bytes",
         [](auto& save, dice&) {
             save.closing_zero_size = true;
             save.tail.resize(65540, 0xA5);
         },
         [](auto& save, dice& roll) {
             roll.flip(save.tail[roll.below(save.tail.size())]);
             save.tail.resize(save.tail.size() + 1 + roll.below(100), 0x3C);
         }},
    });
}

// A list added is left to fields_diff_test and the fuzzer: the saves made up
// here all end their streams alike.
TEST(fields_diff_against_plain, records_one_save_holds_and_another_lacks)
{
    const auto has_points = [](const chain& units) { return units[0].path && !units[0].path->points.empty(); };
    const auto pointless = [](const chain& units) { return units[0].path && units[0].path->points.empty(); };
    compare_kinds({
        {"a path made longer", {},
         [&](auto& save, dice& roll) {
             auto& points = (*some_chain(save, roll, has_points))[0].path->points;
             points.resize(points.size() + 1 + roll.below(3), 99);
         }},
        // The points are a record that the save whose path has none lacks.
        {"a path without points given some", {},
         [&](auto& save, dice& roll) {
             if (auto* units = some_chain(save, roll, pointless)) {
                 (*units)[0].path->points.assign(1 + roll.below(3), 17);
             }
         }},
        {"version 69 against 70", {},
         [](auto& save, dice& roll) {
             roll.flip(save.version_69_byte);
             save.header.version = 69;
         }},
        // unkf1 1 brings the word unkf1_extra.
        {"a unit's unkf1 from 0 to 1", {},
         [](auto& save, dice& roll) {
             if (auto* units = some_chain(save, roll, [](const chain& units) { return units[0].unkf1 == 0; })) {
                 (*units)[0].unkf1 = 1;
                 (*units)[0].unkf1_extra = static_cast<std::uint16_t>(roll.below(1000));
             }
         }},
        // The word after the linked unit and the unkf1 of the unit that links
        // it are still compared after the linked unit's extra word.
        {"an unkf1_extra that only a linked unit has", {},
         [](auto& save, dice& roll) {
             if (auto* units = some_chain(save, roll, [](const chain& units) { return units.size() > 1 && units[1].unkf1 == 0; })) {
                 (*units)[1].unkf1 = 1;
                 (*units)[1].unkf1_extra = static_cast<std::uint16_t>(roll.below(1000));
                 roll.raise((*units)[0].word_after_link);
                 (*units)[0].unkf1 = (*units)[0].unkf1 == 1 ? 1 : static_cast<std::uint16_t>(2 + roll.below(9));
             }
         }},
        // Deeper in a chain the walk comes back to a level of the same name.
        {"an unkf1_extra that only a second linked unit has",
         [](auto& save, dice& roll) {
             for (auto* units = some_chain(save, roll, [](const chain& units) { return units.size() > 2; }); units != nullptr; units = nullptr) {
                 (*units)[2].unkf1 = 0;
                 (*units)[2].unkf1_extra.reset();
             }
         },
         [](auto& save, dice& roll) {
             if (auto* units = some_chain(save, roll, [](const chain& units) { return units.size() > 2 && units[2].unkf1 == 0; })) {
                 (*units)[2].unkf1 = 1;
                 (*units)[2].unkf1_extra = static_cast<std::uint16_t>(roll.below(1000));
                 roll.raise((*units)[1].word_after_link);
             }
         }},
    });
}

// Slots added to or removed from a list are where diff does not go by
// paths: the list's slots are aligned by what they hold, so that each slot
// a save holds alone is one line, and the slots around it, the same units,
// differ in nothing. The saves say no more: the size of the list, the slot
// named with what it holds, and where the numbering shifts.
TEST(fields_diff_against_plain, slots_added_or_removed_are_named_once_each)
{
    const change unit_added = [](auto& save, dice& roll) { insert_somewhere(save, roll, sb::new_unit(2, *some_chain(save, roll))); };
    // Never a list's last slot: a list of no slots would end the stream.
    const change unit_removed = [](auto& save, dice& roll) {
        for (auto& list : save.unit_lists) {
            const auto unit = [](const auto& slot) { return !slot.chain.empty(); };
            if (list.slots.size() > 1 && std::ranges::any_of(list.slots, unit)) {
                const auto gone = std::find_if(list.slots.begin() + static_cast<std::ptrdiff_t>(roll.below(list.slots.size())), list.slots.end(), unit);
                list.slots.erase(gone != list.slots.end() ? gone : std::ranges::find_if(list.slots, unit));
                return;
            }
        }
    };
    const change reference_added = [](auto& save, dice& roll) {
        insert_somewhere(save, roll, sb::reference(static_cast<std::uint16_t>(1 + roll.below(372))));
    };
    struct slot_kind {
        const char* name;
        change changed;
        std::string named; // what the line of each slot changed says
    };
    for (const auto& test : {slot_kind{"a unit added", unit_added, " only in save 2: unit, "},
                             slot_kind{"a unit removed", unit_removed, " only in save 1: unit, "},
                             slot_kind{"a reference added", reference_added, " only in save 2: reference to object "}}) {
        SCOPED_TRACE(test.name);
        diff_saves_changed_in_turn(test.changed, [&](std::size_t changes, const auto& files, const auto& result) {
            auto lines = testing::lines_of(result.standard_output);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0], "# saves: 1 " + files[0] + ", 2 " + files[changes]);
            lines.erase(lines.begin());
            std::size_t named = 0;
            for (const auto& line : lines) {
                const bool size = line.starts_with("units.lists[") && line.find("].size ") != std::string::npos;
                const bool shift = line.find(" numbering shifts after it: 0 ") != std::string::npos;
                named += line.find(test.named) != std::string::npos ? 1 : 0;
                EXPECT_TRUE(size || shift || line.find(test.named) != std::string::npos) << line;
            }
            EXPECT_EQ(named, changes) << result.standard_output;
        });
    }
}

// A chain of another depth is where diff does not go by paths either: the
// first level that some saves lack is named once, with the deeper levels and
// the words that close them, and the number each linked unit took moves the
// later numbers, which diff follows. The saves say no more: the marks of the
// level above that link the unit, the level named, and where the numbering
// shifts. Each further save changes one more chain.
TEST(fields_diff_against_plain, chains_of_linked_units_of_another_depth_are_named_once)
{
    const change deeper = [](auto& save, dice& roll) {
        auto& units = *some_chain(save, roll);
        units.push_back(units.back());
    };
    const change shorter = [](auto& save, dice& roll) {
        if (auto* units = some_chain(save, roll, [](const chain& units) { return units.size() > 1; })) {
            units->pop_back();
            units->back().link_kind = units->back().link_ref = 0; // links none now
        }
    };
    struct chain_kind {
        const char* name;
        change changed;
        std::string named; // what the line of each level named says
    };
    for (const auto& test : {chain_kind{"a chain one level deeper", deeper, " only in save 2"},
                             chain_kind{"a chain one level shorter", shorter, " only in save 1"}}) {
        SCOPED_TRACE(test.name);
        diff_saves_changed_in_turn(test.changed, [&](std::size_t changes, const auto&, const auto& result) {
            auto lines = testing::lines_of(result.standard_output);
            ASSERT_FALSE(lines.empty());
            lines.erase(lines.begin()); // the saves' names
            std::size_t named = 0;
            for (const auto& line : lines) {
                const bool link = line.find(".link_ref ") != std::string::npos || line.find(".link_kind ") != std::string::npos;
                const bool level = line.find(".unit.linked[") != std::string::npos && line.ends_with(test.named);
                const bool shift = line.find(" numbering shifts after it: 0 ") != std::string::npos;
                named += level ? 1 : 0;
                EXPECT_TRUE(link || level || shift) << line;
            }
            // Two changes may fall on one chain.
            EXPECT_GE(named, 1U) << result.standard_output;
            EXPECT_LE(named, changes) << result.standard_output;
        });
    }
}

// A damaged save is compared up to its break, where its error line stands;
// the others go on while at least two remain.
TEST(fields_diff_against_plain, a_cut_save_compared_up_to_its_break)
{
    const change some_value = [](auto& save, dice& roll) {
        const std::array values{header_field, player_field, layer_cell, unit_field, unit_data_bytes};
        values[roll.below(values.size())](save, roll);
    };
    compare_kinds({{"the last save cut short", {}, some_value, kind::last_cut}, {"the first save cut short", {}, some_value, kind::first_cut}}, 3);
}

// Saves whose bytes agree from the second group to their end, one with a
// post-update record more in the first group: its stream's numbering starts
// one later, so the same bytes there are other leaves. diff must not pass
// over them as agreeing.
TEST(fields_diff_against_plain, the_same_stream_bytes_numbered_from_another_start)
{
    auto save = sb::stream_rich_save(70);
    sb::number_units(save);
    auto record_more = save;
    record_more.groups[red].post_updates.push_back(post_update_record{7});
    const testing::temp_folder folder;
    std::vector<std::string> arguments{"diff"};
    std::vector<testing::plain_save> saves;
    for (const auto* description : {&save, &record_more}) {
        arguments.push_back(folder.file("save" + std::to_string(saves.size() + 1) + ".sav"));
        sb::write_file(arguments.back(), sb::build_save(*description));
        saves.push_back(testing::plain_walk(arguments.back()));
    }
    compare_with_plain(arguments, {&saves[0], &saves[1]}, 1);
}

// A record more in the groups moves the number of every object of the
// stream: diff says so once, after the record, and compares the stream
// through the shift, where nothing else differs.
TEST(fields_diff_against_plain, numbering_begun_later_by_records_more_in_the_groups)
{
    const change record_added = [](auto& save, dice& roll) {
        save.groups[roll.below(4)].post_updates.push_back({static_cast<std::uint8_t>(1 + roll.below(255))});
    };
    diff_saves_changed_in_turn(record_added, [](std::size_t records, const auto&, const auto& result) {
        auto lines = testing::lines_of(result.standard_output);
        ASSERT_GE(lines.size(), 3U) << result.standard_output;
        lines.erase(lines.begin());
        const auto shift = std::ranges::find_if(lines, [](const std::string& line) { return line.find(" numbering shifts") != std::string::npos; });
        ASSERT_NE(shift, lines.end()) << result.standard_output;
        EXPECT_EQ(shift + 1, lines.end()) << result.standard_output; // said once the groups are compared
        EXPECT_TRUE(shift->ends_with(" numbering shifts after it: 0 +" + std::to_string(records))) << *shift;
        EXPECT_EQ(take_numbering_lines(lines), 1U) << result.standard_output;
        for (const auto& line : lines) {
            EXPECT_TRUE(line.starts_with("groups[")) << line;
        }
    });
}

} // namespace
} // namespace orbse
