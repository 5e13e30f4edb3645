// orbse-fields as its users run it: each command on built saves, judged by
// exit code, the lines it writes and how they relate to the file.
#include "sample_saves.h"
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;

testing::program_result run_fields(const std::vector<std::string>& arguments)
{
    return testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
}

using testing::lines_of;

// The saves every case may name: complete, cut inside a unit, missing.
class saves {
public:
    saves()
    {
        content = sb::build_save(sb::stream_rich_save(70));
        testing::write_file(complete(), content);
        testing::write_file(cut(), sb::bytes(content.begin(), content.end() - 30));
    }
    std::string complete() const { return folder_.file("complete.sav"); }
    std::string cut() const { return folder_.file("cut.sav"); }
    std::string missing() const { return folder_.file("missing.sav"); }
    sb::bytes content;

private:
    testing::temp_folder folder_;
};

std::string expand(const saves& files, const std::string& argument)
{
    if (argument == "COMPLETE") {
        return files.complete();
    }
    if (argument == "CUT") {
        return files.cut();
    }
    if (argument == "MISSING") {
        return files.missing();
    }
    return argument;
}

struct command_case {
    const char* name;
    std::vector<std::string> arguments;
    int exit_code;
    std::string first_line; // exact, when short enough to write out; empty: not judged
    std::string last_line_holds;
    std::string error_contains;
};

void run_cases(const std::vector<command_case>& cases)
{
    const saves files;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::string> arguments;
        for (const auto& argument : test.arguments) {
            arguments.push_back(expand(files, argument));
        }
        const auto result = run_fields(arguments);
        EXPECT_EQ(result.exit_code, test.exit_code) << result.standard_error;
        EXPECT_EQ(result.standard_output.find('\r'), std::string::npos);
        const auto lines = lines_of(result.standard_output);
        if (!test.first_line.empty()) {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.front(), test.first_line);
        }
        if (!test.last_line_holds.empty()) {
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(lines.back().find(test.last_line_holds), std::string::npos) << lines.back();
        }
        EXPECT_NE(result.standard_error.find(test.error_contains), std::string::npos) << result.standard_error;
    }
}

TEST(fields_program, options_and_usage)
{
    run_cases({
        {"version", {"--version"}, 0, "orbse-fields 0.1.0", "", ""},
        {"help", {"--help"}, 0, "", "Exit status: 0 success", ""},
        {"no command", {}, 2, "", "", "a command is required"},
        {"an unknown option", {"list", "--bogus", "COMPLETE"}, 2, "", "", "bogus"},
        {"an offset that is no number", {"at", "COMPLETE", "0xzz"}, 2, "", "", "not an offset: 0xzz"},
    });
}

TEST(fields_program, list)
{
    run_cases({
        {"a complete save", {"list", "COMPLETE"}, 0, "0x00000000 2 u16 header.version 70", "0x", ""},
        {"as JSON", {"list", "--json", "COMPLETE"}, 0,
         R"({"path":"header.version","offset":0,"size":2,"type":"u16","value":70})", "{\"path\":", ""},
        {"a damaged save", {"list", "CUT"}, 1, "0x00000000 2 u16 header.version 70",
         "error: Read beyond end of file at 0x", "cut.sav: damaged save: Read beyond end of file"},
        {"a damaged save as JSON", {"list", "--json", "CUT"}, 1, "", R"({"error":"Read beyond end of file","code":100,)",
         "cut.sav"},
        {"a missing save", {"list", "MISSING"}, 2, "", "", "missing.sav: File not found"},
    });
}

TEST(fields_program, at)
{
    run_cases({
        {"hex", {"at", "COMPLETE", "0x5"}, 0, "0x00000005 (5) is byte 2 of header.game_name:", "  after: ", ""},
        {"decimal", {"at", "COMPLETE", "161"}, 0, "0x000000a1 (161) is byte 0 of header.reserved:", "  after: ", ""},
        {"past the end", {"at", "COMPLETE", "99999999"}, 2, "", "", "lies past the end of the file"},
        {"after the break", {"at", "CUT", "0x2", "53675"}, 1,
         "0x00000002 (2) is byte 0 of header.save_type:", "error: Read beyond end of file", "damaged save"},
    });
}

TEST(fields_program, check)
{
    run_cases({
        {"complete", {"check", "COMPLETE"}, 0, "", "complete.sav: version 70, 3 lists, 3 units, tail 0 bytes, complete", ""},
        {"damaged beside complete", {"check", "COMPLETE", "CUT"}, 1, "",
         "cut.sav: version 70, damaged: Read beyond end of file at 0x", ""},
        {"missing beside damaged", {"check", "CUT", "MISSING"}, 2, "", "", "missing.sav: File not found"},
    });
}

