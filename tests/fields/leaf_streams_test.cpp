// The leaves of a walk as diff reads them: through the compact encoding
// unchanged, and through a walking thread in the walk's own order, with the
// long raw stretches' bytes as the file holds them.
#include "fields/leaf_streams.h"
#include "sample_saves.h"
#include "save_builder.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;
using fields::leaf_batch;
using fields::leaf_decoder;
using fields::leaf_encoder;
using fields::slot_content;
using fields::streamed_leaf;

struct leaf_case {
    std::string path;
    std::uint64_t offset;
    std::uint64_t size;
    leaf_type type;
    std::int64_t number;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;
    slot_content slot;
};

field_leaf as_field_leaf(const leaf_case& leaf)
{
    field_leaf field;
    field.path = leaf.path;
    field.offset = leaf.offset;
    field.size = leaf.size;
    field.type = leaf.type;
    field.number = leaf.number;
    field.bytes = leaf.bytes;
    field.words = leaf.words;
    return field;
}

// Paths that share all, some or none of the one before, numbers of every
// width and sign, offsets far apart, and every kind of payload.
TEST(leaf_streams, leaves_come_through_the_encoding_as_they_went_in)
{
    const std::vector<leaf_case> leaves{
        {"header.version", 0, 2, leaf_type::u16, 70, {}, {}, slot_content::none},
        {"header.game_name", 3, 30, leaf_type::text, 0, {'F', 'o', 'u', 'r', 0, 0}, {}, slot_content::none},
        {"header.map_number_2", 176, 4, leaf_type::i32, -2147483647 - 1, {}, {}, slot_content::none},
        {"header.save_date", 180, 4, leaf_type::u32, 4294967295, {}, {}, slot_content::none},
        {"resource_layer.row[0].column[7]", 12782, 2, leaf_type::u8_array, 0, {4, 0}, {}, slot_content::none},
        {"units.lists[0].slots[9].object_id", 52964, 2, leaf_type::u16, 379, {}, {}, slot_content::unit},
        {"units.lists[0].slots[10].object_id", 52966, 2, leaf_type::u16, 7, {}, {}, slot_content::reference},
        {"units.lists[0].slots[10].unit.path.points", 52970, 6, leaf_type::u16_array, 0, {}, {10, 65535, 0},
         slot_content::none},
        {"units.lists[0].slots[10].unit.unit_data@44", 53000, 56, leaf_type::raw, 0, std::vector<std::uint8_t>(56, 0xA5),
         {}, slot_content::none},
        {"tail", 5000000000, 3, leaf_type::raw, 0, {1, 2, 3}, {}, slot_content::none},
        {"tail", 5000000003, 0, leaf_type::u8, 0, {}, {}, slot_content::none},
    };
    leaf_batch batch;
    leaf_encoder encoder;
    for (const auto& leaf : leaves) {
        encoder.add_leaf(batch, as_field_leaf(leaf), leaf.slot, false);
    }
    leaf_decoder decoder;
    std::size_t at = 0;
    for (const auto& expected : leaves) {
        SCOPED_TRACE(expected.path);
        ASSERT_TRUE(leaf_decoder::has_entry(batch, at));
        ASSERT_FALSE(leaf_decoder::is_piece(batch, at));
        const streamed_leaf leaf = decoder.leaf(batch, at);
        EXPECT_EQ(leaf.path, expected.path);
        EXPECT_EQ(leaf.offset, expected.offset);
        EXPECT_EQ(leaf.size, expected.size);
        EXPECT_EQ(leaf.type, expected.type);
        EXPECT_EQ(leaf.number, expected.number);
        EXPECT_EQ(std::vector<std::uint8_t>(leaf.bytes.begin(), leaf.bytes.end()), expected.bytes);
        EXPECT_EQ(std::vector<std::uint16_t>(leaf.words.begin(), leaf.words.end()), expected.words);
        EXPECT_EQ(leaf.slot, expected.slot);
        EXPECT_FALSE(leaf.in_pieces);
    }
    EXPECT_FALSE(leaf_decoder::has_entry(batch, at));
    EXPECT_EQ(batch.weight(), at + 2 * 3); // the path's three points lie apart
}

