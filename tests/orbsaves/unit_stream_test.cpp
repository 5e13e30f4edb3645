#include "loaded_saves.h"

#include <gtest/gtest.h>

#include <numeric>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::load_bytes;
using testing::load_failure_code;
using testing::slot_seen;
using testing::slots_of;

// Bytes after the stream that every case keeps: a load that reads one byte
// too many or too few shows in the tail.
const sb::bytes tail_marker{0xA5, 0x5A, 0x00, 0x01};

// A save whose unit stream starts with object_counter at `counter`. An index
// is at least 372 long, so smaller counters come from an index that passed
// 65,535 and wrapped.
sb::save_description save_with_counter(std::uint16_t counter)
{
    const std::size_t smallest_index = 4 * unit_type_count;
    auto save = testing::save_with_index_length(counter >= smallest_index ? counter : 0x10000u + counter);
    save.tail = tail_marker;
    return save;
}

sb::slot_description numbered(std::uint16_t object_number, std::vector<sb::unit_description> chain)
{
    return {object_number, 0x0102, std::move(chain)};
}

sb::unit_description with_path_words(std::uint16_t path_ref, std::uint16_t path_kind)
{
    sb::unit_description unit;
    unit.path_ref = path_ref;
    unit.path_kind = path_kind;
    return unit;
}

sb::unit_description with_path(std::uint16_t path_ref, std::vector<std::uint16_t> points)
{
    sb::unit_description unit = with_path_words(path_ref, 4);
    unit.path = sb::path_description{{0x11, 0x22, 0x33}, std::move(points), 0x44};
    return unit;
}

sb::unit_description linking(std::uint16_t link_ref, sb::unit_description unit = {})
{
    unit.link_ref = link_ref;
    unit.link_kind = 5;
    return unit;
}

struct numbering_case {
    const char* name;
    std::uint16_t counter_before;
    std::vector<sb::unit_list_description> lists;
    std::vector<slot_seen> expected_slots;
    std::uint16_t counter_after;
};

TEST(read_units, a_slot_is_a_new_unit_only_when_it_carries_the_next_object_number)
{
    const std::vector<numbering_case> cases{
        {"new, reference, new",
         100,
         {{{numbered(101, {{}}), sb::reference(7), numbered(102, {{}})}}},
         {{0, 0, 101, true}, {0, 1, 7, false}, {0, 2, 102, true}},
         102},
        {"a slot equal to the counter is a reference", 100, {{{sb::reference(100)}}}, {{0, 0, 100, false}}, 100},
        {"a number two ahead is a reference", 100, {{{sb::reference(102)}}}, {{0, 0, 102, false}}, 100},
        {"path_kind 3 reads no path", 100, {{{numbered(101, {with_path_words(102, 3)})}}}, {{0, 0, 101, true}}, 101},
        {"a path of 0 points counts one number", 100, {{{numbered(101, {with_path(102, {})})}}}, {{0, 0, 101, true}}, 102},
        {"a linked unit with its own path",
         100,
         {{{numbered(101, {linking(102), with_path(102, {9, 8})})}}, {{sb::reference(103), numbered(104, {{}})}}},
         {{0, 0, 102, true}, {1, 0, 103, false}, {1, 1, 104, true}},
         104},
        {"a linked unit's path with the number after its own is not read",
         100,
         {{{numbered(101, {linking(102), with_path_words(103, 4)})}}},
         {{0, 0, 102, true}},
         102},
        {"a path numbered one above the counter before the unit took its number is not read",
         100,
         {{{numbered(101, {with_path_words(101, 4)})}}},
         {{0, 0, 101, true}},
         101},
        {"the counter wraps from 65535 to 0 after a linked unit",
         65533,
         {{{numbered(65534, {linking(65535), with_path(65535, {1})})}}, {{numbered(1, {{}})}}},
         {{0, 0, 65535, true}, {1, 0, 1, true}},
         1},
        {"at 65535 no number is new, not even 0",
         65534,
         {{{numbered(65535, {{}})}}, {{sb::reference(0), sb::reference(65535)}}},
         {{0, 0, 65535, true}, {1, 0, 0, false}, {1, 1, 65535, false}},
         65535},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto description = save_with_counter(test.counter_before);
        description.unit_lists = test.lists;
        const auto save = load_bytes(sb::build_save(description));
        EXPECT_EQ(slots_of(save->unit_store), test.expected_slots);
        EXPECT_EQ(save->unit_store.object_counter, test.counter_after);
        EXPECT_EQ(testing::tail_bytes(*save), tail_marker);
    }
}

