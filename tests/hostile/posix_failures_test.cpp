// Failures that POSIX would turn into a signal or a misread code, through the
// real executables: a limit on the size of files, a standard error (and the
// field program's standard output) whose reader has gone, a report its owner
// may write but not read, and a read the system refuses with its own error
// number.
#include "hostile_support.h"
#include "support/run_program_posix.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <regex>
#include <sys/resource.h>
#include <unistd.h>

namespace orbse {
namespace {

namespace fs = std::filesystem;
using testing::bytes;

struct prepared_save {
    testing::temp_folder folder;
    std::string save = folder.file("game.sav");
    bytes content = testing::small_rich_save();
    prepared_save() { testing::write_file(save, content); }
};

// The outputs of a run without failure, to compare with.
testing::run_outputs complete_outputs()
{
    prepared_save reference;
    EXPECT_EQ(testing::run_inspector({reference.save}).exit_code, 0);
    return testing::collect_outputs(reference.save);
}

void expect_inspector_failure(const testing::program_result& result, const std::string& message)
{
    EXPECT_EQ(result.exit_code, 1);
    const std::regex expected("Exception EInOutError in module " +
                              testing::module_name_pattern(testing::inspector_path()) + " at [0-9A-F]{8}\\.\r\n" +
                              message + "\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.standard_error, expected)) << result.standard_error;
}

// As a shell leaves them, whatever the test process did with them.
void default_signals()
{
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
}

TEST(posix_failures, a_limit_on_file_sizes_cuts_the_picture_and_reports_disk_full)
{
    const testing::run_outputs complete = complete_outputs();
    // Above the length of the failure report, which goes to a file under the
    // same limit.
    for (const rlim_t limit : {rlim_t{4096}, rlim_t{100001}, rlim_t{1024000}}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        prepared_save run;
        testing::plant_older_outputs(run.save);
        const auto result = testing::run_prepared(testing::inspector_path(), {run.save}, [&] {
            default_signals();
            const rlimit capped{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &capped) != 0) {
                ::_exit(126);
            }
        });
        expect_inspector_failure(result, "Disk full");
        const testing::run_outputs left = testing::collect_outputs(run.save);
        EXPECT_TRUE(left.files[0] == bytes(complete.files[0].begin(), complete.files[0].begin() + limit))
            << "the picture holds " << left.files[0].size() << " bytes";
        EXPECT_TRUE(left.untouched[1] && left.untouched[2] && left.report_untouched());
        EXPECT_EQ(testing::read_file(run.save), run.content);
    }
}

TEST(posix_failures, a_standard_error_whose_reader_has_gone_still_ends_with_exit_code_1)
{
    const testing::run_outputs complete = complete_outputs();
    struct closed_pipe_case {
        const char* name;
        bool save_present;
        std::size_t pictures_written;
    };
    for (const closed_pipe_case& failing : {closed_pipe_case{"a missing save", false, 0},
                                           closed_pipe_case{"a report name taken by a folder", true, 3}}) {
        SCOPED_TRACE(failing.name);
        prepared_save run;
        if (!failing.save_present) {
            fs::remove(run.save);
        }
        fs::create_directory(run.save + ".inf");
        const auto result = testing::run_prepared(testing::inspector_path(), {run.save}, [] {
            int ends[2];
            if (::pipe(ends) != 0 || ::dup2(ends[1], STDERR_FILENO) < 0) {
                ::_exit(126);
            }
            ::close(ends[0]);
            ::close(ends[1]);
            default_signals();
        });
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.standard_output + result.standard_error, "");
        EXPECT_EQ(testing::file_exists(run.save), failing.save_present);
        EXPECT_TRUE(fs::is_directory(run.save + ".inf"));
        for (std::size_t picture = 0; picture < 3; ++picture) {
            const std::string path = run.save + testing::output_suffixes[picture];
            EXPECT_EQ(testing::file_exists(path), picture < failing.pictures_written);
            if (picture < failing.pictures_written) {
                EXPECT_TRUE(testing::read_file(path) == complete.files[picture]) << path;
            }
        }
    }
}

// orbse-fields writing into a pipe whose reader has gone ends quietly with
// 141, whether the first write comes from the thread that writes long
// outputs (list) or at the end (check); a full device is still a failure,
// reported. SIGPIPE is left on, as a shell leaves it.
TEST(posix_failures, the_field_program_ends_quietly_when_its_reader_goes_and_reports_a_full_output)
{
    struct output_case {
        const char* name;
        const char* command;
        bool reader_gone; // else standard output is /dev/full
        int exit_code;
        std::string error;
    };
    prepared_save run;
    const std::string unwritten = "standard output could not be written\n";
    const std::vector<output_case> cases{
        {"list, reader gone", "list", true, 141, ""},
        {"check, reader gone", "check", true, 141, ""},
        {"list, device full", "list", false, 2, "orbse-fields: " + run.save + ": " + unwritten},
        {"check, device full", "check", false, 2, "orbse-fields: " + unwritten},
    };
    for (const auto& output : cases) {
        SCOPED_TRACE(output.name);
        if (!output.reader_gone && !testing::file_exists("/dev/full")) {
            continue;
        }
        const auto result = testing::run_prepared(ORBSE_FIELDS_EXECUTABLE, {output.command, run.save}, [&] {
            int ends[2] = {-1, -1};
            if (output.reader_gone ? ::pipe(ends) != 0 : (ends[1] = ::open("/dev/full", O_WRONLY)) < 0) {
                ::_exit(126);
            }
            if (::dup2(ends[1], STDOUT_FILENO) < 0) {
                ::_exit(126);
            }
            ::close(ends[0]);
            ::close(ends[1]);
            default_signals();
        });
        EXPECT_EQ(result.exit_code, output.exit_code);
        EXPECT_EQ(result.standard_error, output.error);
    }
}

// Run as root, the test hands the folder to `nobody` and the program runs as
// that user, for whom permissions hold; the paths must be open to others.
struct ordinary_user {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;

