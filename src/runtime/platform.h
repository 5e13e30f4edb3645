// The one place that knows the operating system. Everything above it sees
// files, standard error and the command line through these few calls, so a
// POSIX and a Win32 implementation can sit side by side behind one header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orbse::platform {

// An open file of the operating system: a descriptor on POSIX, a HANDLE on
// Windows, held as an integer wide enough for either.
struct native_file {
    std::intptr_t value = -1;
};

// What every call below answers: 0 for success, otherwise the code the rest
// of the program reports (the Windows error codes, or POSIX errors mapped
// onto them).
using error_code = std::int32_t;

// Opens an existing file for reading; others may read and write it.
error_code open_existing_for_reading(const std::string& name, native_file& file);

// Creates a file, or truncates an existing one to zero length. With
// `share_write` (the pictures) it is opened for reading and writing and other
// processes may read and write it too; without (the report) it is opened for
// writing and others may only read it while we hold it.
error_code create_always(const std::string& name, bool share_write, native_file& file);

// Reads up to `count` bytes; `transferred` tells how many arrived (fewer only
// at the end of the file).
error_code read(native_file file, void* buffer, std::size_t count, std::size_t& transferred);

// Writes up to `count` bytes; `transferred` tells how many were taken.
error_code write(native_file file, const void* data, std::size_t count, std::size_t& transferred);

// A stretch of memory that a gathered write takes whole.
struct write_piece {
    const void* data = nullptr;
    std::size_t size = 0;
};

// Writes the pieces one after another, as if they were one block: the file
// receives the same bytes as from one write of them joined, without their
// being joined first. `transferred` tells how many bytes were taken in all.
error_code write_gathered(native_file file, const write_piece* pieces, std::size_t count,
                          std::size_t& transferred);

// Creates a new file in the system's folder for temporary files (TMPDIR, or
// /tmp, on POSIX; GetTempPath's folder on Windows), under a name no file had
// before, and opens it for writing alone; `name` receives its path.
error_code create_temporary(native_file& file, std::string& name);

// Creates a new file in the folder of `final_name`, under a name no file
// had, with the permissions a newly created file gets, and opens it for
// writing alone; `name` receives its path. A file written there can take
// `final_name` by rename_replacing: the same folder is the same file system.
error_code create_beside(const std::string& final_name, native_file& file, std::string& name);

// Waits until the file's bytes are on the disk (fsync, FlushFileBuffers):
// a file renamed over another must not be found empty after a power cut.
error_code flush_to_disk(native_file file);

// Gives the file `from` the name `to` in one step, replacing a file of that
// name. Windows refuses while another program holds `to` open without
// letting it be deleted.
error_code rename_replacing(const std::string& from, const std::string& to);

// Removes a file that nothing holds open.
error_code remove_file(const std::string& name);

// Whether `name` is a folder; false as well when there is nothing of that
// name or it cannot be looked at.
bool is_folder(const std::string& name);

error_code size(native_file file, std::uint64_t& size_in_bytes);
error_code position(native_file file, std::uint64_t& offset);
error_code close(native_file file);

enum class file_kind { disk_or_pipe, character_device, unknown };
file_kind kind_of(native_file file);

// The arguments after the program's name, as the platform's own rule splits
// them. Empty words never count.
std::vector<std::string> command_line_arguments(int argc, char** argv);

// Characters that separate the directories of a path.
extern const std::string_view path_separators;

// Copies the full path of the running executable into `buffer` and returns
// its length, 0 when unknown. Fixed storage: the failure report must not
// allocate.
std::size_t module_file_name(char* buffer, std::size_t capacity);

// Turns text in the system's code page into the console's; POSIX consoles
// take the bytes as they are.
void convert_to_console_text(char* text, std::size_t length);

// Writes to the standard error stream. Quietly does nothing when there is
// none.
void write_standard_error(std::string_view text);

// Readies the process for a run, before anything else happens. A write to a
// pipe whose reader has gone, or past a limit set on the size of files, then
// fails with an error code that the run reports, where POSIX would end the
// process with a signal and no report.
void prepare_process();

// The code the program reports for an error number of the system: on Windows
// GetLastError's code as it is, on POSIX the code its errno maps onto. Never
// 0 for a failure.
error_code code_for_system_error(int system_error);

// Whether a write failed because the file is a pipe whose reader has closed
// it (EPIPE on POSIX, ERROR_NO_DATA or ERROR_BROKEN_PIPE on Windows): the
// reader wanted no more, which is not a fault of the writer.
bool reader_has_gone(error_code code);

// The standard input stream as a file for `read`, its bytes as they come.
native_file standard_input();

// The standard output stream as a file for `write`: bytes go out as given,
// with no conversion of line ends on any platform.
native_file standard_output();

} // namespace orbse::platform
