// The program's standard output: one plain buffer, handed to the system
// whenever it holds 64 KB, so that a listing of millions of lines costs few
// system calls and reads the same on every platform (no conversion of line
// ends).
#pragma once

#include "runtime/platform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orbse::fields {

// The exit status of a program whose standard output's reader went before
// the end (orbse-fields list SAVE | head): the status a shell gives a
// program that a closed pipe ends, so scripts read it the same way.
inline constexpr int exit_reader_gone = 141;

class output_stream {
public:
    explicit output_stream(platform::native_file target = platform::standard_output()) : target_(target) {}
    ~output_stream() { flush(); }
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;

    void write(std::string_view text)
    {
        if (text.empty()) {
            return; // its data may be null, which memcpy must not be given
        }
        while (text.size() > buffer_.size() - fill_) {
            const std::size_t part = buffer_.size() - fill_;
            std::memcpy(buffer_.data() + fill_, text.data(), part);
            fill_ += part;
            text.remove_prefix(part);
            flush();
        }
        std::memcpy(buffer_.data() + fill_, text.data(), text.size());
        fill_ += text.size();
    }

    void put(char character)
    {
        if (fill_ == buffer_.size()) [[unlikely]] {
            flush();
        }
        buffer_[fill_++] = character;
    }

    void write_number(std::uint64_t value) { write_decimal(static_cast<std::int64_t>(value), false); }
    void write_signed(std::int64_t value) { write_decimal(value, true); }
    // Eight hex digits at least, lower case, after "0x".
    void write_offset(std::uint64_t value);
    // Two lower-case hex digits per byte.
    void write_hex(const std::uint8_t* bytes, std::size_t count);
    // Values as "a,b,c".
    void write_u16_list(const std::uint16_t* values, std::size_t count);

    // Hands what is gathered to the system. False once a write has failed
    // (a full disk): later output is dropped. A reader that has gone ends
    // the program at once, quietly, with exit_reader_gone: nothing more
    // that it writes can be read.
    bool flush();
    bool failed() const { return failed_; }
    // Drops what is gathered and not yet handed to the system: lines that
    // turned out to say what did not happen.
    void discard() { fill_ = 0; }

private:
    void write_decimal(std::int64_t value, bool is_signed);

    // Room for `bytes` more, written at the place returned; commit(end)
    // keeps what was written there. For numbers formatted in place.
    char* room_for(std::size_t bytes)
    {
        if (bytes > buffer_.size() - fill_) {
            flush();
        }
        return buffer_.data() + fill_;
    }
    void commit(const char* end) { fill_ = static_cast<std::size_t>(end - buffer_.data()); }

    platform::native_file target_;
    std::array<char, 64 * 1024> buffer_;
    std::size_t fill_ = 0;
    bool failed_ = false;
};

} // namespace orbse::fields
