// Win32 implementation of the platform layer. The program's error codes are
// the Windows ones, so every failure hands GetLastError's code up unchanged.
#include "runtime/platform.h"

#include "runtime/command_line.h"
#include "runtime/platform_codes.h"
#include "runtime/platform_seam.h"

#include <algorithm>
#include <utility>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace orbse::platform {
namespace {

// The codes that the POSIX build maps errno values onto are the ones this
// system gives for the same faults.
static_assert(codes::file_not_found == ERROR_FILE_NOT_FOUND);
static_assert(codes::path_not_found == ERROR_PATH_NOT_FOUND);
static_assert(codes::too_many_open_files == ERROR_TOO_MANY_OPEN_FILES);
static_assert(codes::access_denied == ERROR_ACCESS_DENIED);
static_assert(codes::invalid_function == ERROR_INVALID_FUNCTION);
static_assert(codes::invalid_handle == ERROR_INVALID_HANDLE);
static_assert(codes::not_enough_memory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(codes::not_same_device == ERROR_NOT_SAME_DEVICE);
static_assert(codes::bad_unit == ERROR_BAD_UNIT);
static_assert(codes::not_ready == ERROR_NOT_READY);
static_assert(codes::sharing_violation == ERROR_SHARING_VIOLATION);
static_assert(codes::not_supported == ERROR_NOT_SUPPORTED);
static_assert(codes::file_exists == ERROR_FILE_EXISTS);
static_assert(codes::invalid_parameter == ERROR_INVALID_PARAMETER);
static_assert(codes::call_not_implemented == ERROR_CALL_NOT_IMPLEMENTED);
static_assert(codes::wait_no_children == ERROR_WAIT_NO_CHILDREN);
static_assert(codes::seek_on_device == ERROR_SEEK_ON_DEVICE);
static_assert(codes::directory_not_empty == ERROR_DIR_NOT_EMPTY);
static_assert(codes::bad_exe_format == ERROR_BAD_EXE_FORMAT);
static_assert(codes::pipe_being_closed == ERROR_NO_DATA);
static_assert(codes::operation_aborted == ERROR_OPERATION_ABORTED);
static_assert(codes::invalid_memory_access == ERROR_NOACCESS);
static_assert(codes::io_device == ERROR_IO_DEVICE);
static_assert(codes::possible_deadlock == ERROR_POSSIBLE_DEADLOCK);
static_assert(codes::too_many_links == ERROR_TOO_MANY_LINKS);
static_assert(codes::connection_refused == ERROR_CONNECTION_REFUSED);
static_assert(codes::network_unreachable == ERROR_NETWORK_UNREACHABLE);
static_assert(codes::host_unreachable == ERROR_HOST_UNREACHABLE);
static_assert(codes::connection_aborted == ERROR_CONNECTION_ABORTED);
static_assert(codes::file_corrupt == ERROR_FILE_CORRUPT);
static_assert(codes::timeout == ERROR_TIMEOUT);
static_assert(codes::cannot_resolve_name == ERROR_CANT_RESOLVE_FILENAME);
static_assert(codes::not_connected == ERROR_NOT_CONNECTED);

// ReadFile and WriteFile take 32-bit counts; larger transfers go in pieces.
constexpr std::size_t largest_transfer = 1u << 30;

HANDLE handle_of(native_file file) { return reinterpret_cast<HANDLE>(file.value); }

native_file file_of(HANDLE handle) { return native_file{reinterpret_cast<std::intptr_t>(handle)}; }

error_code last_error() { return code_for_system_error(static_cast<int>(::GetLastError())); }

error_code open_file(const std::string& name, DWORD access, DWORD sharing, DWORD disposition,
                     native_file& file)
{
    const HANDLE opened =
        ::CreateFileA(name.c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    file = file_of(opened);
    return 0;
}

std::uint64_t join_halves(DWORD high, DWORD low)
{
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The length of the character at `at` in the system's ANSI code page, as
// CharNextA steps: 2 for the lead byte of a double-byte character. The raw
// command line ends in NUL, but a view may be cut short; a lead byte in the
// view's last place is taken alone.
std::size_t ansi_character_length(std::string_view line, std::size_t at)
{
    if (at + 1 >= line.size()) {
        return 1;
    }
    const char* character = line.data() + at;
    const char* next = ::CharNextA(character);
    return next > character ? static_cast<std::size_t>(next - character) : 1;
}

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

error_code write_to(HANDLE handle, const void* data, std::size_t count, std::size_t& transferred)
{
    transferred = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (transferred < count) {
        const auto wanted = static_cast<DWORD>(std::min(count - transferred, largest_transfer));
        DWORD put = 0;
        if (!::WriteFile(handle, bytes + transferred, wanted, &put, nullptr)) {
            return last_error();
        }
        if (put == 0) {
            break; // the caller sees the short count
        }
        transferred += put;
    }
    return 0;
}

} // namespace

error_code open_existing_for_reading(const std::string& name, native_file& file)
{
    if (const auto injected = seam::consult(seam::file_operation::open); injected != 0) {
        return injected;
    }
    return open_file(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, file);
}

error_code create_always(const std::string& name, bool share_write, native_file& file)
{
    if (const auto injected = seam::consult(seam::file_operation::create); injected != 0) {
        return injected;
    }
    // The images are shared for reading and writing and opened both ways; the
    // report, which others may only read while we hold it, is only written.
    const DWORD access = share_write ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    const DWORD sharing = share_write ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    return open_file(name, access, sharing, CREATE_ALWAYS, file);
}

namespace {

// With 0 for its number GetTempFileNameA tries names until it creates a
// file of a name no file had in `folder`; that file is then opened for
// writing. Room for the name first: no allocation is to fail once the file
// exists.
error_code create_named_by_system(const char* folder, DWORD attributes, native_file& file, std::string& name)
{
    name.reserve(MAX_PATH);
    char created[MAX_PATH]{};
    if (::GetTempFileNameA(folder, "orb", 0, created) == 0) {
        return last_error();
    }
    const HANDLE opened =
        ::CreateFileA(created, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING, attributes, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const error_code code = last_error();
        ::DeleteFileA(created);
        return code;
    }
    file = file_of(opened);
    name = created;
    return 0;
}

} // namespace

error_code create_temporary(native_file& file, std::string& name)
{
    if (const auto injected = seam::consult(seam::file_operation::create); injected != 0) {
        return injected;
    }
    char folder[MAX_PATH + 1]{};
    const DWORD length = ::GetTempPathA(MAX_PATH + 1, folder);
    if (length == 0) {
        return last_error();
    }
    if (length > MAX_PATH) {
        return codes::path_not_found; // a folder whose name GetTempFileNameA could not take
    }
    return create_named_by_system(folder, FILE_ATTRIBUTE_TEMPORARY, file, name);
}

error_code create_beside(const std::string& final_name, native_file& file, std::string& name)
{
    if (const auto injected = seam::consult(seam::file_operation::create); injected != 0) {
        return injected;
    }
    const std::size_t folder_end = final_name.find_last_of(path_separators);
    const std::string folder = folder_end == std::string::npos ? std::string(".") : final_name.substr(0, folder_end + 1);
    return create_named_by_system(folder.c_str(), FILE_ATTRIBUTE_NORMAL, file, name);
}

error_code flush_to_disk(native_file file)
{
    if (const auto injected = seam::consult(seam::file_operation::flush); injected != 0) {
        return injected;
    }
    return ::FlushFileBuffers(handle_of(file)) ? 0 : last_error();
}

error_code rename_replacing(const std::string& from, const std::string& to)
{
    if (const auto injected = seam::consult(seam::file_operation::rename); injected != 0) {
        return injected;
    }
    const DWORD how = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    return ::MoveFileExA(from.c_str(), to.c_str(), how) ? 0 : last_error();
}

error_code remove_file(const std::string& name)
{
    if (const auto injected = seam::consult(seam::file_operation::remove); injected != 0) {
        return injected;
    }
    return ::DeleteFileA(name.c_str()) ? 0 : last_error();
}

bool is_folder(const std::string& name)
{
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

error_code read(native_file file, void* buffer, std::size_t count, std::size_t& transferred)
{
    if (const auto injected = seam::consult(seam::file_operation::read); injected != 0) {
        return injected;
    }
    transferred = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (transferred < count) {
        const auto wanted = static_cast<DWORD>(std::min(count - transferred, largest_transfer));
        DWORD got = 0;
        if (const int refused = seam::consult_system_error(seam::file_operation::read); refused != 0) {
            ::SetLastError(static_cast<DWORD>(refused));
            return last_error();
        }
        if (!::ReadFile(handle_of(file), bytes + transferred, wanted, &got, nullptr)) {
            // A pipe whose writer has gone is at its end, not broken.
            return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : last_error();
        }
        if (got == 0) {
            break;
        }
        transferred += got;
    }
    return 0;
}

error_code write(native_file file, const void* data, std::size_t count, std::size_t& transferred)
{
    if (const auto injected = seam::consult(seam::file_operation::write); injected != 0) {
        return injected;
    }
    return write_to(handle_of(file), data, count, transferred);
}

namespace {

// Windows gathers writes only for unbuffered files of whole pages, so small
// pieces are joined in a block of fixed size here, and pieces that fill a
// block by themselves go straight from where they are.
constexpr std::size_t gathering_block_size = 64 * 1024;

class write_gatherer {
public:
    explicit write_gatherer(HANDLE handle) : handle_(handle) {}

    error_code add(const write_piece& piece)
    {
        const auto* bytes = static_cast<const unsigned char*>(piece.data);
        if (piece.size >= gathering_block_size) {
            if (const auto code = flush(); code != 0) {
                return code;
            }
            return put(bytes, piece.size);
        }
        if (piece.size > gathering_block_size - filled_) {
            if (const auto code = flush(); code != 0) {
                return code;
            }
        }
        std::copy(bytes, bytes + piece.size, block_ + filled_);
        filled_ += piece.size;
        return 0;
    }

    error_code flush()
    {
        const std::size_t gathered = std::exchange(filled_, 0);
        return put(block_, gathered);
    }

    std::size_t transferred() const { return transferred_; }
    bool stopped_short() const { return short_; }

private:
    error_code put(const unsigned char* bytes, std::size_t count)
    {
        std::size_t put_now = 0;
        const auto code = write_to(handle_, bytes, count, put_now);
        transferred_ += put_now;
        short_ = short_ || put_now < count;
        return code;
    }

    HANDLE handle_;
    unsigned char block_[gathering_block_size];
    std::size_t filled_ = 0;
    std::size_t transferred_ = 0;
    bool short_ = false;
};

} // namespace

error_code write_gathered(native_file file, const write_piece* pieces, std::size_t count,
                          std::size_t& transferred)
{
    if (const auto injected = seam::consult(seam::file_operation::write); injected != 0) {
        return injected;
    }
    write_gatherer gatherer(handle_of(file));
    error_code code = 0;
    for (std::size_t piece = 0; piece < count && code == 0 && !gatherer.stopped_short(); ++piece) {
        code = gatherer.add(pieces[piece]);
    }
    if (code == 0 && !gatherer.stopped_short()) {
        code = gatherer.flush();
    }
    transferred = gatherer.transferred();
    return code;
}

error_code size(native_file file, std::uint64_t& size_in_bytes)
{
    if (const auto injected = seam::consult(seam::file_operation::size); injected != 0) {
        return injected;
    }
    // All ones in the low half is a valid size of a large file as well as
    // the failure mark; only the error code tells them apart.
    DWORD high = 0;
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetFileSize(handle_of(file), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
        return last_error();
    }
    size_in_bytes = join_halves(high, low);
    return 0;
}

error_code position(native_file file, std::uint64_t& offset)
{
    if (const auto injected = seam::consult(seam::file_operation::position); injected != 0) {
        return injected;
    }
    LONG high = 0;
    ::SetLastError(NO_ERROR);
    const DWORD low = ::SetFilePointer(handle_of(file), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) {
        return last_error();
    }
    offset = join_halves(static_cast<DWORD>(high), low);
    return 0;
}

error_code close(native_file file)
{
    // An injected failure still lets the handle go, as a failed close does.
    const auto injected = seam::consult(seam::file_operation::close);
    if (!::CloseHandle(handle_of(file)) && injected == 0) {
        return last_error();
    }
    return injected;
}

file_kind kind_of(native_file file)
{
    switch (::GetFileType(handle_of(file))) {
    case FILE_TYPE_CHAR:
        return file_kind::character_device;
    case FILE_TYPE_DISK:
    case FILE_TYPE_PIPE:
        return file_kind::disk_or_pipe;
    default:
        return file_kind::unknown;
    }
}

std::vector<std::string> command_line_arguments(int /*argc*/, char** /*argv*/)
{
    // The C runtime's argv follows other quoting rules (backslash escapes);
    // the program splits the raw line itself.
    std::vector<std::string> words = split_command_line(::GetCommandLineA(), ansi_character_length);
    if (words.empty()) {
        return words;
    }
    words.erase(words.begin()); // the program's own name
    return words;
}

const std::string_view path_separators = "\\/";

std::size_t module_file_name(char* buffer, std::size_t capacity)
{
    const auto limit = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, limit);
    // A full buffer means the path was cut, and its last part is no name.
    return length < limit ? length : 0;
}

void convert_to_console_text(char* text, std::size_t length)
{
    // The OEM text is never longer than the ANSI text, so it converts in
    // place; the buffer form takes a length, as the text need not end in NUL.
    ::CharToOemBuffA(text, text, static_cast<DWORD>(std::min<std::size_t>(length, MAXDWORD)));
}

void write_standard_error(std::string_view text)
{
    const HANDLE error_output = ::GetStdHandle(STD_ERROR_HANDLE);
    if (!usable(error_output)) {
        return;
    }
    // Standard error is the last word of a failed run; if it refuses the
    // text, there is nobody left to tell.
    std::size_t transferred = 0;
    write_to(error_output, text.data(), text.size(), transferred);
}

// Writes to a closed pipe or a full disk fail with an error code here
// already; there is nothing to prepare.
void prepare_process() {}

error_code code_for_system_error(int system_error) { return static_cast<error_code>(system_error); }

// A pipe whose reading end is closed refuses a write with either code,
// depending on how far the reader's side is taken down.
bool reader_has_gone(error_code code) { return code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE; }

native_file standard_input()
{
    return native_file{reinterpret_cast<std::intptr_t>(::GetStdHandle(STD_INPUT_HANDLE))};
}

native_file standard_output()
{
    return native_file{reinterpret_cast<std::intptr_t>(::GetStdHandle(STD_OUTPUT_HANDLE))};
}

} // namespace orbse::platform
