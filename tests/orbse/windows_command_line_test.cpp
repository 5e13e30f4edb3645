// Windows only: the inspector reads its raw command line, names itself by
// its own file name and meets other programs' share modes. The tests start
// it with CreateProcessA and a command line typed out exactly.
#include "save_builder.h"
#include "support/run_program_win32.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::program_result;
using testing::raw_run;
using testing::temp_folder;

const char* const output_suffixes[] = {".inf", "_pass.bmp", "_rm1.bmp", "_rm2.bmp"};

// Every file below `folder`, as paths relative to it, sorted.
std::vector<std::string> files_below(const temp_folder& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
        if (entry.is_regular_file()) {
            names.push_back(std::filesystem::relative(entry.path(), folder.path()).string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> with_outputs_of(std::vector<std::string> names, const std::string& save)
{
    for (const char* suffix : output_suffixes) {
        names.push_back(save + suffix);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The inspector, run in `folder` with `arguments` typed after its name.
program_result run_in(const temp_folder& folder, const std::string& arguments)
{
    raw_run run;
    run.command_line = testing::inspector_command_word() + " " + arguments;
    run.working_folder = folder.path().string();
    return testing::run_raw(testing::inspector_path(), run);
}

// The saves every command line below may name: spaces, and the words the
// splitting examples make.
const std::vector<std::string> save_names{"plain.sav", "My Saves\\with space.sav", "a bc", "abcd"};

void put_saves_into(const temp_folder& folder)
{
    std::filesystem::create_directory(folder.path() / "My Saves");
    for (const auto& name : save_names) {
        testing::write_file(folder.file(name), sb::build_save(sb::empty_save()));
    }
}

struct command_line_case {
    const char* typed;  // the arguments as typed after the program's name
    const char* loaded; // the save the one argument names, or nullptr: no run
};

TEST(windows_command_line, is_split_from_the_raw_line)
{
    const std::vector<command_line_case> cases{
        {"plain.sav", "plain.sav"},
        {"\t plain.sav \t", "plain.sav"},
        // A quoted stretch keeps its spaces and loses its quotes, also in
        // the middle of a word.
        {"\"My Saves\\with space.sav\"", "My Saves\\with space.sav"},
        {"My\" \"Saves\\with\" space.sav\"", "My Saves\\with space.sav"},
        {"\"a b\"c", "a bc"},
        {"ab\"\"cd", "abcd"},
        {"pla\"in.s\"av", "plain.sav"},
        // An unclosed stretch runs to the end of the line.
        {"\"plain.sav", "plain.sav"},
        // Separate "" pairs are skipped wherever they stand.
        {"plain.sav \"\"", "plain.sav"},
        {"\"\" plain.sav", "plain.sav"},
        {"\"\" \"\" plain.sav \"\" \"\"", "plain.sav"},
        // A lone quote at the end is an empty word, which ends the count.
        {"plain.sav \"", "plain.sav"},
        // A lone quote before a space opens a stretch holding that space: a
        // second argument.
        {"plain.sav \" ", nullptr},
        {"plain.sav plain.sav", nullptr},
        {"\"My Saves\\with\" \"space.sav\"", nullptr},
        {"", nullptr},
        {"\"\"", nullptr},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string("typed: ") + entry.typed);
        const temp_folder folder;
        put_saves_into(folder);
        const auto saves_only = files_below(folder);
        const program_result result = run_in(folder, entry.typed);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.standard_output, "");
        EXPECT_EQ(result.standard_error, "");
        EXPECT_EQ(files_below(folder), entry.loaded ? with_outputs_of(saves_only, entry.loaded) : saves_only);
    }
}

TEST(windows_command_line, a_program_name_with_spaces_is_one_word)
{
    const temp_folder folder;
    put_saves_into(folder);
    const auto program = folder.file("My Tools\\or bse.exe");
    std::filesystem::create_directory(folder.path() / "My Tools");
    std::filesystem::copy_file(testing::inspector_path(), program);
    const auto before = files_below(folder);
    raw_run run;
    run.command_line = "\"" + program + "\" plain.sav";
    run.working_folder = folder.path().string();
    const program_result result = testing::run_raw(program, run);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(files_below(folder), with_outputs_of(before, "plain.sav"));
}

// A file held open by this test process, with the share mode it grants
// other processes.
class held_file {
public:
    held_file(const std::string& path, DWORD access, DWORD sharing)
        : handle_(::CreateFileA(path.c_str(), access, sharing, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr))
    {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << path << ": error " << ::GetLastError();
    }
    ~held_file()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    held_file(const held_file&) = delete;
    held_file& operator=(const held_file&) = delete;

private:
    HANDLE handle_;
};

// The exact standard error of a failed run: the module is the program's file
// name without its folder; the address is any eight upper-case hex digits.
void expect_failure_report(const program_result& result, const std::string& module, const std::string& message)
{
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.standard_output, "");
    const std::regex expected("Exception EInOutError in module " + module + " at [0-9A-F]{8}\\.\r\n" + message +
                              "\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.standard_error, expected)) << result.standard_error;
}

struct failure_case {
    const char* description;
    const char* typed;
    // Opened before the run: a file of the folder, the access and the share
    // mode this test holds it with; no file when empty.
    const char* held;
    DWORD held_access;
    DWORD held_sharing;
    const char* message;
    std::vector<std::string> outputs; // what the run leaves beside the saves
};

TEST(windows_failure_report, names_the_module_and_the_platform_codes)
{
    const std::vector<std::string> images{"plain.sav_pass.bmp", "plain.sav_rm1.bmp", "plain.sav_rm2.bmp"};
    const std::vector<failure_case> cases{
        {"a missing save", "missing.sav", "", 0, 0, "File not found", {}},
        {"a missing folder", "\"no such folder\\plain.sav\"", "", 0, 0, "Invalid filename", {}},
        {"a folder for a save", "\"My Saves\"", "", 0, 0, "File access denied", {}},
        {"a save its holder shares with nobody", "plain.sav", "plain.sav", GENERIC_READ, 0, "I/O error 32",
         {}},
        {"a picture whose holder does not share writing", "plain.sav", "plain.sav_rm1.bmp", GENERIC_READ,
         FILE_SHARE_READ, "I/O error 32", {"plain.sav_pass.bmp", "plain.sav_rm1.bmp"}},
        {"a report whose holder does not share writing", "plain.sav", "plain.sav.inf", GENERIC_READ,
         FILE_SHARE_READ, "I/O error 105", {"plain.sav.inf", "plain.sav_pass.bmp", "plain.sav_rm1.bmp",
                                             "plain.sav_rm2.bmp"}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.description);
        const temp_folder folder;
        put_saves_into(folder);
        const auto saves_only = files_below(folder);
        program_result result;
        {
            std::optional<held_file> holder;
            if (*entry.held != '\0') {
                holder.emplace(folder.file(entry.held), entry.held_access, entry.held_sharing);
            }
            result = run_in(folder, entry.typed);
        }
        expect_failure_report(result, "orbse\\.exe", entry.message);
        auto expected_files = saves_only;
        expected_files.insert(expected_files.end(), entry.outputs.begin(), entry.outputs.end());
        std::sort(expected_files.begin(), expected_files.end());
        EXPECT_EQ(files_below(folder), expected_files);
    }
}

TEST(windows_failure_report, names_a_renamed_program_by_its_file_name)
{
    const temp_folder folder;
    put_saves_into(folder);
    std::filesystem::create_directory(folder.path() / "Tools Dir");
    const auto program = folder.file("Tools Dir\\t.exe");
    std::filesystem::copy_file(testing::inspector_path(), program);
    raw_run run;
    run.command_line = "\"" + program + "\" missing.sav";
    run.working_folder = folder.path().string();
    expect_failure_report(testing::run_raw(program, run), "t\\.exe", "File not found");
}

TEST(windows_failure_report, without_standard_error_says_nothing_and_still_fails)
{
    const temp_folder folder;
    put_saves_into(folder);
    raw_run run;
    run.command_line = testing::inspector_command_word() + " missing.sav";
    run.working_folder = folder.path().string();
    run.with_standard_error = false;
    const program_result result = testing::run_raw(testing::inspector_path(), run);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, "");
}

TEST(windows_shared_save, a_holder_that_denies_writing_does_not_stop_the_run)
{
    // The save is only read, so a program that keeps it open and lets
    // others read it (an editor, a backup) does not get in the way.
    const temp_folder folder;
    put_saves_into(folder);
    const auto saves_only = files_below(folder);
    program_result result;
    {
        const held_file holder(folder.file("plain.sav"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
        result = run_in(folder, "plain.sav");
    }
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(files_below(folder), with_outputs_of(saves_only, "plain.sav"));
}

TEST(windows_report, ends_every_line_in_cr_lf)
{
    const temp_folder folder;
    put_saves_into(folder);
    ASSERT_EQ(run_in(folder, "plain.sav").exit_code, 0);
    const std::string report = testing::read_text_file(folder.file("plain.sav.inf"));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.substr(report.size() - 2), "\r\n");
    for (std::size_t at = report.find('\n'); at != std::string::npos; at = report.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(report[at - 1], '\r') << "line break at byte " << at;
    }
}

} // namespace
} // namespace orbse