// A run of references and a unit's data are one entry each between leaves:
// the leaf after a run counts its offset from the run's last slot, the leaf
// after unit data from the data's first byte, and each shares the path
// before it.
TEST(leaf_streams, a_run_of_references_and_a_units_data_go_as_one_entry_each)
{
    const std::vector<std::uint16_t> objects{7, 65535, 0, 300};
    field_leaf size;
    size.path = "units.lists[12].size";
    size.offset = 70000;
    size.size = 2;
    size.type = leaf_type::u16;
    size.number = 9;
    field_leaf after = size;
    after.path = "units.lists[12].slots[9].object_id";
    after.offset = 70012;
    leaf_batch batch;
    leaf_encoder encoder;
    std::vector<std::uint8_t> data(144);
    for (std::size_t at = 0; at < data.size(); ++at) {
        data[at] = static_cast<std::uint8_t>(at * 3);
    }
    field_leaf unit_class = size;
    unit_class.path = "units.lists[12].slots[9].unit.unit_class";
    unit_class.offset = 70160;
    encoder.add_leaf(batch, size, slot_content::none, false);
    encoder.add_run(batch, reference_run{"units.lists[12]", 5, 70002, objects});
    encoder.add_leaf(batch, after, slot_content::reference, false);
    encoder.add_unit_data(batch, unit_data_block{"units.lists[12].slots[9].unit", 70016, data});
    encoder.add_leaf(batch, unit_class, slot_content::none, false);

    leaf_decoder decoder;
    std::size_t at = 0;
    EXPECT_EQ(decoder.leaf(batch, at).path, size.path);
    ASSERT_TRUE(leaf_decoder::is_run(batch, at));
    const reference_run run = decoder.run(batch, at);
    EXPECT_EQ(run.list_path, "units.lists[12]");
    EXPECT_EQ(run.first_slot, 5u);
    EXPECT_EQ(run.offset, 70002u);
    EXPECT_EQ(std::vector<std::uint16_t>(run.objects.begin(), run.objects.end()), objects);
    ASSERT_FALSE(leaf_decoder::is_run(batch, at));
    const streamed_leaf slot = decoder.leaf(batch, at);
    EXPECT_EQ(slot.path, after.path);
    EXPECT_EQ(slot.offset, 70012u);
    ASSERT_TRUE(leaf_decoder::is_unit_data(batch, at));
    const unit_data_block block = decoder.unit_data(batch, at);
    EXPECT_EQ(block.unit_path, "units.lists[12].slots[9].unit");
    EXPECT_EQ(block.offset, 70016u);
    EXPECT_EQ(std::vector<std::uint8_t>(block.bytes.begin(), block.bytes.end()), data);
    const streamed_leaf last = decoder.leaf(batch, at);
    EXPECT_EQ(last.path, unit_class.path);
    EXPECT_EQ(last.offset, 70160u);
    EXPECT_FALSE(leaf_decoder::has_entry(batch, at));
}

TEST(leaf_streams, a_long_stretch_goes_as_its_leaf_and_then_its_pieces)
{
    const std::vector<std::uint8_t> head(64, 7);
    const std::vector<std::uint8_t> first(70000, 1);
    const std::vector<std::uint8_t> second{2, 3};
    field_leaf tail;
    tail.path = "tail";
    tail.offset = 60000;
    tail.size = first.size() + second.size();
    tail.type = leaf_type::raw;
    tail.bytes = head;
    leaf_batch batch;
    leaf_encoder encoder;
    encoder.add_leaf(batch, tail, slot_content::none, true);
    encoder.add_piece(batch, 0, first);
    encoder.add_piece(batch, first.size(), second);

    leaf_decoder decoder;
    std::size_t at = 0;
    const streamed_leaf leaf = decoder.leaf(batch, at);
    EXPECT_TRUE(leaf.in_pieces);
    EXPECT_TRUE(leaf.bytes.empty()); // its bytes are the pieces'
    EXPECT_EQ(leaf.size, 70002u);
    for (const auto& [start, bytes] : std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>{
             {0, first}, {first.size(), second}}) {
        ASSERT_TRUE(leaf_decoder::is_piece(batch, at));
        const auto piece = leaf_decoder::piece(batch, at);
        EXPECT_EQ(piece.start, start);
        EXPECT_EQ(std::vector<std::uint8_t>(piece.bytes.begin(), piece.bytes.end()), bytes);
    }
    EXPECT_FALSE(leaf_decoder::has_entry(batch, at));
}

