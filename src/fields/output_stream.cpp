#include "fields/output_stream.h"

#include "fields/decimal_digits.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace orbse::fields {

output_stream::output_stream(platform::native_file target)
    : target_(target), buffer_(std::make_unique_for_overwrite<char[]>(capacity))
{
}

output_stream::~output_stream() { flush(); }

void output_stream::write_long(std::string_view text)
{
    while (!text.empty()) {
        if (fill_ == capacity) {
            flush();
        }
        const std::size_t piece = std::min(text.size(), capacity - fill_);
        std::memcpy(buffer_.get() + fill_, text.data(), piece);
        fill_ += piece;
        text.remove_prefix(piece);
    }
}

void output_stream::write_number(std::uint64_t value) { commit(put_decimal_digits(reserve(number_room), value)); }

void output_stream::write_u16_list(const std::uint16_t* values, std::size_t count)
{
    if (count == 0) {
        return;
    }
    // A comma and five digits each, and the bytes the last store may write
    // past them.
    constexpr std::size_t widest = 6;
    constexpr std::size_t per_block = 256;
    commit(small_decimal(values[0]).put(reserve(8)));
    for (std::size_t done = 1; done < count;) {
        char* at = reserve(widest * per_block + 8);
        const std::size_t piece = std::min(count - done, per_block);
        for (std::size_t index = done; index < done + piece; ++index) {
            at = small_decimal(values[index]).put_after_comma(at);
        }
        commit(at);
        done += piece;
    }
}

void output_stream::write_signed(std::int64_t value)
{
    char* at = reserve(number_room);
    fill_ += static_cast<std::size_t>(std::to_chars(at, at + number_room, value).ptr - at);
}

void output_stream::write_offset(std::uint64_t value)
{
    char digits[number_room];
    const auto length = static_cast<std::size_t>(std::to_chars(digits, digits + number_room, value, 16).ptr - digits);
    char* at = reserve(2 + 8 + number_room);
    *at++ = '0';
    *at++ = 'x';
    for (std::size_t pad = length; pad < 8; ++pad) {
        *at++ = '0';
    }
    std::memcpy(at, digits, length);
    fill_ = static_cast<std::size_t>(at + length - buffer_.get());
}

void output_stream::write_hex(const std::uint8_t* bytes, std::size_t count)
{
    constexpr std::string_view hex_digits = "0123456789abcdef";
    for (std::size_t at = 0; at < count; ++at) {
        char* place = reserve(2);
        place[0] = hex_digits[bytes[at] >> 4];
        place[1] = hex_digits[bytes[at] & 0xF];
        fill_ += 2;
    }
}

bool output_stream::flush()
{
    for (std::size_t done = 0; !failed_ && done < fill_;) {
        std::size_t written = 0;
        const auto code = platform::write(target_, buffer_.get() + done, fill_ - done, written);
        if (code != 0 || written == 0) {
            failed_ = true;
        }
        done += written;
    }
    fill_ = 0;
    return !failed_;
}

} // namespace orbse::fields
