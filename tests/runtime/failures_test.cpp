#include "runtime/failure_report.h"
#include "runtime/failures.h"
#include "support/case_name.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool allocator_reports_exhaustion = true;
#else
constexpr bool allocator_reports_exhaustion = false;
#endif

namespace orbse {
namespace {

struct message_case {
    const char* name;
    std::int32_t code;
    const char* message;
};

class io_error_messages : public ::testing::TestWithParam<message_case> {};

TEST_P(io_error_messages, come_from_the_table_or_the_numbered_rule)
{
    std::array<char, 32> storage{};
    EXPECT_EQ(io_error_message(GetParam().code, storage), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(table, io_error_messages,
                         ::testing::Values(message_case{"file_not_found", 2, "File not found"},
                                           message_case{"invalid_filename", 3, "Invalid filename"},
                                           message_case{"too_many_open_files", 4, "Too many open files"},
                                           message_case{"file_access_denied", 5, "File access denied"},
                                           message_case{"read_beyond_end_of_file", 100, "Read beyond end of file"},
                                           message_case{"disk_full", 101, "Disk full"},
                                           message_case{"invalid_numeric_input", 106, "Invalid numeric input"},
                                           message_case{"sharing_violation", 32, "I/O error 32"},
                                           message_case{"file_not_open", 103, "I/O error 103"},
                                           message_case{"report_not_created", 105, "I/O error 105"},
                                           message_case{"code_0", 0, "I/O error 0"},
                                           message_case{"lowest_code", -2147483647 - 1, "I/O error -2147483648"}),
                         testing::case_name{});

TEST(io_check, does_nothing_without_a_pending_code)
{
    pending_io_error = 0;
    EXPECT_NO_THROW(io_check());
}

TEST(io_check, raises_the_pending_code_once_and_clears_it)
{
    pending_io_error = 2;
    try {
        io_check();
        FAIL() << "no failure raised";
    } catch (const io_failure& raised) {
        EXPECT_EQ(raised.code(), 2);
        EXPECT_EQ(raised.kind_name(), "EInOutError");
        EXPECT_EQ(raised.message(), "File not found");
    }
    EXPECT_EQ(pending_io_error, 0);
    EXPECT_NO_THROW(io_check());
}

TEST(io_check, names_its_caller_as_the_failure_site)
{
    const auto here = check_site::current();
    pending_io_error = 5;
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    try {
        io_check();
    } catch (const io_failure& raised) {
        first = raised.address();
    }
    pending_io_error = 5;
    try {
        io_check();
    } catch (const io_failure& raised) {
        second = raised.address();
    }
    EXPECT_NE(first, second);
    EXPECT_EQ(first & 0xFFFFu, here.line() + 5);
    EXPECT_EQ(first >> 16, code_site(here) >> 16);
}

std::string composed(const failure& raised, std::string_view module_name)
{
    failure_text text{};
    const std::size_t length = compose_failure_text(raised, module_name, text);
    return std::string(text.data(), length);
}

TEST(failure_text, has_kind_module_address_and_message_with_a_period)
{
    EXPECT_EQ(composed(io_failure(2, 0x00A1B2C3), "t.exe"),
              "Exception EInOutError in module t.exe at 00A1B2C3.\r\nFile not found.\r\n");
    EXPECT_EQ(composed(memory_failure(0xDEADBEEF), "orbse"),
              "Exception EOutOfMemory in module orbse at DEADBEEF.\r\nOut of memory.\r\n");
    EXPECT_EQ(composed(io_failure(105, 7), "orbse"),
              "Exception EInOutError in module orbse at 00000007.\r\nI/O error 105.\r\n");
}

TEST(failure_text, is_cut_at_1023_characters)
{
    const std::string long_name(2000, 'm');
    const std::string text = composed(io_failure(2, 0), long_name);
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text.substr(0, 28), "Exception EInOutError in mod");
}

TEST(memory_failure, is_the_allocators_bad_alloc)
{
    if (allocator_reports_exhaustion) {
        // The address sanitizer's operator new stops the program on an
        // impossible request instead of failing it.
        GTEST_SKIP() << "the sanitizer's allocator never fails an allocation";
    }
    install_memory_failure_handler();
    const std::size_t impossible = std::size_t{1} << 62;
    EXPECT_THROW(static_cast<void>(std::make_unique<char[]>(impossible)), memory_failure);
}

} // namespace
} // namespace orbse