// What the walk hands its sink, kept.
struct walked_leaf {
    std::string path;
    std::uint64_t offset;
    std::uint64_t size;
    std::int64_t number;
    leaf_type type;
    std::vector<std::uint8_t> bytes;
};

class keeping_sink final : public leaf_sink {
public:
    void take(const field_leaf& leaf) override
    {
        leaves.push_back({std::string(leaf.path), leaf.offset, leaf.size, leaf.number, leaf.type,
                          std::vector<std::uint8_t>(leaf.bytes.begin(), leaf.bytes.end())});
    }
    std::vector<walked_leaf> leaves;
};

// A save with a tail longer than a piece, so that it is read again in
// several pieces, long stretches in the player records, and a run of
// references whose slot numbers gain a digit, which the walking thread
// encodes without the walk's leaves.
sb::bytes save_with_long_tail()
{
    auto save = sb::stream_rich_save(70);
    sb::unit_list_description references;
    for (std::uint16_t slot = 0; slot < 12; ++slot) {
        references.slots.push_back(sb::reference(static_cast<std::uint16_t>(300 + 7 * slot)));
    }
    save.unit_lists.push_back(references);
    save.closing_zero_size = true;
    save.tail.resize(150000);
    for (std::size_t at = 0; at < save.tail.size(); ++at) {
        save.tail[at] = static_cast<std::uint8_t>(at * 7);
    }
    save.players[2].loses[175] = 9;
    return sb::build_save(save);
}

TEST(leaf_streams, a_stream_hands_out_the_walk_in_order_with_the_long_stretches_whole)
{
    const testing::temp_folder folder;
    const std::string path = folder.file("game.sav");
    const auto content = save_with_long_tail();
    sb::write_file(path, content);
    keeping_sink walked;
    ASSERT_FALSE(walk_save(path, &walked).broken);

    fields::leaf_stream stream(path);
    std::size_t index = 0;
    for (; stream.has_leaf(); ++index) {
        ASSERT_LT(index, walked.leaves.size());
        const streamed_leaf leaf = stream.leaf();
        const walked_leaf& expected = walked.leaves[index];
        ASSERT_EQ(leaf.path, expected.path);
        EXPECT_EQ(leaf.offset, expected.offset);
        EXPECT_EQ(leaf.size, expected.size);
        EXPECT_EQ(leaf.number, expected.number) << expected.path;
        EXPECT_EQ(leaf.type, expected.type) << expected.path;
        if (!leaf.in_pieces) {
            EXPECT_EQ(std::vector<std::uint8_t>(leaf.bytes.begin(), leaf.bytes.end()), expected.bytes) << expected.path;
        }
        if (leaf.in_pieces) {
            const std::string name(leaf.path);
            sb::bytes whole;
            while (const auto piece = stream.next_piece()) {
                EXPECT_EQ(piece->start, whole.size()) << name;
                whole.insert(whole.end(), piece->bytes.begin(), piece->bytes.end());
            }
            const auto from = content.begin() + static_cast<std::ptrdiff_t>(expected.offset);
            EXPECT_EQ(whole, sb::bytes(from, from + static_cast<std::ptrdiff_t>(expected.size))) << name;
        }
        stream.advance();
    }
    EXPECT_EQ(index, walked.leaves.size());
    EXPECT_EQ(stream.end().how, fields::stream_end::kind::complete);
}

