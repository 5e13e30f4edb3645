// Cuts a save rich in stream features at every offset of its unit stream,
// and at every boundary of its fixed part and groups, and runs the real
// inspector on each cut: a cut inside anything is "Read beyond end of file"
// with no picture and the older report untouched; a cut right after a whole
// unit list is a complete save. orbse-fields check and diff say the same.
#include "hostile_support.h"
#include "sample_saves.h"
#include "save_builder.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace orbse {
namespace {

namespace sb = save_builder;

// File sizes at which the save ends right after a whole unit list.
std::set<std::size_t> list_ends(const sb::save_description& save)
{
    std::set<std::size_t> ends;
    sb::save_description prefix = save;
    for (std::size_t lists = 1; lists <= save.unit_lists.size(); ++lists) {
        prefix.unit_lists.assign(save.unit_lists.begin(), save.unit_lists.begin() + static_cast<std::ptrdiff_t>(lists));
        ends.insert(sb::build_save(prefix).size());
    }
    return ends;
}

// Offsets where a field or record of the fixed part and the groups begins,
// with their neighbours, and every byte of the header.
std::set<std::size_t> fixed_part_cuts(std::size_t stream_start)
{
    // The header is read in one piece after the version word, so its
    // boundaries stand for every offset inside it.
    std::set<std::size_t> cuts{0, 1, 2, 3, 100};
    std::vector<std::size_t> starts{header_size, header_size + map_cell_count,
                                    header_size + map_cell_count * 3};
    for (int player = 0; player <= player_count; ++player) {
        starts.push_back(header_size + map_cell_count * 3 + static_cast<std::size_t>(player) * player_record_size);
    }
    starts.push_back(sb::fixed_part_size(70));
    for (std::size_t offset = sb::fixed_part_size(70); offset < stream_start; offset += 251) {
        starts.push_back(offset);
    }
    starts.push_back(stream_start);
    for (const std::size_t start : starts) {
        cuts.insert({start - 1, start, start + 1});
    }
    return cuts;
}

// orbse-fields check on the same cut: a complete save, or a break whose
// failing read began at or before the cut and asked for bytes past it.
void expect_check_of_cut(const std::string& save, std::size_t size, bool complete)
{
    const testing::program_result checked = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"check", save});
    if (complete) {
        EXPECT_EQ(checked.exit_code, 0) << checked.standard_output;
        EXPECT_NE(checked.standard_output.find(", complete\n"), std::string::npos) << checked.standard_output;
        return;
    }
    EXPECT_EQ(checked.exit_code, 1) << checked.standard_output << checked.standard_error;
    static const std::regex broken(
        R"(: version \d+, damaged: Read beyond end of file at 0x[0-9a-f]+ \((\d+)\) reading \S+: needed (\d+) bytes, (\d+) left\n$)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(checked.standard_output, found, broken)) << checked.standard_output;
    const std::uint64_t offset = std::stoull(found[1]);
    const std::uint64_t needed = std::stoull(found[2]);
    EXPECT_LE(offset, size);
    EXPECT_GT(offset + needed, size);
    EXPECT_EQ(std::stoull(found[3]), size - offset);
}

// orbse-fields diff of the whole save against the cut: they differ, and the
// cut one is compared up to where it breaks, which the last line reports,
// as check does. Its comparison of the files' bytes meets the cut file's end
// wherever it is.
void expect_diff_of_cut(const std::string& whole, const std::string& save, std::size_t size, bool complete)
{
    const testing::program_result compared = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"diff", whole, save});
    EXPECT_EQ(compared.exit_code, 1) << compared.standard_output << compared.standard_error;
    const std::string& lines = compared.standard_output;
    ASSERT_FALSE(lines.empty());
    const std::string last = lines.substr(lines.rfind('\n', lines.size() - 2) + 1);
    if (complete) {
        EXPECT_EQ(lines.find("error:"), std::string::npos) << lines;
        return;
    }
    static const std::regex broken(R"(^error: save 2: Read beyond end of file at 0x[0-9a-f]+ \((\d+)\) reading \S+: needed (\d+) bytes, (\d+) left\n$)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(last, found, broken)) << lines;
    EXPECT_LE(std::stoull(found[1]), size);
    EXPECT_EQ(std::stoull(found[3]), size - std::stoull(found[1]));
}

