// Runs the real executable on real files in a temporary folder.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <regex>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::program_result;
using testing::run_inspector;
using testing::temp_folder;

const char* const output_suffixes[] = {".inf", "_pass.bmp", "_rm1.bmp", "_rm2.bmp"};

// The three lines of a failure report, each ended by CR LF; the address is
// any eight upper-case hex digits.
void expect_failure_report(const program_result& result, const std::string& message)
{
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.standard_output, "");
    const std::regex expected("Exception EInOutError in module " +
                              testing::module_name_pattern(testing::inspector_path()) +
                              " at [0-9A-F]{8}\\.\r\n" + message +
                              "\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.standard_error, expected)) << result.standard_error;
}

std::vector<std::string> files_in(const temp_folder& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(inspector, any_argument_count_but_one_does_nothing)
{
    temp_folder folder;
    const auto save = folder.file("game.sav");
    testing::write_file(save, sb::build_save(sb::empty_save()));
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {save, save}, {save, "other"}, {"", ""}, {"a", "b", "c"}}) {
        const program_result result = run_inspector(arguments, folder.path().string());
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.standard_output, "");
        EXPECT_EQ(result.standard_error, "");
        EXPECT_EQ(files_in(folder), std::vector<std::string>{"game.sav"});
    }
}

TEST(inspector, empty_words_do_not_count)
{
    temp_folder folder;
    const auto save = folder.file("game.sav");
    testing::write_file(save, sb::build_save(sb::empty_save()));
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"", save}, {save, ""}}) {
        const program_result result = run_inspector(arguments);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.standard_error, "");
    }
}

TEST(inspector, loads_a_save_quietly_whatever_its_name)
{
    temp_folder folder;
    std::filesystem::create_directory(folder.path() / "My Saves");
    const std::vector<std::string> names{"game.sav", "My Saves/with space.dat", "no_extension",
                                         "\xE9t\xE9 caf\xE9.sav"};
    for (const auto& name : names) {
        const auto save = folder.file(name);
        testing::write_file(save, sb::build_save(sb::empty_save()));
        const program_result result = run_inspector({save});
        EXPECT_EQ(result.exit_code, 0) << name;
        EXPECT_EQ(result.standard_output, "") << name;
        EXPECT_EQ(result.standard_error, "") << name;
    }
}

TEST(inspector, a_read_only_save_loads_and_stays_as_it_was)
{
    temp_folder folder;
    const auto save = folder.file("backup.sav");
    const auto content = sb::build_save(sb::empty_save(69));
    testing::write_file(save, content);
    std::filesystem::permissions(save, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const program_result result = run_inspector({save});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(testing::read_file(save), content);
}

TEST(inspector, a_missing_save_or_folder_is_reported)
{
    temp_folder folder;
    expect_failure_report(run_inspector({folder.file("missing.sav")}), "File not found");
    expect_failure_report(run_inspector({folder.file("missing/game.sav")}), "Invalid filename");
    expect_failure_report(run_inspector({folder.path().string()}), "File access denied");
    EXPECT_TRUE(files_in(folder).empty());
}

TEST(inspector, a_short_save_fails_and_leaves_older_outputs_untouched)
{
    temp_folder folder;
    const auto save = folder.file("cut.sav");
    const auto content = sb::build_save(sb::empty_save());
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{300}, sb::fixed_part_size(70),
                                   content.size() - 1}) {
        testing::write_file(save, sb::bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(size)));
        for (const char* suffix : output_suffixes) {
            testing::write_text_file(save + suffix, std::string("older ") + suffix);
        }
        expect_failure_report(run_inspector({save}), "Read beyond end of file");
        for (const char* suffix : output_suffixes) {
            EXPECT_EQ(testing::read_text_file(save + suffix), std::string("older ") + suffix) << size;
        }
    }
}

} // namespace
} // namespace orbse
