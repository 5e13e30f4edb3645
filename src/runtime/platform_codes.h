// The codes the platform layer answers with when the system refuses a call.
// The program's messages are keyed on the Windows error codes, so Windows
// hands GetLastError's code up as it is, and POSIX maps each errno onto the
// Windows code of the same meaning (the table in platform_posix.cpp). The
// numbers are named here once; the Windows build checks each of them against
// the system's own headers, so both builds print the same line for the same
// fault.
#pragma once

#include "runtime/platform.h"

namespace orbse::platform::codes {

// The four system codes with a message of their own.
inline constexpr error_code file_not_found = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr error_code path_not_found = 3;      // ERROR_PATH_NOT_FOUND
inline constexpr error_code too_many_open_files = 4; // ERROR_TOO_MANY_OPEN_FILES
inline constexpr error_code access_denied = 5;       // ERROR_ACCESS_DENIED

// Not a Windows code but the program's own for a write that took fewer bytes
// than it was given ("Disk full"): a write that the system cuts for lack of
// room or by a limit on the size of files is one.
inline constexpr error_code disk_full = 101;

// Windows codes that print as "I/O error N", for the errno values that mean
// the same.
inline constexpr error_code invalid_function = 1;        // ERROR_INVALID_FUNCTION
inline constexpr error_code invalid_handle = 6;          // ERROR_INVALID_HANDLE
inline constexpr error_code not_enough_memory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr error_code not_same_device = 17;        // ERROR_NOT_SAME_DEVICE
inline constexpr error_code bad_unit = 20;               // ERROR_BAD_UNIT
inline constexpr error_code not_ready = 21;              // ERROR_NOT_READY
inline constexpr error_code sharing_violation = 32;      // ERROR_SHARING_VIOLATION
inline constexpr error_code not_supported = 50;          // ERROR_NOT_SUPPORTED
inline constexpr error_code file_exists = 80;            // ERROR_FILE_EXISTS
inline constexpr error_code invalid_parameter = 87;      // ERROR_INVALID_PARAMETER
inline constexpr error_code call_not_implemented = 120;  // ERROR_CALL_NOT_IMPLEMENTED
inline constexpr error_code wait_no_children = 128;      // ERROR_WAIT_NO_CHILDREN
inline constexpr error_code seek_on_device = 132;        // ERROR_SEEK_ON_DEVICE
inline constexpr error_code directory_not_empty = 145;   // ERROR_DIR_NOT_EMPTY
inline constexpr error_code bad_exe_format = 193;        // ERROR_BAD_EXE_FORMAT
inline constexpr error_code pipe_being_closed = 232;     // ERROR_NO_DATA
inline constexpr error_code operation_aborted = 995;     // ERROR_OPERATION_ABORTED
inline constexpr error_code invalid_memory_access = 998; // ERROR_NOACCESS
inline constexpr error_code io_device = 1117;            // ERROR_IO_DEVICE
inline constexpr error_code possible_deadlock = 1131;    // ERROR_POSSIBLE_DEADLOCK
inline constexpr error_code too_many_links = 1142;       // ERROR_TOO_MANY_LINKS
inline constexpr error_code connection_refused = 1225;   // ERROR_CONNECTION_REFUSED
inline constexpr error_code network_unreachable = 1231;  // ERROR_NETWORK_UNREACHABLE
inline constexpr error_code host_unreachable = 1232;     // ERROR_HOST_UNREACHABLE
inline constexpr error_code connection_aborted = 1236;   // ERROR_CONNECTION_ABORTED
inline constexpr error_code file_corrupt = 1392;         // ERROR_FILE_CORRUPT
inline constexpr error_code timeout = 1460;              // ERROR_TIMEOUT
inline constexpr error_code cannot_resolve_name = 1921;  // ERROR_CANT_RESOLVE_FILENAME
inline constexpr error_code not_connected = 2250;        // ERROR_NOT_CONNECTED

// An errno with no Windows code of its meaning is reported as this base plus
// the errno. Windows' system error codes stay below 16,000, and the
// program's own codes and those with a message are far below that, so such a
// code never poses as any of them.
inline constexpr error_code unmatched_errno_base = 20000;

} // namespace orbse::platform::codes