sb::unit_description every_field_set(std::uint8_t seed)
{
    sb::unit_description unit;
    std::iota(unit.data.begin(), unit.data.end(), seed);
    unit.selected = 0x0101;
    unit.unk1 = 0xFFFF;
    unit.unk2 = 2;
    unit.unk3 = 0xF3;
    unit.speed_now = 0x8004;
    unit.unk4 = 4;
    unit.unk5 = 5;
    unit.unk6 = 6;
    unit.unk7 = 0xF7;
    unit.unk8 = 8;
    unit.unit_class = 52;
    unit.aux_word = 0xA0A0;
    unit.link_ref = 7;
    unit.link_kind = 5;
    unit.unkf1 = 2;
    return unit;
}

TEST(read_units, a_new_unit_keeps_its_words_its_unit_data_and_its_path)
{
    auto description = save_with_counter(100);
    sb::unit_description first = every_field_set(10);
    sb::unit_description second = with_path(103, {5, 0xFFFF, 0});
    second.unkf1 = 1;
    second.unkf1_extra = 0xBEEF;
    description.unit_lists = {{{numbered(101, {first}), numbered(102, {second})}}};
    const auto save = load_bytes(sb::build_save(description));
    const unidefa& store = save->unit_store;
    ASSERT_EQ(store.units.size(), 2u);

    const unidefrec& unit = store.units[0];
    EXPECT_EQ(unit.object_id, 101);
    EXPECT_EQ(unit.class_word, 0x0102);
    EXPECT_EQ(unit.unit_data[0], 10); // the first byte of unit data, object offset 4
    EXPECT_EQ(unit.selected(), 0x0101);
    EXPECT_EQ(unit.unk1(), 0xFFFF);
    EXPECT_EQ(unit.unk2(), 2);
    EXPECT_EQ(unit.unk3(), 0xF3);
    EXPECT_EQ(unit.speed_now(), 0x8004);
    EXPECT_EQ(unit.unk4(), 4);
    EXPECT_EQ(unit.unk5(), 5);
    EXPECT_EQ(unit.unk6(), 6);
    EXPECT_EQ(unit.unk7(), 0xF7);
    EXPECT_EQ(unit.unk8(), 8);
    EXPECT_EQ(unit.unit_class, 52);
    EXPECT_EQ(unit.aux_word, 0xA0A0);
    EXPECT_EQ(unit.link_ref, 7);
    EXPECT_EQ(unit.link_kind, 5);
    EXPECT_EQ(unit.unkf1, 2);
    EXPECT_EQ(unit.unkf1_extra, 0); // unkf1 2 reads no extra word
    EXPECT_EQ(unit.path.point_count, 0);

    const unidefrec& with_a_path = store.units[1];
    EXPECT_EQ(with_a_path.path_ref(), 103);
    EXPECT_EQ(with_a_path.path_kind(), 4);
    EXPECT_EQ(with_a_path.path.header_words, (std::array<std::uint16_t, 3>{0x11, 0x22, 0x33}));
    EXPECT_EQ(testing::path_points_of(store, with_a_path), (std::vector<std::uint16_t>{5, 0xFFFF, 0}));
    EXPECT_EQ(with_a_path.unkf1, 1);
    EXPECT_EQ(with_a_path.unkf1_extra, 0xBEEF);
    EXPECT_EQ(testing::tail_bytes(*save), tail_marker);
}

