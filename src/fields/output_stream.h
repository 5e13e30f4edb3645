// The program's standard output: one plain buffer, handed to the system
// whenever it holds 64 KB, so that a listing of millions of lines costs few
// system calls and reads the same on every platform (no conversion of line
// ends).
#pragma once

#include "runtime/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orbse::fields {

class output_stream {
public:
    explicit output_stream(platform::native_file target = platform::standard_output()) : target_(target)
    {
        buffer_.reserve(block_size + block_size / 4);
    }
    ~output_stream() { flush(); }
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;

    void write(std::string_view text)
    {
        buffer_.append(text);
        hand_over_when_full();
    }

    void put(char character)
    {
        buffer_ += character;
        hand_over_when_full();
    }

    void write_number(std::uint64_t value);
    void write_signed(std::int64_t value);
    // Eight hex digits at least, lower case, after "0x".
    void write_offset(std::uint64_t value);
    // Two lower-case hex digits per byte.
    void write_hex(const std::uint8_t* bytes, std::size_t count);
    // Values as "a,b,c".
    void write_u16_list(const std::uint16_t* values, std::size_t count);

    // Hands what is gathered to the system. False once a write has failed
    // (a full disk, a reader that has gone): later output is dropped.
    bool flush();
    bool failed() const { return failed_; }

private:
    static constexpr std::size_t block_size = 64 * 1024;

    void hand_over_when_full()
    {
        if (buffer_.size() >= block_size) [[unlikely]] {
            flush();
        }
    }

    platform::native_file target_;
    std::string buffer_;
    bool failed_ = false;
};

} // namespace orbse::fields
