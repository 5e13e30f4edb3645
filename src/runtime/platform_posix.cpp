// POSIX implementation of the platform layer. The rest of the program speaks
// in the Windows error codes that its messages are keyed on, so every errno
// is mapped here onto the code Windows gives for the same situation.
#include "runtime/platform.h"
#include "runtime/platform_codes.h"
#include "runtime/platform_seam.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <array>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

namespace orbse::platform {
namespace {

struct errno_code {
    int system_error;
    error_code code;
};

// Every errno with a code of the same meaning. Only these land on the codes
// that have a message: a missing file or folder, too many open files, access
// refused, and no room left for a write. Every other errno either has the
// Windows code of its meaning or is reported as unmatched_errno_base plus the
// errno, so that no errno that happens to share a number with one of the
// program's codes (EIO is 5, ENETDOWN 100, ENOBUFS 105) prints a message
// that is not its own.
constexpr errno_code errno_codes[] = {
    // ENOENT: codes::path_not_found when its folder is missing, see below.
    {ENOENT, codes::file_not_found},
    {ENOTDIR, codes::path_not_found},
    // Windows answers a name too long for its ANSI calls with this one too.
    {ENAMETOOLONG, codes::path_not_found},
    {EMFILE, codes::too_many_open_files},
    {ENFILE, codes::too_many_open_files},
    {EACCES, codes::access_denied},
    {EPERM, codes::access_denied},
    // Windows refuses writing on read-only media and opening a folder as a
    // file with access denied as well.
    {EROFS, codes::access_denied},
    {EISDIR, codes::access_denied},
    {ENOSPC, codes::disk_full},
    {EFBIG, codes::disk_full},
#ifdef EDQUOT
    {EDQUOT, codes::disk_full},
#endif
    {ENOTTY, codes::invalid_function},
    {EBADF, codes::invalid_handle},
    {ENOMEM, codes::not_enough_memory},
    {EXDEV, codes::not_same_device},
    {ENODEV, codes::bad_unit},
    {ENXIO, codes::bad_unit},
#ifdef ENOMEDIUM
    {ENOMEDIUM, codes::not_ready},
#endif
    {EBUSY, codes::sharing_violation},
    {ETXTBSY, codes::sharing_violation},
    {EOPNOTSUPP, codes::not_supported},
    {EEXIST, codes::file_exists},
    {EINVAL, codes::invalid_parameter},
    {ENOSYS, codes::call_not_implemented},
    {ECHILD, codes::wait_no_children},
    {ESPIPE, codes::seek_on_device},
    {ENOTEMPTY, codes::directory_not_empty},
    {ENOEXEC, codes::bad_exe_format},
    // A write to a pipe whose reader has gone.
    {EPIPE, codes::pipe_being_closed},
    {ECANCELED, codes::operation_aborted},
    {EFAULT, codes::invalid_memory_access},
    {EIO, codes::io_device},
    {EDEADLK, codes::possible_deadlock},
    {EMLINK, codes::too_many_links},
    {ECONNREFUSED, codes::connection_refused},
    {ENETUNREACH, codes::network_unreachable},
    {EHOSTUNREACH, codes::host_unreachable},
    {ECONNABORTED, codes::connection_aborted},
#ifdef EUCLEAN
    // What Linux file systems answer when they find themselves damaged.
    {EUCLEAN, codes::file_corrupt},
#endif
    {ETIMEDOUT, codes::timeout},
    {ELOOP, codes::cannot_resolve_name},
    {ENOTCONN, codes::not_connected},
};

bool parent_directory_exists(const std::string& name)
{
    const auto last_slash = name.find_last_of('/');
    if (last_slash == std::string::npos) {
        return true; // the current directory
    }
    const std::string parent = last_slash == 0 ? std::string("/") : name.substr(0, last_slash);
    struct stat status {};
    return ::stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

error_code code_for_errno(int error, const std::string& name)
{
    // Windows tells a missing file from a missing directory on its way.
    if (error == ENOENT && !parent_directory_exists(name)) {
        return codes::path_not_found;
    }
    return code_for_system_error(error);
}

error_code code_for_errno(int error) { return code_for_errno(error, std::string()); }

int descriptor(native_file file) { return static_cast<int>(file.value); }

// Repeats a transfer until `count` bytes are through or the system moves no
// more (the end of a file being read): a read or write may stop early on a
// pipe or at a signal, where ReadFile and WriteFile on a disk file do not.
// `call` is given the bytes moved so far and makes one system call. Bytes
// already moved when a call fails stay moved; the caller sees the failure.
template <typename transfer_call>
error_code transfer_until_done(std::size_t count, std::size_t& transferred, transfer_call&& call)
{
    transferred = 0;
    while (transferred < count) {
        const ssize_t moved = call(transferred);
        if (moved < 0) {
            if (errno == EINTR) {
                continue;
            }
            return code_for_errno(errno);
        }
        if (moved == 0) {
            break;
        }
        transferred += static_cast<std::size_t>(moved);
    }
    return 0;
}

std::size_t one_call_at_most(std::size_t bytes) { return std::min<std::size_t>(bytes, SSIZE_MAX); }

} // namespace

error_code open_existing_for_reading(const std::string& name, native_file& file)
{
    if (const auto injected = seam::consult(seam::file_operation::open); injected != 0) {
        return injected;
    }
    const int opened = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (opened < 0) {
        return code_for_errno(errno, name);
    }
    // Windows refuses to open a directory as a file; POSIX opens it and fails
    // only at the first read. Answer as Windows does.
    struct stat status {};
    if (::fstat(opened, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(opened);
        return codes::access_denied;
    }
    file.value = opened;
    return 0;
}

error_code create_always(const std::string& name, bool share_write, native_file& file)
{
    if (const auto injected = seam::consult(seam::file_operation::create); injected != 0) {
        return injected;
    }
    // POSIX has no share modes. The pictures are opened for reading and
    // writing; the report only for writing, so that a report its owner may
    // write but not read is replaced as a shell's redirection would.
    const int access = share_write ? O_RDWR : O_WRONLY;
    const int opened = ::open(name.c_str(), access | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (opened < 0) {
        return code_for_errno(errno, name);
    }
    file.value = opened;
    return 0;
}

namespace {

std::string temporary_folder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

} // namespace

error_code create_temporary(native_file& file, std::string& name)
{
    if (const auto injected = seam::consult(seam::file_operation::create); injected != 0) {
        return injected;
    }
    // mkstemp fills in the X's and creates the file with O_EXCL, readable by
    // its owner alone, retrying until it has a name no file had.
    std::string pattern = temporary_folder() + "/orbse-XXXXXX";
    const int opened = ::mkstemp(pattern.data());
    if (opened < 0) {
        return code_for_errno(errno, pattern);
    }
    file.value = opened;
    name = std::move(pattern); // takes the text over: no allocation to fail once the file exists
    return 0;
}

error_code create_beside(const std::string& final_name, native_file& file, std::string& name)
{
    if (const auto injected = seam::consult(seam::file_operation::create); injected != 0) {
        return injected;
    }
    // mkstemp creates the file readable by its owner alone; it gets the
    // permissions of any new file instead, those the umask leaves of 0666.
    std::string pattern = final_name + ".orbse-XXXXXX";
    const int opened = ::mkstemp(pattern.data());
    if (opened < 0) {
        return code_for_errno(errno, pattern);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(opened, 0666 & ~mask) != 0) {
        const error_code code = code_for_errno(errno);
        ::close(opened);
        ::unlink(pattern.c_str());
        return code;
    }
    file.value = opened;
    name = std::move(pattern);
    return 0;
}

error_code flush_to_disk(native_file file)
{
    if (const auto injected = seam::consult(seam::file_operation::flush); injected != 0) {
        return injected;
    }
    return ::fsync(descriptor(file)) == 0 ? 0 : code_for_errno(errno);
}

error_code rename_replacing(const std::string& from, const std::string& to)
{
    if (const auto injected = seam::consult(seam::file_operation::rename); injected != 0) {
        return injected;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : code_for_errno(errno, to);
}

error_code remove_file(const std::string& name)
{
    if (const auto injected = seam::consult(seam::file_operation::remove); injected != 0) {
        return injected;
    }
    return ::unlink(name.c_str()) == 0 ? 0 : code_for_errno(errno, name);
}

bool is_folder(const std::string& name)
{
    struct stat status {};
    return ::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

error_code read(native_file file, void* buffer, std::size_t count, std::size_t& transferred)
{
    if (const auto injected = seam::consult(seam::file_operation::read); injected != 0) {
        return injected;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    return transfer_until_done(count, transferred, [&](std::size_t done) -> ssize_t {
        if (const int refused = seam::consult_system_error(seam::file_operation::read); refused != 0) {
            errno = refused;
            return -1;
        }
        return ::read(descriptor(file), bytes + done, one_call_at_most(count - done));
    });
}

error_code write(native_file file, const void* data, std::size_t count, std::size_t& transferred)
{
    if (const auto injected = seam::consult(seam::file_operation::write); injected != 0) {
        return injected;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    return transfer_until_done(count, transferred, [&](std::size_t done) {
        return ::write(descriptor(file), bytes + done, one_call_at_most(count - done));
    });
}

namespace {

// How far a gathered write has got: the first piece not yet wholly taken,
// and how much of it was.
struct gathered_progress {
    std::size_t piece = 0;
    std::size_t taken_of_piece = 0;

    void advance(const write_piece* pieces, std::size_t count, std::size_t bytes)
    {
        while (piece < count && bytes >= pieces[piece].size - taken_of_piece) {
            bytes -= pieces[piece].size - taken_of_piece;
            ++piece;
            taken_of_piece = 0;
        }
        taken_of_piece += bytes;
    }
};

// A writev takes at most IOV_MAX pieces (1024 on Linux); longer lists go in
// several calls, and a call that takes less than it was given goes on from
// where it stopped.
constexpr std::size_t pieces_per_call = 256;
static_assert(pieces_per_call <= IOV_MAX);

// The part of the pieces that the next writev can take, from `progress` on.
std::size_t next_vectors(const write_piece* pieces, std::size_t count, const gathered_progress& progress,
                         std::array<iovec, pieces_per_call>& vectors)
{
    std::size_t filled = 0;
    std::size_t bytes = 0;
    for (std::size_t piece = progress.piece; piece < count && filled < vectors.size(); ++piece) {
        const std::size_t skipped = piece == progress.piece ? progress.taken_of_piece : 0;
        const std::size_t left = pieces[piece].size - skipped;
        // The call's result must hold the total; what does not fit goes in
        // the next call.
        const std::size_t taken = std::min<std::size_t>(left, SSIZE_MAX - bytes);
        if (taken > 0) {
            auto* start = static_cast<const unsigned char*>(pieces[piece].data) + skipped;
            vectors[filled++] = iovec{const_cast<unsigned char*>(start), taken};
            bytes += taken;
        }
        if (taken < left) {
            break;
        }
    }
    return filled;
}

} // namespace

error_code write_gathered(native_file file, const write_piece* pieces, std::size_t count,
                          std::size_t& transferred)
{
    if (const auto injected = seam::consult(seam::file_operation::write); injected != 0) {
        return injected;
    }
    std::size_t total = 0;
    for (std::size_t piece = 0; piece < count; ++piece) {
        total += pieces[piece].size;
    }
    gathered_progress progress;
    std::size_t accounted = 0;
    std::array<iovec, pieces_per_call> vectors;
    return transfer_until_done(total, transferred, [&](std::size_t done) {
        progress.advance(pieces, count, done - accounted);
        accounted = done;
        const std::size_t filled = next_vectors(pieces, count, progress, vectors);
        return ::writev(descriptor(file), vectors.data(), static_cast<int>(filled));
    });
}

error_code size(native_file file, std::uint64_t& size_in_bytes)
{
    if (const auto injected = seam::consult(seam::file_operation::size); injected != 0) {
        return injected;
    }
    struct stat status {};
    if (::fstat(descriptor(file), &status) != 0) {
        return code_for_errno(errno);
    }
    size_in_bytes = static_cast<std::uint64_t>(status.st_size);
    return 0;
}

error_code position(native_file file, std::uint64_t& offset)
{
    if (const auto injected = seam::consult(seam::file_operation::position); injected != 0) {
        return injected;
    }
    const off_t current = ::lseek(descriptor(file), 0, SEEK_CUR);
    if (current < 0) {
        return code_for_errno(errno);
    }
    offset = static_cast<std::uint64_t>(current);
    return 0;
}

error_code close(native_file file)
{
    // An injected failure still lets the descriptor go, as a failed close does.
    const auto injected = seam::consult(seam::file_operation::close);
    if (::close(descriptor(file)) != 0 && errno != EINTR && injected == 0) {
        return code_for_errno(errno);
    }
    return injected;
}

file_kind kind_of(native_file file)
{
    struct stat status {};
    if (::fstat(descriptor(file), &status) != 0) {
        return file_kind::unknown;
    }
    if (S_ISCHR(status.st_mode)) {
        return file_kind::character_device;
    }
    if (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        return file_kind::disk_or_pipe;
    }
    return file_kind::unknown;
}

std::vector<std::string> command_line_arguments(int argc, char** argv)
{
    // The shell has split the words already. A "" pair arrives as an empty
    // word, which the Windows splitting rule skips, so it never counts here.
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        if (argv[index] != nullptr && argv[index][0] != '\0') {
            arguments.emplace_back(argv[index]);
        }
    }
    return arguments;
}

const std::string_view path_separators = "/";

std::size_t module_file_name(char* buffer, std::size_t capacity)
{
    const ssize_t length = ::readlink("/proc/self/exe", buffer, capacity);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

void convert_to_console_text(char* /*text*/, std::size_t /*length*/) {}

void write_standard_error(std::string_view text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return; // no standard error, or it refuses: nothing more to do
        }
        written += static_cast<std::size_t>(put);
    }
}

native_file standard_input()
{
    return native_file{STDIN_FILENO};
}

native_file standard_output()
{
    return native_file{STDOUT_FILENO};
}

void prepare_process()
{
    // Both signals would end the process where the failure report should
    // run; ignored, the write fails with EPIPE or EFBIG instead.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// EPIPE is the only errno that maps onto this code.
bool reader_has_gone(error_code code) { return code == codes::pipe_being_closed; }

error_code code_for_system_error(int system_error)
{
    for (const auto& row : errno_codes) {
        if (row.system_error == system_error) {
            return row.code;
        }
    }
    return codes::unmatched_errno_base + system_error;
}

} // namespace orbse::platform