TEST(read_units, a_linked_unit_is_read_into_the_record_of_the_unit_that_links_it)
{
    struct linked_case {
        const char* name;
        std::optional<std::uint16_t> outer_extra; // outer unkf1 is 1 when given, else 2
        std::uint16_t expected_unkf1;
        std::uint16_t expected_extra;
    };
    for (const auto& [name, outer_extra, expected_unkf1, expected_extra] : std::vector<linked_case>{
             {"the outer unit's extra word wins", 0x0E0E, 1, 0x0E0E},
             {"without an outer extra word the linked unit's stays", std::nullopt, 2, 0x1111},
         }) {
        SCOPED_TRACE(name);
        auto description = save_with_counter(100);
        sb::unit_description outer = linking(103, with_path(102, {1, 2, 3}));
        outer.unk1 = 0xAAAA;
        outer.unit_class = 10;
        outer.word_after_link = 0x7777;
        outer.unkf1 = outer_extra ? 1 : 2;
        outer.unkf1_extra = outer_extra;
        sb::unit_description inner = every_field_set(50);
        inner.link_ref = 0x0999; // names no inline unit
        inner.link_kind = 5;
        inner.unkf1 = 1;
        inner.unkf1_extra = 0x1111;
        description.unit_lists = {{{numbered(101, {outer, inner})}}};
        const auto save = load_bytes(sb::build_save(description));
        ASSERT_EQ(save->unit_store.units.size(), 1u);
        const unidefrec& unit = save->unit_store.units[0];
        EXPECT_EQ(unit.object_id, 103);
        EXPECT_EQ(unit.class_word, 5);
        EXPECT_EQ(unit.unit_data[0], 50);
        EXPECT_EQ(unit.unk1(), 0xFFFF);
        EXPECT_EQ(unit.unit_class, 52);
        EXPECT_EQ(unit.aux_word, 0xA0A0);
        EXPECT_EQ(unit.link_ref, 0x0999);
        EXPECT_EQ(unit.link_kind, 0x7777); // the word after the linked unit
        EXPECT_EQ(unit.unkf1, expected_unkf1);
        EXPECT_EQ(unit.unkf1_extra, expected_extra);
        // The linked unit has no path of its own: the outer one stays.
        EXPECT_EQ(testing::path_points_of(save->unit_store, unit), (std::vector<std::uint16_t>{1, 2, 3}));
        EXPECT_EQ(save->unit_store.object_counter, 103);
        EXPECT_EQ(testing::tail_bytes(*save), tail_marker);
    }
}

TEST(read_units, a_linked_units_path_replaces_the_path_before_it)
{
    auto description = save_with_counter(100);
    description.unit_lists = {{{numbered(101, {linking(103, with_path(102, {1, 2, 3, 4})), with_path(103, {7})}),
                                numbered(105, {with_path(106, {8, 9})})}}};
    const auto save = load_bytes(sb::build_save(description));
    const unidefa& store = save->unit_store;
    ASSERT_EQ(store.units.size(), 2u);
    EXPECT_EQ(testing::path_points_of(store, store.units[0]), std::vector<std::uint16_t>{7});
    EXPECT_EQ(testing::path_points_of(store, store.units[1]), (std::vector<std::uint16_t>{8, 9}));
    // The points of the replaced path take no room.
    EXPECT_EQ(store.path_points.size(), 3u);
    EXPECT_EQ(store.object_counter, 106);
}

sb::bytes counting_bytes(std::size_t count)
{
    sb::bytes counting(count);
    for (std::size_t index = 0; index < count; ++index) {
        counting[index] = static_cast<std::uint8_t>(index * 31 + index / 256);
    }
    return counting;
}

struct ending_case {
    const char* name;
    std::size_t list_count;
    bool closing_zero_size;
    sb::bytes tail;
};

TEST(read_units, the_stream_ends_at_a_size_of_0_or_where_the_file_ends_after_a_list)
{
    const std::vector<ending_case> cases{
        {"a stream that starts with a size of 0", 0, true, {1, 2, 3}},
        {"a size of 0 after several lists, with bytes after it", 3, true, {0, 5, 0, 0, 0}},
        {"a size of 0 and nothing after it", 2, true, {}},
        {"the file ends right after a complete list", 2, false, {}},
        {"a tail large enough for large pages", 1, true, counting_bytes(3 * 64 * 1024 + 5)},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto description = sb::empty_save(70);
        for (std::size_t list = 0; list < test.list_count; ++list) {
            description.unit_lists.push_back({{sb::reference(1), sb::new_unit(0, {{}})}});
        }
        sb::number_units(description);
        description.closing_zero_size = test.closing_zero_size;
        description.tail = test.tail;
        const auto save = load_bytes(sb::build_save(description));
        EXPECT_EQ(save->unit_store.list_sizes.size(), test.list_count);
        EXPECT_EQ(save->unit_store.units.size(), test.list_count);
        EXPECT_EQ(testing::tail_bytes(*save), test.tail);
        EXPECT_EQ(save->tail_size, static_cast<std::int64_t>(test.tail.size()));
    }
}

