// The two ways a run can fail, and the check that turns a stored I/O error
// code into a failure. Nothing in the program catches a failure except the
// top of the run, which reports it and ends with exit code 1.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <string_view>

namespace orbse {

// Where a check stands in the source, captured at its caller: the compilers'
// location builtins in default arguments, which every compiler we build with
// offers (std::source_location is missing from some of them).
class check_site {
public:
    static constexpr check_site current(const char* file = __builtin_FILE(),
                                        std::uint_least32_t line = __builtin_LINE()) noexcept
    {
        return check_site(file, line);
    }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr std::uint_least32_t line() const noexcept { return line_; }

private:
    constexpr check_site(const char* file, std::uint_least32_t line) noexcept : file_(file), line_(line) {}
    const char* file_;
    std::uint_least32_t line_;
};

// The error code of the last failed file operation, 0 when none is
// waiting. File operations store it; io_check reads and clears it. Each
// thread has its own: the inspector runs on one, but the field program's
// diff walks several saves at once, one thread each, and a save that ends
// early must break its own walk and no other.
inline thread_local std::int32_t pending_io_error = 0;

// The place in the code where a failure was raised, in eight hex digits on
// the console: the high half tells the source file, the low half the line.
// It stays the same between builds and platforms, so a reported failure can
// be traced back to its check without a debugger.
std::uint32_t code_site(const check_site& site);

class failure {
public:
    virtual ~failure() = default;
    virtual std::string_view kind_name() const = 0;
    virtual std::string_view message() const = 0;
    std::uint32_t address() const { return address_; }

protected:
    explicit failure(std::uint32_t address) : address_(address) {}

private:
    std::uint32_t address_;
};

// A failed, short or impossible file operation, with its error code.
class io_failure final : public failure {
public:
    io_failure(std::int32_t code, std::uint32_t address);
    std::string_view kind_name() const override { return "EInOutError"; }
    std::string_view message() const override { return {message_.data(), message_length_}; }
    std::int32_t code() const { return code_; }

private:
    std::int32_t code_;
    // Held inline: building the failure never allocates.
    std::array<char, 32> message_{};
    std::size_t message_length_ = 0;
};

// Exhausted memory. It derives from std::bad_alloc so that the allocator's
// new-handler may throw it; raising it allocates nothing of its own.
class memory_failure final : public failure, public std::bad_alloc {
public:
    explicit memory_failure(std::uint32_t address) : failure(address) {}
    std::string_view kind_name() const override { return "EOutOfMemory"; }
    std::string_view message() const override { return "Out of memory"; }
    const char* what() const noexcept override { return "Out of memory"; }
};

// The message that the failure report shows for an I/O error code.
std::string_view io_error_message(std::int32_t code, std::array<char, 32>& storage);

// Raises the io_failure for the code a file operation left behind, and
// clears it. Called by io_check only when there is one.
[[noreturn]] void raise_pending_io_failure(const check_site& site);

// Raises an io_failure when a file operation has left an error code behind.
// Every file operation and every report line is followed by one, so the
// common case, no error, is decided inline.
inline void io_check(const check_site& site = check_site::current())
{
    if (pending_io_error != 0) [[unlikely]] {
        raise_pending_io_failure(site);
    }
}

// Makes every exhausted allocation raise a memory_failure.
void install_memory_failure_handler();

} // namespace orbse
