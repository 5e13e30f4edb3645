// The code every errno is reported with: only those of the same meaning land
// on a code with a message of its own or on one of the program's own codes.
#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "runtime/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iterator>
#include <string>

namespace orbse {
namespace {

struct errno_landing {
    const char* name;
    int system_error;
    platform::error_code code;
};

// Every errno that may land on a code with a message.
const errno_landing message_landings[] = {
    {"ENOENT", ENOENT, 2},  {"ENOTDIR", ENOTDIR, 3}, {"ENAMETOOLONG", ENAMETOOLONG, 3},
    {"EMFILE", EMFILE, 4},  {"ENFILE", ENFILE, 4},   {"EACCES", EACCES, 5},
    {"EPERM", EPERM, 5},    {"EROFS", EROFS, 5},     {"EISDIR", EISDIR, 5},
    {"ENOSPC", ENOSPC, 101}, {"EFBIG", EFBIG, 101},  {"EDQUOT", EDQUOT, 101},
};

bool has_a_message(platform::error_code code)
{
    std::array<char, 32> storage{};
    return io_error_message(code, storage).rfind("I/O error ", 0) != 0;
}

TEST(errno_codes, only_the_listed_errno_values_land_on_a_message_or_the_programs_own_codes)
{
    for (int system_error = 1; system_error <= 133; ++system_error) {
        const platform::error_code code = platform::code_for_system_error(system_error);
        SCOPED_TRACE("errno " + std::to_string(system_error) + " gives " + std::to_string(code));
        EXPECT_NE(code, 0);
        const auto* listed = std::find_if(std::begin(message_landings), std::end(message_landings),
                                          [&](const errno_landing& row) { return row.system_error == system_error; });
        if (listed != std::end(message_landings)) {
            EXPECT_EQ(code, listed->code) << listed->name;
            continue;
        }
        EXPECT_FALSE(has_a_message(code));
        EXPECT_NE(code, file_not_open);
        EXPECT_NE(code, report_not_created);
    }
}

TEST(errno_codes, others_take_the_windows_code_of_their_meaning_or_one_numbered_apart)
{
    const errno_landing landings[] = {
        {"EIO", EIO, 1117},           {"ETXTBSY", ETXTBSY, 32},   {"EBUSY", EBUSY, 32},
        {"EPIPE", EPIPE, 232},        {"ESPIPE", ESPIPE, 132},    {"EINVAL", EINVAL, 87},
        // On Linux these share their numbers with 100, 105 and 106.
        {"ENETDOWN", ENETDOWN, 20000 + ENETDOWN}, {"ENOBUFS", ENOBUFS, 20000 + ENOBUFS},
        {"EISCONN", EISCONN, 20000 + EISCONN},    {"EAGAIN", EAGAIN, 20000 + EAGAIN},
    };
    for (const auto& landing : landings) {
        EXPECT_EQ(platform::code_for_system_error(landing.system_error), landing.code) << landing.name;
    }
}

} // namespace
} // namespace orbse
