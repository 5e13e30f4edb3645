// orbse-fields dump: the document's shapes from the writer itself, and on
// saves of every feature the document as a JSON parser and the schema take
// it, held to list --json of the same save (tests/fields/dump_check.py).
#include "demo_save.h"
#include "fields/dump_writer.h"
#include "orbsaves/loaded_saves.h"
#include "runtime/platform.h"
#include "sample_saves.h"
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <regex>
#include <span>

namespace orbse {
namespace {

namespace sb = save_builder;

// ---- the writer on events made by hand ----

field_leaf number(std::string_view name, std::uint64_t offset, std::uint64_t size, std::int64_t value,
                  std::string_view note = {}, std::initializer_list<path_part> parts = {})
{
    field_leaf leaf;
    leaf.offset = offset;
    leaf.size = size;
    leaf.type = leaf_type::u16;
    leaf.name = name;
    leaf.number = value;
    leaf.note = note;
    for (const auto& part : parts) {
        leaf.place.parts[leaf.place.depth++] = part;
    }
    return leaf;
}

struct writer_case {
    const char* name;
    std::function<void(fields::dump_writer&)> events;
    std::string expected;
};

std::string written_by(const std::function<void(fields::dump_writer&)>& events)
{
    testing::temp_folder folder;
    const auto path = folder.file("dump.json");
    platform::native_file file;
    EXPECT_EQ(platform::create_always(path, false, file), 0);
    {
        fields::output_stream out(file);
        // The tail's bytes after those its leaf holds: 40 bytes from 0xCD,
        // then 20 from 0xEF.
        static const std::uint8_t second[40] = {0xCD};
        static const std::uint8_t third[20] = {0xEF};
        std::size_t handed = 0;
        fields::dump_writer writer(out, [&handed] {
            const std::array<std::span<const std::uint8_t>, 3> pieces{std::span(second), std::span(third), {}};
            return pieces[std::min<std::size_t>(handed++, 2)];
        });
        events(writer);
    }
    platform::close(file);
    return testing::read_text_file(path);
}

// The parts of each leaf's place begin and end around it as the places
// change from leaf to leaf.
TEST(fields_dump, the_writer_shapes_parts_into_members_arrays_and_values)
{
    const std::uint8_t name_bytes[30] = {'R', 0xE9, 'd'};
    static const std::uint8_t head[40] = {0xAB};
    walk_break cut;
    cut.code = 100;
    cut.message = "Read beyond end of file";
    cut.place.parts[0] = {"units", -1};
    cut.place.parts[1] = {"lists", 0};
    cut.place.parts[2] = {"slots", 1};
    cut.place.depth = 3;
    cut.name = "object_id";
    cut.offset = 4;
    cut.needed = 2;
    const std::vector<writer_case> cases{
        {"a numbered part of one unnamed value is that value; a name keeps its bytes, the tail all of its pieces",
         [&](fields::dump_writer& w) {
             for (std::int64_t button = 0; button < 2; ++button) {
                 w.take(number({}, static_cast<std::uint64_t>(button), 1, button, button == 0 ? "Alpha" : "",
                               {{"buttons", button}}));
             }
             field_leaf text = number("game_name", 2, 30, 0);
             text.type = leaf_type::text;
             text.bytes = name_bytes;
             w.take(text);
             field_leaf raw = number("tail", 32, 100, 0);
             raw.type = leaf_type::raw;
             raw.bytes = head;
             w.take(raw);
             w.finish(nullptr);
         },
         R"({"offset":0,"buttons":[{"value":0,"note":"Alpha"},1],"game_name":{"text":"R\u00e9d","hex":")" +
             std::string("52e964") + std::string(54, '0') + R"("},"tail":{"size":100,"hex":"ab)" +
             std::string(78, '0') + "cd" + std::string(78, '0') + "ef" + std::string(38, '0') + R"("},"size":132})" +
             "\n"},
        {"numbers of every width and sign",
         [](fields::dump_writer& w) {
             const std::vector<std::pair<const char*, std::int64_t>> numbers{
                 {"a", 0}, {"b", 9}, {"c", 10}, {"d", 9999}, {"e", 10000}, {"f", 65535}, {"g", -1},
                 {"h", -2147483648LL}, {"i", 4294967295LL}, {"j", 1234567890123456789LL}};
             std::uint64_t offset = 0;
             for (const auto& [name, value] : numbers) {
                 w.take(number(name, offset++, 1, value));
             }
             static const std::uint16_t words[] = {0, 9, 10, 99, 100, 9999, 10000, 65535};
             field_leaf points = number("points", offset, 16, 0);
             points.type = leaf_type::u16_array;
             points.words = words;
             w.take(points);
             w.finish(nullptr);
         },
         R"({"offset":0,"a":0,"b":9,"c":10,"d":9999,"e":10000,"f":65535,"g":-1,"h":-2147483648,"i":4294967295,)"
         R"("j":1234567890123456789,"points":[0,9,10,99,100,9999,10000,65535],"size":26})"
         "\n"},
        {"a chain's levels, and the walk's return through them",
         [](fields::dump_writer& w) {
             w.take(number("link_kind", 0, 2, 5, {}, {{"unit", -1}}));
             std::uint64_t offset = 2;
             for (const std::int64_t level : {1, 2, 1}) {
                 w.take(number(level == 2 ? "unkf1" : "word_after_link", offset, 2, 0, {}, {{"unit", -1}, {"linked", level}}));
                 offset += 2;
             }
             w.finish(nullptr);
         },
         R"({"offset":0,"unit":{"offset":0,"link_kind":5,"linked":[{"offset":2,"level":1,"word_after_link":0,"size":2},)"
         R"({"offset":4,"level":2,"unkf1":0,"size":2}],"linked_ends":[{"offset":6,"level":1,"word_after_link":0,)"
         R"("size":2}],"size":8},"size":8})"
         "\n"},
        {"a break begins the parts its read was in, closes every open part at the bytes it reached and holds "
         "the error",
         [&](fields::dump_writer& w) {
             field_leaf list_size = number("size", 0, 2, 3, {}, {{"units", -1}, {"lists", 0}});
             list_size.sizes_list = true;
             w.take(list_size);
             w.take(number("object_id", 2, 2, 7, "reference to object 7", {{"units", -1}, {"lists", 0}, {"slots", 0}}));
             w.finish(&cut);
         },
         R"({"offset":0,"units":{"offset":0,"lists":[{"offset":0,"list_size":3,"slots":[{"offset":2,"object_id":)"
         R"({"value":7,"note":"reference to object 7"},"size":2},{"offset":4,"size":0}],"size":4}],"size":4},)"
         R"("error":{"error":"Read beyond end of file","code":100,"path":"units.lists[0].slots[1].object_id",)"
         R"("offset":4,"needed":2,"left":0},"size":4})"
         "\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(written_by(test.events), test.expected);
    }
}

