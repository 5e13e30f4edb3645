#include "fields/output_stream.h"

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

void output_stream::write_number(std::uint64_t value)
{
    char* at = room_for(number_room);
    fill_ += static_cast<std::size_t>(std::to_chars(at, at + number_room, value).ptr - at);
}

namespace {

// The decimal digits of 0 to 99, two by two.
constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int value = 0; value < 100; ++value) {
        pairs[2 * value] = static_cast<char>('0' + value / 10);
        pairs[2 * value + 1] = static_cast<char>('0' + value % 10);
    }
    return pairs;
}();

// Writes `value` (at most 65,535) at `at`, returns the end. The five digit
// places are filled whatever the value and the leading zeros skipped, so a
// value costs a few multiplications and two copies of known size, which the
// compiler does in place, rather than a loop and a call; `at` needs room for
// five bytes.
char* put_u16(char* at, unsigned value)
{
    const unsigned rest = value % 10000;
    std::array<char, 10> places{};
    places[0] = static_cast<char>('0' + value / 10000);
    std::memcpy(&places[1], &digit_pairs[2 * (rest / 100)], 2);
    std::memcpy(&places[3], &digit_pairs[2 * (rest % 100)], 2);
    const unsigned length = 1u + (value >= 10) + (value >= 100) + (value >= 1000) + (value >= 10000);
    std::memcpy(at, &places[5 - length], 5);
    return at + length;
}

} // namespace

void output_stream::write_u16_list(const std::uint16_t* values, std::size_t count)
{
    constexpr std::size_t widest = 6; // five digits and a comma
    for (std::size_t done = 0; done < count;) {
        char* at = room_for(widest * 256);
        const std::size_t piece = std::min<std::size_t>(count - done, 256);
        for (std::size_t index = 0; index < piece; ++index) {
            if (done + index > 0) {
                *at++ = ',';
            }
            at = put_u16(at, values[done + index]);
        }
        fill_ = static_cast<std::size_t>(at - buffer_.get());
        done += piece;
    }
}

void output_stream::write_signed(std::int64_t value)
{
    char* at = room_for(number_room);
    fill_ += static_cast<std::size_t>(std::to_chars(at, at + number_room, value).ptr - at);
}

void output_stream::write_offset(std::uint64_t value)
{
    char digits[number_room];
    const auto length = static_cast<std::size_t>(std::to_chars(digits, digits + number_room, value, 16).ptr - digits);
    char* at = room_for(2 + 8 + number_room);
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
        char* place = room_for(2);
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
