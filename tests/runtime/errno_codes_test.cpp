// The code every errno is reported with: only those of the same meaning land
// on a code with a message of its own or on one of the program's own codes,
// and only EPIPE's tells that the reader of a pipe has gone.
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

// Every errno that lands on a code with a message, and some that take the
// Windows code of their meaning or one numbered apart (on Linux ENETDOWN,
// ENOBUFS and EISCONN are 100, 105 and 106).
const errno_landing landings[] = {
    {"ENOENT", ENOENT, 2},         {"ENOTDIR", ENOTDIR, 3},       {"ENAMETOOLONG", ENAMETOOLONG, 3},
    {"EMFILE", EMFILE, 4},         {"ENFILE", ENFILE, 4},         {"EACCES", EACCES, 5},
    {"EPERM", EPERM, 5},           {"EROFS", EROFS, 5},           {"EISDIR", EISDIR, 5},
    {"ENOSPC", ENOSPC, 101},       {"EFBIG", EFBIG, 101},         {"EDQUOT", EDQUOT, 101},
    {"EIO", EIO, 1117},            {"ETXTBSY", ETXTBSY, 32},      {"EBUSY", EBUSY, 32},
    {"EPIPE", EPIPE, 232},         {"ESPIPE", ESPIPE, 132},       {"EINVAL", EINVAL, 87},
    {"ENETDOWN", ENETDOWN, 20000 + ENETDOWN}, {"ENOBUFS", ENOBUFS, 20000 + ENOBUFS},
    {"EISCONN", EISCONN, 20000 + EISCONN},    {"EAGAIN", EAGAIN, 20000 + EAGAIN},
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
        EXPECT_EQ(platform::reader_has_gone(code), system_error == EPIPE);
        const auto* listed = std::find_if(std::begin(landings), std::end(landings),
                                          [&](const errno_landing& row) { return row.system_error == system_error; });
        if (listed != std::end(landings)) {
            EXPECT_EQ(code, listed->code) << listed->name;
        }
        if (listed == std::end(landings) || !has_a_message(listed->code)) {
            EXPECT_FALSE(has_a_message(code));
            EXPECT_TRUE(code != 0 && code != file_not_open && code != report_not_created);
        }
    }
}

} // namespace
} // namespace orbse