// ---- the program on built saves, through a JSON parser and the schema ----

sb::unit_description linking(std::uint16_t unit_class)
{
    sb::unit_description unit;
    unit.unit_class = unit_class;
    unit.link_kind = 5;
    return unit;
}

// The counter at 65,533: a unit takes 65,534, links one that takes 65,535
// after its path, and the counter wraps, so the next list's 1 is new.
sb::save_description wrapping_save()
{
    auto save = testing::save_with_index_length(65533);
    sb::unit_description path_carrier;
    path_carrier.path_ref = 65535;
    path_carrier.path_kind = 4;
    path_carrier.path = sb::path_description{{1, 2, 3}, {0, 9, 10, 65535}, 9};
    auto linker = linking(3);
    linker.link_ref = 65535;
    save.unit_lists = {{{{65534, 3, {linker, path_carrier}}}}, {{{1, 4, {sb::unit_description{}}}}}};
    save.tail = {1, 2, 3};
    return save;
}

sb::save_description with_tail(sb::save_description save, std::size_t size)
{
    save.closing_zero_size = true;
    save.tail.assign(size, 0x5A);
    return save;
}

sb::save_description odd_names(std::uint16_t version)
{
    auto save = sb::stream_rich_save(version);
    save.header.game_name = sb::name("Quote\" back\\slash \x01\xFF");
    save.players[1].clan = 3;
    return save;
}