TEST(read_units, a_file_that_ends_anywhere_else_in_the_stream_fails_with_100)
{
    auto description = sb::empty_save(70);
    sb::unit_description outer = with_path({}, {1, 2});
    outer.unkf1 = 1;
    outer.unkf1_extra = 3;
    description.unit_lists = {{{sb::new_unit(0, {outer, with_path({}, {4})}), sb::reference(2)}}};
    sb::number_units(description);
    description.closing_zero_size = false;
    const auto content = sb::build_save(description);
    auto without_stream = description;
    without_stream.unit_lists.clear();
    const std::size_t stream = sb::build_save(without_stream).size();
    // size 2 | number 373, class word | unit data 144 | path 4 + 2 + 1 words
    // | 4 words | linked: data 144 | path 4 + 1 + 1 words | 4 words | unkf1
    // | word after link | unkf1, extra | reference
    const std::size_t outer_path = stream + 2 + 4 + 144;
    const std::size_t outer_words = outer_path + 14;
    const std::size_t linked = outer_words + 8;
    const std::size_t after_linked = linked + 144 + 12 + 8 + 2;
    const std::vector<std::pair<const char*, std::size_t>> cuts{
        {"where the first list size is expected", stream},
        {"inside the first list size", stream + 1},
        {"inside a slot's object number", stream + 3},
        {"inside the class word", stream + 5},
        {"inside the unit data", stream + 6 + 100},
        {"inside a path's header", outer_path + 3},
        {"inside a path's points", outer_path + 9},
        {"inside the four words", outer_words + 7},
        {"inside the linked unit", linked + 10},
        {"inside the linked unit's path", linked + 144 + 4},
        {"before the word after the linked unit", after_linked},
        {"before the extra word", after_linked + 4},
        {"before the reference slot", after_linked + 6},
        {"inside a list size after a list", content.size() + 1},
    };
    ASSERT_EQ(after_linked + 8, content.size()) << "the layout above no longer matches the description";
    auto with_one_more_byte = content;
    with_one_more_byte.push_back(0);
    for (const auto& [where, size] : cuts) {
        const auto& whole = size > content.size() ? with_one_more_byte : content;
        const sb::bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(load_failure_code(cut), 100) << where;
    }
    EXPECT_EQ(load_failure_code(content), 0);
}

TEST(read_units, a_chain_of_a_million_linked_units_loads_without_recursion)
{
    // A reader that recursed once per linked unit would need far more stack
    // than a thread has for a million levels.
    constexpr std::size_t depth = 1'000'000;
    constexpr std::size_t path_every = 1000;
    auto description = sb::empty_save(70);
    std::vector<sb::unit_description> chain(depth);
    for (std::size_t level = 0; level < depth; ++level) {
        sb::unit_description& unit = chain[level];
        unit.unk1 = static_cast<std::uint16_t>(level);
        unit.unkf1 = 1;
        unit.unkf1_extra = static_cast<std::uint16_t>(level);
        unit.word_after_link = static_cast<std::uint16_t>(level + 1);
        if (level % path_every == 0) {
            unit.path = sb::path_description{{}, {static_cast<std::uint16_t>(level / path_every)}, 0};
        }
    }
    description.unit_lists = {{{sb::new_unit(0x0102, std::move(chain)), sb::new_unit(9, {{}})}}};
    const std::uint16_t counter = sb::number_units(description);
    description.tail = tail_marker;
    const auto& numbered_chain = description.unit_lists[0].slots[0].chain;
    const std::uint16_t deepest_number = numbered_chain[depth - 2].link_ref;
    const sb::bytes content = sb::build_save(description);
    description = {};
    const auto save = load_bytes(content);

    const unidefa& store = save->unit_store;
    // 372 objects before, the slot, 1,000 paths and a million less one
    // linked units, kept to 16 bits; then the second slot.
    EXPECT_EQ(counter, (372 + 1 + depth / path_every + (depth - 1) + 1) % 0x10000);
    EXPECT_EQ(store.object_counter, counter);
    ASSERT_EQ(store.units.size(), 2u);
    const unidefrec& unit = store.units[0];
    EXPECT_EQ(unit.object_id, deepest_number);
    EXPECT_EQ(unit.class_word, 5);
    EXPECT_EQ(unit.unk1(), static_cast<std::uint16_t>(depth - 1));
    EXPECT_EQ(unit.link_kind, 1);   // the outermost unit's word after its link
    EXPECT_EQ(unit.unkf1_extra, 0); // the outermost unit's extra word
    EXPECT_EQ(testing::path_points_of(store, unit), std::vector<std::uint16_t>{(depth - 1) / path_every});
    EXPECT_EQ(store.units[1].class_word, 9);
    EXPECT_EQ(testing::tail_bytes(*save), tail_marker);
}

} // namespace
} // namespace orbse