    void hand_over(const fs::path& folder) const
    {
        for (const auto& entry : fs::directory_iterator(folder)) {
            ::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid);
        }
        ::lchown(folder.c_str(), nobody->pw_uid, nobody->pw_gid);
    }
    void become() const
    {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) {
            ::_exit(126);
        }
    }
};

bool reachable_by_others(fs::path path)
{
    for (; path != path.root_path(); path = path.parent_path()) {
        if ((fs::status(path.parent_path()).permissions() & fs::perms::others_exec) == fs::perms::none) {
            return false;
        }
    }
    return true;
}

TEST(posix_failures, the_report_is_only_written_and_the_pictures_are_read_and_written)
{
    const ordinary_user runner;
    const bool as_root = ::geteuid() == 0;
    if (as_root && (runner.nobody == nullptr || !reachable_by_others(fs::temp_directory_path() / "x") ||
                    !reachable_by_others(testing::inspector_path()))) {
        GTEST_SKIP() << "no user nobody, or the temporary folder or the program is closed to others";
    }
    const testing::run_outputs complete = complete_outputs();
    struct write_only_case {
        const char* name;
        std::size_t write_only_output;
        const char* message; // nullptr: the run succeeds
    };
    for (const write_only_case& access : {write_only_case{"a write-only report is replaced", 3, nullptr},
                                          write_only_case{"a write-only picture is refused", 0, "File access denied"}}) {
        SCOPED_TRACE(access.name);
        prepared_save run;
        testing::plant_older_outputs(run.save);
        const std::string write_only = run.save + testing::output_suffixes[access.write_only_output];
        fs::permissions(write_only, fs::perms::owner_write);
        if (as_root) {
            runner.hand_over(run.folder.path());
        }
        const auto result = testing::run_prepared(testing::inspector_path(), {run.save}, [&] {
            if (as_root) {
                runner.become();
            }
        });
        EXPECT_EQ(fs::status(write_only).permissions(), fs::perms::owner_write);
        fs::permissions(write_only, fs::perms::owner_read, fs::perm_options::add);
        const testing::run_outputs left = testing::collect_outputs(run.save);
        if (access.message == nullptr) {
            EXPECT_EQ(result.exit_code, 0);
            EXPECT_EQ(result.standard_error, "");
            EXPECT_TRUE(left.files == complete.files) << "the outputs differ from a complete run's";
        } else {
            expect_inspector_failure(result, access.message);
            EXPECT_EQ(left.untouched, (std::array<bool, 4>{true, true, true, true}));
        }
        EXPECT_EQ(testing::read_file(run.save), run.content);
    }
}

TEST(posix_failures, a_read_the_system_refuses_prints_the_code_of_its_meaning)
{
    struct refused_read_case {
        const char* name;
        int system_error;
        std::string message;
    };
    for (const refused_read_case& refused : {
             refused_read_case{"EIO", EIO, "I/O error 1117"},
             refused_read_case{"ETXTBSY", ETXTBSY, "I/O error 32"},
             refused_read_case{"ENETDOWN, 100 on Linux", ENETDOWN, "I/O error " + std::to_string(20000 + ENETDOWN)},
         }) {
        SCOPED_TRACE(refused.name);
        prepared_save run;
        testing::plant_older_outputs(run.save);
        const testing::fault_run failed =
            testing::run_with_faults(run.save, {{"ORBSE_FAIL_SYSTEM_READ", 1},
                                                {"ORBSE_FAIL_SYSTEM_ERROR", refused.system_error}});
        testing::expect_failure_message(failed.result, "EInOutError", refused.message);
        EXPECT_EQ(testing::collect_outputs(run.save).untouched, (std::array<bool, 4>{true, true, true, true}));
        EXPECT_EQ(testing::read_file(run.save), run.content);
    }
}

} // namespace
} // namespace orbse