struct document_case {
    const char* name;
    sb::bytes content;
    int exit_code;
    std::string error_path; // empty: complete
    int deepest_level;
    std::uint64_t tail;
    std::uint64_t longest_raw; // the longest raw leaf, checked byte for byte against the file
};

sb::bytes cut(const sb::bytes& content, std::size_t kept)
{
    return sb::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(kept));
}

std::string fact(const std::string& facts, const std::string& name)
{
    const std::regex member("\"" + name + "\": (\"[^\"]*\"|[^,}]*)");
    std::smatch found;
    return std::regex_search(facts, found, member) ? found[1].str() : "missing";
}

TEST(fields_dump, every_feature_parses_validates_and_agrees_with_the_listing)
{
    const sb::bytes rich = sb::build_save(sb::stream_rich_save(70));
    constexpr std::uint64_t megabyte = 1024 * 1024;
    constexpr std::uint64_t loses = 176; // a player's, the longest raw stretch of the fixed part
    constexpr std::uint64_t header_reserved = 5;
    const std::vector<document_case> cases{
        {"the demo save", sb::build_save(sb::demo_save()), 0, "", 2, 10, loses},
        {"version 70: updates, post-updates, references, paths, a chain with its own paths, unkf1 1 and 2", rich,
         0, "", 2, 0, loses},
        {"version 69 with a tail of a megabyte, every byte of it",
         sb::build_save(with_tail(sb::stream_rich_save(69), megabyte)), 0, "", 2, megabyte, megabyte},
        {"version 71: no header beyond the version, no version block", sb::build_save(sb::stream_rich_save(71)), 0,
         "", 2, 0, loses},
        {"names with quotes, backslashes and bytes outside ASCII", sb::build_save(odd_names(70)), 0, "", 2, 0, loses},
        {"the counter wrapping past 65535, points 0 to 65535, a tail", sb::build_save(wrapping_save()), 0, "", 1, 3,
         loses},
        {"cut inside the chain's second linked unit", cut(rich, rich.size() - 100), 1,
         "units.lists[2].slots[0].unit.linked[2].unit_data", 1, 0, loses},
        {"cut inside the resource layer", cut(rich, 224 + 12544 + 9), 1, "resource_layer", 0, 0, header_reserved},
        {"an empty file", {}, 1, "header.version", 0, 0, 0},
    };
    testing::temp_folder folder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const auto save = folder.file("case.sav");
        testing::write_file(save, test.content);
        const auto checked =
            testing::run_program(ORBSE_PYTHON, {ORBSE_DUMP_CHECK, ORBSE_FIELDS_EXECUTABLE, ORBSE_DUMP_SCHEMA, save});
        ASSERT_EQ(checked.exit_code, 0) << checked.standard_error;
        const std::string& facts = checked.standard_output;
        EXPECT_EQ(fact(facts, "exit"), std::to_string(test.exit_code)) << facts;
        EXPECT_EQ(fact(facts, "error_path"), test.error_path.empty() ? "null" : "\"" + test.error_path + "\"");
        EXPECT_EQ(fact(facts, "deepest_level"), std::to_string(test.deepest_level));
        EXPECT_EQ(fact(facts, "tail"), std::to_string(test.tail));
        EXPECT_EQ(fact(facts, "longest_raw"), std::to_string(test.longest_raw));
        if (test.exit_code == 0) {
            EXPECT_EQ(fact(facts, "size"), std::to_string(test.content.size()));
        }
    }
}

} // namespace
} // namespace orbse
