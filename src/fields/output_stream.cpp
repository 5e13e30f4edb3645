#include "fields/output_stream.h"

#include <array>
#include <charconv>

namespace orbse::fields {

void output_stream::write_number(std::uint64_t value)
{
    std::array<char, 24> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    write({digits.data(), static_cast<std::size_t>(end - digits.data())});
}

void output_stream::write_signed(std::int64_t value)
{
    std::array<char, 24> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    write({digits.data(), static_cast<std::size_t>(end - digits.data())});
}

void output_stream::write_offset(std::uint64_t value)
{
    std::array<char, 16> digits;
    const auto length =
        static_cast<std::size_t>(std::to_chars(digits.data(), digits.data() + digits.size(), value, 16).ptr - digits.data());
    buffer_ += "0x";
    if (length < 8) {
        buffer_.append(8 - length, '0');
    }
    write({digits.data(), length});
}

void output_stream::write_hex(const std::uint8_t* bytes, std::size_t count)
{
    constexpr std::string_view hex_digits = "0123456789abcdef";
    for (std::size_t at = 0; at < count; ++at) {
        buffer_ += hex_digits[bytes[at] >> 4];
        buffer_ += hex_digits[bytes[at] & 0x0F];
        hand_over_when_full();
    }
}

void output_stream::write_u16_list(const std::uint16_t* values, std::size_t count)
{
    for (std::size_t at = 0; at < count; ++at) {
        if (at > 0) {
            buffer_ += ',';
        }
        write_number(values[at]);
    }
}

bool output_stream::flush()
{
    for (std::size_t done = 0; done < buffer_.size() && !failed_;) {
        std::size_t written = 0;
        if (platform::write(target_, buffer_.data() + done, buffer_.size() - done, written) != 0 || written == 0) {
            failed_ = true;
        }
        done += written;
    }
    buffer_.clear();
    return !failed_;
}

} // namespace orbse::fields
