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

namespace {

constexpr unsigned four_digit_limit = 10000;

// The decimal digits of 0 to 9999, four to each, "0000" to "9999", and room
// after the last for a read of four bytes starting inside it. Digits come
// from here in copies of four bytes of known size, which the compiler makes
// plain loads and stores.
constexpr std::array<char, 4 * four_digit_limit + 3> four_digits = [] {
    std::array<char, 4 * four_digit_limit + 3> digits{};
    for (unsigned value = 0; value < four_digit_limit; ++value) {
        digits[4 * value] = static_cast<char>('0' + value / 1000);
        digits[4 * value + 1] = static_cast<char>('0' + value / 100 % 10);
        digits[4 * value + 2] = static_cast<char>('0' + value / 10 % 10);
        digits[4 * value + 3] = static_cast<char>('0' + value % 10);
    }
    return digits;
}();

// Writes `value` (below 10,000) without leading zeros at `at`, returns the
// end; `at` needs room for four bytes.
char* put_below_10000(char* at, unsigned value)
{
    const unsigned length = 1u + (value >= 10) + (value >= 100) + (value >= 1000);
    std::memcpy(at, &four_digits[4 * value + 4 - length], 4);
    return at + length;
}

// Writes `value` at `at`, returns the end: its groups of four digits from
// the right, the first without leading zeros; `at` needs room for twenty.
char* put_decimal(char* at, std::uint64_t value)
{
    std::array<unsigned, 5> groups{};
    std::size_t lower_groups = 0;
    while (value >= four_digit_limit) {
        groups[lower_groups++] = static_cast<unsigned>(value % four_digit_limit);
        value /= four_digit_limit;
    }
    at = put_below_10000(at, static_cast<unsigned>(value));
    while (lower_groups > 0) {
        std::memcpy(at, &four_digits[4 * groups[--lower_groups]], 4);
        at += 4;
    }
    return at;
}

} // namespace

// Each value is written with a comma after it, and the last comma is taken
// back: no test for the first value in the loop.
void output_stream::write_u16_list(const std::uint16_t* values, std::size_t count)
{
    constexpr std::size_t widest = 6; // five digits and a comma
    for (std::size_t done = 0; done < count;) {
        char* at = room_for(widest * 256);
        const std::size_t piece = std::min<std::size_t>(count - done, 256);
        for (std::size_t index = 0; index < piece; ++index) {
            at = put_decimal(at, values[done + index]);
            *at++ = ',';
        }
        fill_ = static_cast<std::size_t>(at - buffer_.get());
        done += piece;
    }
    if (count > 0) {
        --fill_;
    }
}

void output_stream::write_number(std::uint64_t value)
{
    char* at = room_for(number_room);
    fill_ = static_cast<std::size_t>(put_decimal(at, value) - buffer_.get());
}

void output_stream::write_signed(std::int64_t value)
{
    char* at = room_for(number_room);
    auto magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        *at++ = '-';
        magnitude = 0 - magnitude; // also right for the most negative value
    }
    fill_ = static_cast<std::size_t>(put_decimal(at, magnitude) - buffer_.get());
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
