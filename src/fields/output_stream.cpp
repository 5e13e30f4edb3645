#include "fields/output_stream.h"

#include <array>
#include <charconv>

namespace orbse::fields {

namespace {
constexpr std::size_t block_size = 256 * 1024;
}

output_stream::output_stream(platform::native_file target) : target_(target) { buffer_.reserve(block_size); }

output_stream::~output_stream() { flush(); }

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
    std::array<char, 24> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16).ptr;
    const auto length = static_cast<std::size_t>(end - digits.data());
    write("0x");
    for (std::size_t pad = length; pad < 8; ++pad) {
        put('0');
    }
    write({digits.data(), length});
}

void output_stream::write_hex(const std::uint8_t* bytes, std::size_t count)
{
    constexpr std::string_view hex_digits = "0123456789abcdef";
    for (std::size_t at = 0; at < count; ++at) {
        if (buffer_.capacity() - buffer_.size() < 2) {
            flush();
        }
        buffer_.push_back(hex_digits[bytes[at] >> 4]);
        buffer_.push_back(hex_digits[bytes[at] & 0xF]);
    }
}

bool output_stream::flush()
{
    if (!failed_ && !buffer_.empty()) {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            std::size_t written = 0;
            const auto code = platform::write(target_, buffer_.data() + done, buffer_.size() - done, written);
            if (code != 0 || written == 0) {
                failed_ = true;
                break;
            }
            done += written;
        }
    }
    buffer_.clear();
    return !failed_;
}

} // namespace orbse::fields
