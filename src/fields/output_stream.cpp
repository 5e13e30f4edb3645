#include "fields/output_stream.h"

#include <charconv>
#include <cstdlib>

namespace orbse::fields {

namespace {
constexpr std::size_t longest_number = 20;
constexpr std::string_view hex_digits = "0123456789abcdef";
} // namespace

void output_stream::write_decimal(std::int64_t value, bool is_signed)
{
    char* at = room_for(longest_number);
    commit(is_signed ? std::to_chars(at, at + longest_number, value).ptr
                     : std::to_chars(at, at + longest_number, static_cast<std::uint64_t>(value)).ptr);
}

void output_stream::write_offset(std::uint64_t value)
{
    std::array<char, 16> digits;
    const auto length =
        static_cast<std::size_t>(std::to_chars(digits.data(), digits.data() + digits.size(), value, 16).ptr - digits.data());
    write("0x");
    if (length < 8) {
        write(std::string_view("00000000").substr(length));
    }
    write({digits.data(), length});
}

void output_stream::write_hex(const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t at = 0; at < count; ++at) {
        char* place = room_for(2);
        place[0] = hex_digits[bytes[at] >> 4];
        place[1] = hex_digits[bytes[at] & 0x0F];
        commit(place + 2);
    }
}

void output_stream::write_u16_list(const std::uint16_t* values, std::size_t count)
{
    for (std::size_t at = 0; at < count; ++at) {
        char* place = room_for(6);
        if (at > 0) {
            *place++ = ',';
        }
        commit(std::to_chars(place, place + 5, values[at]).ptr);
    }
}

bool output_stream::flush()
{
    for (std::size_t done = 0; done < fill_ && !failed_;) {
        std::size_t written = 0;
        const platform::error_code code = platform::write(target_, buffer_.data() + done, fill_ - done, written);
        if (platform::reader_has_gone(code)) {
            std::_Exit(exit_reader_gone);
        }
        if (code != 0 || written == 0) {
            failed_ = true;
        }
        done += written;
    }
    fill_ = 0;
    return !failed_;
}

} // namespace orbse::fields