TEST(truncation, every_cut_fails_cleanly_unless_it_ends_a_whole_list)
{
    const sb::save_description description = sb::stream_rich_save();
    const sb::bytes content = sb::build_save(description);
    sb::save_description without_stream = description;
    without_stream.unit_lists.clear();
    const std::size_t stream_start = sb::build_save(without_stream).size();
    const std::set<std::size_t> complete_sizes = list_ends(description);
    ASSERT_EQ(*complete_sizes.rbegin(), content.size());

    std::set<std::size_t> cuts = fixed_part_cuts(stream_start);
    for (std::size_t offset = stream_start; offset < content.size(); ++offset) {
        cuts.insert(offset);
    }

    testing::temp_folder folder;
    const auto save = folder.file("cut.sav");
    const auto report = save + ".inf";
    const auto whole = folder.file("whole.sav");
    testing::write_file(whole, content);
    int complete_runs = 0;
    for (const std::size_t size : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(size) + " of " + std::to_string(content.size()));
        testing::write_file(save, sb::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(size)));
        testing::write_text_file(report, "older report");
        const testing::program_result result = testing::run_inspector({save});
        expect_check_of_cut(save, size, complete_sizes.count(size) != 0);
        if (size % 17 == 0 || complete_sizes.count(size) != 0) {
            expect_diff_of_cut(whole, save, size, complete_sizes.count(size) != 0);
        }
        if (complete_sizes.count(size) != 0) {
            EXPECT_EQ(result.exit_code, 0) << result.standard_error;
            EXPECT_NE(testing::read_text_file(report), "older report");
            ++complete_runs;
            for (const char* suffix : {"_pass.bmp", "_rm1.bmp", "_rm2.bmp"}) {
                std::filesystem::remove(save + suffix);
            }
            continue;
        }
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.standard_error.find("\r\nRead beyond end of file.\r\n\r\n"), std::string::npos)
            << result.standard_error;
        EXPECT_EQ(testing::read_text_file(report), "older report");
        for (const char* suffix : {"_pass.bmp", "_rm1.bmp", "_rm2.bmp"}) {
            EXPECT_FALSE(testing::file_exists(save + suffix)) << suffix;
        }
    }
    EXPECT_EQ(complete_runs, 2); // after the first list and after the second; the whole file is not a cut
}

// The walks of diff pass over lists whose bytes both files hold, up to the
// cut file's last byte but one; cut inside a unit there, the cut save's walk
// breaks within its skip, before the leaves of the unit that the whole
// save's skip left out, so the skips cannot be taken and both saves are
// walked again. Whole against cut and cut against whole, every cut of
// the lists reports the break check does, as the last line, and only there.
TEST(truncation, diff_against_a_cut_inside_lists_its_walks_pass_over_reports_the_break_check_does)
{
    sb::save_description description = sb::empty_save(70);
    for (std::uint16_t list = 0; list < 5; ++list) {
        sb::unit_description walker;
        walker.unit_class = 10;
        walker.path = sb::path_description{};
        walker.path->points.assign(9000, list);
        sb::unit_list_description units{{sb::new_unit(2, {walker})}};
        for (std::uint16_t unit = 0; unit < 40; ++unit) {
            sb::unit_description plain;
            plain.unit_class = 10;
            plain.selected = unit;
            units.slots.push_back(sb::new_unit(2, {plain}));
        }
        units.slots.push_back(sb::reference(7));
        description.unit_lists.push_back(units);
    }
    description.closing_zero_size = false; // a save may end after any whole list
    sb::number_units(description);
    const sb::bytes whole_content = sb::build_save(description);
    // The cut save differs in its header too, so that the walks hand on the
    // lists rather than leave out all that comes before the cut.
    description.header.save_date = 1000;
    const sb::bytes content = sb::build_save(description);
    const std::set<std::size_t> complete_sizes = list_ends(description);
    sb::save_description without_stream = description;
    without_stream.unit_lists.clear();
    std::set<std::size_t> cuts(complete_sizes.begin(), complete_sizes.end());
    for (std::size_t size = sb::build_save(without_stream).size(); size < content.size(); size += 661) {
        cuts.insert(size);
    }
    cuts.erase(content.size());

    testing::temp_folder folder;
    const auto whole = folder.file("whole.sav");
    const auto save = folder.file("cut.sav");
    testing::write_file(whole, whole_content);
    for (const std::size_t size : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(size) + " of " + std::to_string(content.size()));
        testing::write_file(save, sb::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(size)));
        const std::string checked = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"check", save}).standard_output;
        const auto reported = checked.find("Read beyond end of file");
        const std::string broken = reported == std::string::npos ? "" : checked.substr(reported);
        for (const bool whole_first : {true, false}) {
            const testing::program_result compared = testing::run_program(
                ORBSE_FIELDS_EXECUTABLE, {"diff", whole_first ? whole : save, whole_first ? save : whole});
            EXPECT_EQ(compared.exit_code, 1) << compared.standard_error;
            const std::string& lines = compared.standard_output;
            ASSERT_FALSE(lines.empty());
            const std::size_t last = lines.rfind('\n', lines.size() - 2) + 1;
            EXPECT_EQ(lines.find("header.save_date "), lines.find('\n') + 1) << lines; // after the line naming the saves
            if (complete_sizes.count(size) != 0) {
                EXPECT_EQ(lines.find("error:"), std::string::npos) << lines;
                continue;
            }
            ASSERT_FALSE(broken.empty()) << checked;
            EXPECT_EQ(lines.substr(last), std::string(whole_first ? "error: save 2: " : "error: save 1: ") + broken);
            EXPECT_EQ(lines.find("error:"), last) << lines;
        }
    }
}

} // namespace
} // namespace orbse