TEST(fields_program, dump)
{
    run_cases({
        {"a complete save", {"dump", "COMPLETE"}, 0, "", R"("units":{"offset":)", ""},
        {"a damaged save: the document closed, with the break", {"dump", "CUT"}, 1, "",
         R"(,"error":{"error":"Read beyond end of file","code":100,"path":"units.lists[2])",
         "cut.sav: damaged save: Read beyond end of file"},
        {"a missing save", {"dump", "MISSING"}, 2, "", "", "missing.sav: File not found"},
        {"two saves", {"dump", "COMPLETE", "CUT"}, 2, "", "", "not expected"},
    });
    const saves files;
    const auto document = run_fields({"dump", files.complete()});
    EXPECT_EQ(document.standard_output.rfind(R"({"offset":0,"header":{"offset":0,"version":70,)", 0), 0u);
    EXPECT_TRUE(document.standard_output.ends_with(R"(,"size":)" + std::to_string(files.content.size()) + "}\n"));
    EXPECT_TRUE(run_fields({"dump", files.missing()}).standard_output.empty());
}

std::string hex_of(const sb::bytes& content, std::uint64_t offset, std::uint64_t count)
{
    constexpr std::string_view digits = "0123456789abcdef";
    std::string hex;
    for (std::uint64_t at = offset; at < offset + count; ++at) {
        hex += digits[content[at] >> 4];
        hex += digits[content[at] & 15];
    }
    return hex;
}

std::string line_holding(const std::string& output, const std::string& wanted)
{
    for (const auto& line : lines_of(output)) {
        if (line.find(wanted) != std::string::npos) {
            return line;
        }
    }
    return "no line holds " + wanted;
}

// A member of a JSON Lines record whose value holds no comma.
std::string member_of(const std::string& record, const std::string& name)
{
    const auto begin = record.find("\"" + name + "\":");
    if (begin == std::string::npos) {
        return "missing";
    }
    const auto from = begin + name.size() + 3;
    return record.substr(from, record.find_first_of(",}", from) - from);
}

// A raw stretch's JSON record carries every byte the file holds at its
// offset, the tail's too; a line shows the first 64 of a longer one and
// says that it cut them.
TEST(fields_program, list_gives_raw_stretches_whole_in_json_and_cut_in_lines)
{
    constexpr std::uint64_t megabyte = 1024 * 1024;
    auto described = sb::stream_rich_save(70);
    for (std::size_t at = 0; at < described.players[2].loses.size(); ++at) {
        described.players[2].loses[at] = static_cast<std::uint8_t>(at + 1);
    }
    described.players[2].reserved_middle.fill(0xC3);
    described.players[2].reserved_front.fill(0x5A);
    described.closing_zero_size = true;
    described.tail.resize(megabyte);
    for (std::size_t at = 0; at < described.tail.size(); ++at) {
        described.tail[at] = static_cast<std::uint8_t>(at * 7 / 3);
    }
    const sb::bytes content = sb::build_save(described);
    const testing::temp_folder folder;
    const auto save = folder.file("raw.sav");
    testing::write_file(save, content);
    const auto records = run_fields({"list", "--json", save});
    const auto lines = run_fields({"list", save});
    ASSERT_EQ(records.exit_code, 0) << records.standard_error;
    ASSERT_EQ(lines.exit_code, 0) << lines.standard_error;
    const struct {
        std::string path;
        std::uint64_t size;
        std::string line_ends; // after the first 64 bytes
    } cases[]{
        {"players[2].loses", 176, "... (first 64 of 176 bytes)"},
        {"players[2].reserved_middle", 110, "... (first 64 of 110 bytes)"},
        {"players[2].reserved_front", 40, ""},
        {"tail", megabyte, "... (first 64 of 1048576 bytes)"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.path);
        const auto record = line_holding(records.standard_output, R"({"path":")" + test.path + R"(",)");
        const auto offset = std::stoull(member_of(record, "offset"));
        EXPECT_EQ(member_of(record, "size"), std::to_string(test.size));
        EXPECT_EQ(member_of(record, "value"), std::string(1, '"').append(hex_of(content, offset, test.size)).append(1, '"'));
        const auto line = line_holding(lines.standard_output, " raw " + test.path + " ");
        EXPECT_EQ(line.substr(line.find(" raw ")),
                  " raw " + test.path + " " + hex_of(content, offset, std::min<std::uint64_t>(test.size, 64)) + test.line_ends);
    }
}

// Every byte of the file lies in exactly one listed leaf, and `at` finds
// the leaf the listing gives for it.
TEST(fields_program, list_tiles_the_file_and_at_agrees)
{
    const saves files;
    const auto listed = run_fields({"list", files.complete()});
    ASSERT_EQ(listed.exit_code, 0);
    std::uint64_t next = 0;
    std::vector<std::string> sampled;
    for (const auto& line : lines_of(listed.standard_output)) {
        std::istringstream fields(line);
        std::string offset_text;
        std::uint64_t size = 0;
        fields >> offset_text >> size;
        ASSERT_EQ(std::stoull(offset_text, nullptr, 16), next) << line;
        if (line.find(".unit.unk5 ") != std::string::npos || line.find(".path.points ") != std::string::npos) {
            sampled.push_back(line);
        }
        next += size;
    }
    EXPECT_EQ(next, files.content.size());
    ASSERT_FALSE(sampled.empty());
    for (const auto& line : sampled) {
        const std::string offset = line.substr(0, line.find(' '));
        const auto found = run_fields({"at", files.complete(), offset});
        ASSERT_EQ(found.exit_code, 0);
        EXPECT_EQ(lines_of(found.standard_output).at(1), "  " + line);
    }
}

} // namespace
} // namespace orbse
