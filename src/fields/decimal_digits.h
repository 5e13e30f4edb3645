// Decimal digits written straight into a line being composed in an
// output_stream's block. The listing of a large save formats tens of
// millions of numbers, and a call into the library for each, or a copy of
// each number's digits from a scratch buffer, costs more than the rest of
// its line. Some of these write a few bytes past the digits they return the
// end of (the next piece of the line overwrites them): the caller reserves
// that much more room, as each says.
#pragma once

#include "runtime/little_endian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace orbse::fields {

// The decimal digits of 0 to 99, two by two.
inline constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int value = 0; value < 100; ++value) {
        pairs[2 * value] = static_cast<char>('0' + value / 10);
        pairs[2 * value + 1] = static_cast<char>('0' + value % 10);
    }
    return pairs;
}();

inline constexpr std::array<std::uint64_t, 20> powers_of_ten = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t power = 1;
    for (auto& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

// How many digits `value` has: from its bit width (log10 2 is about
// 1233 / 4096), then one more if the guess falls a power of ten short. The
// guess is 0 only for 0 and 1, which have one digit.
inline std::size_t decimal_length(std::uint64_t value)
{
    const auto guess = static_cast<std::size_t>((std::bit_width(value) * 1233) >> 12);
    return guess + (guess == 0 || value >= powers_of_ten[guess] ? 1 : 0);
}

// Writes the digits of `value` at `at` (room for 20 is the caller's) and
// returns the end; two digits at a time from the last. Writes nothing past
// the end.
inline char* put_decimal_digits(char* at, std::uint64_t value)
{
    char* const end = at + decimal_length(value);
    char* place = end;
    while (value >= 100) {
        place -= 2;
        std::memcpy(place, &digit_pairs[2 * (value % 100)], 2);
        value /= 100;
    }
    if (value >= 10) {
        std::memcpy(place - 2, &digit_pairs[2 * value], 2);
    } else {
        place[-1] = static_cast<char>('0' + value);
    }
    return end;
}

// The four digits of 0 to 9,999 with leading zeros, as they lie in
// memory from the first: 40 KB, which stays in the processor's nearest
// caches while a listing writes paths and references.
inline constexpr std::array<std::uint32_t, 10000> four_digits = [] {
    std::array<std::uint32_t, 10000> table{};
    for (std::uint32_t value = 0; value < table.size(); ++value) {
        std::uint32_t word = 0;
        std::uint32_t rest = value;
        for (int place = 3; place >= 0; --place) {
            word |= ('0' + rest % 10) << (8 * place);
            rest /= 10;
        }
        table[value] = word;
    }
    return table;
}();

// The digits of every 16-bit value, as they lie in memory from the first,
// with their number in the highest byte: 512 KB, made when the program is
// compiled. Paths and references are most of what a dump of a large save
// formats, a hundred million values and more; one look in this table is a
// quarter of the time of building the digits of each (0.5 against 2.1 ns a
// value), which was the largest share of a dump's formatting.
extern const std::array<std::uint64_t, 65536> u16_digits;

// A 16-bit value's digits, written without a branch on their number (the
// values of paths and references are spread over the whole range, so such
// branches would be guessed wrong again and again) in one store. Writes 8
// bytes: 3 past the end at least.
class small_decimal {
public:
    explicit small_decimal(std::uint16_t value)
    {
        const std::uint64_t entry = u16_digits[value];
        length_ = static_cast<std::size_t>(entry >> 56);
        digits_ = entry & five_bytes;
    }

    char* put(char* at) const
    {
        store_u64(reinterpret_cast<std::uint8_t*>(at), digits_);
        return at + length_;
    }

    // A comma, then the digits, in the same one store.
    char* put_after_comma(char* at) const
    {
        store_u64(reinterpret_cast<std::uint8_t*>(at), digits_ << 8 | ',');
        return at + 1 + length_;
    }

private:
    static constexpr std::uint64_t five_bytes = 0xFF'FFFF'FFFF;

    std::uint64_t digits_ = 0;
    std::size_t length_ = 0;
};

// A number that goes up by small steps from line to line (a slot's position,
// its offset): its digits are carried rather than formatted anew. The last
// eight digits are one word, which a step changes where it lies, most often
// in a register. Kept as bytes in memory, each step's one-byte store held up
// the next line's copy of the digits until it had landed (a wide load cannot
// take its bytes from a narrower store), and that wait was most of the time
// a dump spent on a reference slot. put writes 16 bytes, or the digits
// when there are more: up to 7 past the end.
class decimal_counter {
public:
    explicit decimal_counter(std::uint64_t value) : value_(value) { format(); }

    // `step` below 10.
    void add(unsigned step)
    {
        value_ += step;
        if ((last_eight_ >> 56) + step <= '9') [[likely]] {
            last_eight_ += std::uint64_t{step} << 56;
            return;
        }
        format();
    }

    char* put(char* at) const
    {
        if (length_ <= 8) {
            // The places before the first digit hold '0' and are shifted out.
            store_u64(reinterpret_cast<std::uint8_t*>(at), last_eight_ >> (8 * (8 - length_)));
            return at + length_;
        }
        std::memcpy(at, first_digits_.data(), first_digits_.size());
        store_u64(reinterpret_cast<std::uint8_t*>(at + length_ - 8), last_eight_);
        return at + length_;
    }

private:
    static constexpr std::uint64_t eight_digits = 100'000'000;

    // The digits anew, when the last one wraps: one step in five of 2. The
    // digits before the last eight change far more rarely and are only
    // formatted then.
    void format()
    {
        const std::uint64_t last = value_ % eight_digits;
        last_eight_ = four_digits[last / 10000] | std::uint64_t{four_digits[last % 10000]} << 32;
        length_ = decimal_length(value_);
        const std::uint64_t first = value_ / eight_digits;
        if (length_ > 8 && first != first_) {
            first_ = first;
            put_decimal_digits(first_digits_.data(), first);
        }
    }

    std::uint64_t value_;
    // The last eight digits with leading zeros, as they lie in memory from
    // the first: the last digit is the highest byte.
    std::uint64_t last_eight_ = 0;
    std::size_t length_ = 0;
    // The digits before the last eight (at most twelve), and their value;
    // none yet.
    std::array<char, 16> first_digits_{};
    std::uint64_t first_ = UINT64_MAX;
};

} // namespace orbse::fields