// Given where the files agree, a stream passes over what follows a list's
// size. Taken, the skip leaves out the walk's next leaves, all of them in
// bytes both files hold, and says how many and the last one's key; passed
// by, the stream walks its save again and hands on every leaf after all, in
// the walk's order.
TEST(leaf_streams, a_skip_leaves_out_leaves_the_files_hold_alike_or_none_when_passed_by)
{
    auto save = sb::empty_save(70);
    for (std::uint16_t list = 0; list < 6; ++list) {
        sb::unit_description unit;
        unit.unit_class = 10;
        unit.path = sb::path_description{};
        unit.path->points.assign(20000, list);
        save.unit_lists.push_back({{sb::new_unit(2, {unit}), sb::reference(7)}});
    }
    sb::number_units(save);
    const auto content = sb::build_save(save);
    auto changed = content;
    changed[content.size() / 2] ^= 1;
    const testing::temp_folder folder;
    const std::string path = folder.file("game.sav");
    const std::string other = folder.file("other.sav");
    sb::write_file(path, content);
    sb::write_file(other, changed);
    keeping_sink walked;
    ASSERT_FALSE(walk_save(path, &walked).broken);

    for (const bool taken : {true, false}) {
        SCOPED_TRACE(taken ? "taken" : "passed by");
        fields::agreement_map agreement({path, other}, 0);
        fields::leaf_stream stream(path, 0, &agreement);
        std::size_t index = 0;
        std::size_t skips = 0;
        while (stream.has_leaf()) {
            ASSERT_LT(index, walked.leaves.size());
            ASSERT_EQ(stream.leaf().path, walked.leaves[index].path);
            ASSERT_EQ(stream.leaf().offset, walked.leaves[index].offset);
            if (stream.skip_after_current()) {
                ++skips;
                if (taken) {
                    const fields::skip_end* end = stream.skip_ahead();
                    ASSERT_NE(end, nullptr);
                    for (std::size_t left_out = index + 1; left_out <= index + end->leaves; ++left_out) {
                        const walked_leaf& leaf = walked.leaves[left_out];
                        ASSERT_TRUE(std::equal(content.begin() + leaf.offset, content.begin() + leaf.offset + leaf.size,
                                               changed.begin() + leaf.offset));
                    }
                    index += 1 + end->leaves;
                    const walked_leaf& last = walked.leaves[index - 1];
                    EXPECT_EQ(end->last_key, fields::key_of(last.type, last.path, last.number));
                    stream.take_skip();
                    continue;
                }
            }
            stream.advance();
            ++index;
        }
        EXPECT_EQ(index, walked.leaves.size());
        EXPECT_EQ(stream.end().how, fields::stream_end::kind::complete);
        // Walked again, the stream passes over nothing more.
        EXPECT_EQ(skips > 1, taken) << skips;
    }
}

TEST(leaf_streams, a_damaged_save_ends_its_stream_with_the_break_and_a_stream_left_early_stops)
{
    const testing::temp_folder folder;
    const auto content = save_with_long_tail();
    const std::string cut = folder.file("cut.sav");
    sb::write_file(cut, sb::bytes(content.begin(), content.begin() + 50000));
    {
        fields::leaf_stream stream(cut);
        while (stream.has_leaf()) {
            stream.advance();
        }
        ASSERT_EQ(stream.end().how, fields::stream_end::kind::broken);
        EXPECT_EQ(stream.end().broken->code, 100);
        EXPECT_LE(stream.end().broken->offset, 50000u);
    }
    // Left after one leaf, its walking thread still busy: the stream's end
    // must stop the walk rather than wait for it.
    const std::string whole = folder.file("whole.sav");
    sb::write_file(whole, content);
    fields::leaf_stream left(whole);
    ASSERT_TRUE(left.has_leaf());
    EXPECT_EQ(left.leaf().path, "header.version");
}

TEST(leaf_streams, a_save_that_cannot_be_opened_ends_its_stream_in_trouble)
{
    const testing::temp_folder folder;
    fields::leaf_stream stream(folder.file("missing.sav"));
    EXPECT_FALSE(stream.has_leaf());
    EXPECT_EQ(stream.end().how, fields::stream_end::kind::trouble);
    EXPECT_EQ(stream.end().problem, "File not found");
}

} // namespace
} // namespace orbse
