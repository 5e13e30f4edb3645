// The program's standard output: bytes gathered into large blocks and
// written as they are, so a listing of millions of lines costs few system
// calls and reads the same on every platform.
#pragma once

#include "runtime/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace orbse::fields {

class output_stream {
public:
    explicit output_stream(platform::native_file target = platform::standard_output());
    ~output_stream();
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;

    void write(std::string_view text)
    {
        if (text.size() > capacity - fill_) [[unlikely]] {
            write_long(text);
            return;
        }
        std::memcpy(buffer_.get() + fill_, text.data(), text.size());
        fill_ += text.size();
    }

    void put(char character)
    {
        if (fill_ == capacity) [[unlikely]] {
            flush();
        }
        buffer_[fill_++] = character;
    }

    void write_number(std::uint64_t value);
    // A run of u16 values as "a,b,c", the bulk of a listing of long paths.
    void write_u16_list(const std::uint16_t* values, std::size_t count);
    void write_signed(std::int64_t value);
    // Eight hex digits at least, lower case, after "0x".
    void write_offset(std::uint64_t value);
    // Two lower-case hex digits per byte.
    void write_hex(const std::uint8_t* bytes, std::size_t count);

    // Hands what is gathered to the system. False once a write has failed
    // (a closed pipe, a full disk): later output is dropped.
    bool flush();
    bool failed() const { return failed_; }

private:
    static constexpr std::size_t capacity = 256 * 1024;
    // Room for the longest number, so that it can be formatted in place.
    static constexpr std::size_t number_room = 24;

    void write_long(std::string_view text);
    char* room_for(std::size_t bytes)
    {
        if (bytes > capacity - fill_) [[unlikely]] {
            flush();
        }
        return buffer_.get() + fill_;
    }

    platform::native_file target_;
    std::unique_ptr<char[]> buffer_;
    std::size_t fill_ = 0;
    bool failed_ = false;
};

} // namespace orbse::fields
