// The program's standard output: bytes gathered into large blocks and
// written as they are, so a listing of millions of lines costs few system
// calls and reads the same on every platform.
#pragma once

#include "runtime/platform.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orbse::fields {

class output_stream {
public:
    explicit output_stream(platform::native_file target = platform::standard_output());
    ~output_stream();
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;

    void write(std::string_view text)
    {
        if (text.size() > buffer_.capacity() - buffer_.size()) {
            flush();
        }
        buffer_.insert(buffer_.end(), text.begin(), text.end());
    }

    void put(char character)
    {
        if (buffer_.size() == buffer_.capacity()) {
            flush();
        }
        buffer_.push_back(character);
    }

    void write_number(std::uint64_t value);
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
    platform::native_file target_;
    std::vector<char> buffer_;
    bool failed_ = false;
};

} // namespace orbse::fields
