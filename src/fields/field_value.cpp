#include "fields/field_value.h"

#include "runtime/little_endian.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <optional>

namespace orbse::fields {
namespace {

struct number_range {
    std::int64_t least;
    std::int64_t most;
};

number_range range_of(leaf_type type)
{
    switch (type) {
    case leaf_type::u8:
    case leaf_type::u8_array:
        return {0, 0xFF};
    case leaf_type::u16:
    case leaf_type::u16_array:
        return {0, 0xFFFF};
    case leaf_type::u32:
        return {0, 0xFFFFFFFF};
    case leaf_type::i32:
        return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    default:
        return {0, 0xFF}; // the bytes of a name or a raw stretch
    }
}

// Decimal with an optional minus, or 0x hex.
std::optional<std::int64_t> parse_number(std::string_view text)
{
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t magnitude = 0;
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if ((error != std::errc{} && error != std::errc::result_out_of_range) || stop != digits.data() + digits.size() ||
        digits.empty()) {
        return std::nullopt;
    }
    // Past any field's range, however far: the range check says so.
    constexpr std::uint64_t beyond_every_range = std::uint64_t{1} << 40;
    const auto value = static_cast<std::int64_t>(std::min(magnitude, beyond_every_range));
    return negative ? -value : value;
}

// "u8 (0 to 255)"
std::string range_text(leaf_type type)
{
    constexpr std::array<std::string_view, 8> words{"u8", "u16", "u32", "i32", "a byte", "a byte", "u8", "u16"};
    const number_range range = range_of(type);
    return std::string(words[static_cast<std::size_t>(type)]) + " (" + std::to_string(range.least) + " to " +
           std::to_string(range.most) + ")";
}

// The text as given, in double quotes.
std::string quoted(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    result += text;
    result += '"';
    return result;
}

// A number of the leaf's type, or its name: the problem when it is neither.
std::optional<std::int64_t> number_of(const field_leaf& leaf, std::string_view text, leaf_type type, std::string& problem)
{
    std::optional<std::int64_t> value = parse_number(text);
    if (!value && leaf.names.from != value_names::table::none) {
        value = number_named(leaf, text);
        if (!value) {
            problem = quoted(text) + " is no name of its values";
            return std::nullopt;
        }
    }
    if (!value) {
        problem = quoted(text) + " is not a number";
        return std::nullopt;
    }
    const number_range range = range_of(type);
    if (*value < range.least || *value > range.most) {
        problem = std::string(text) + " is out of range for " + range_text(type);
        return std::nullopt;
    }
    return value;
}

void append_little_endian(std::vector<std::uint8_t>& bytes, std::int64_t value, std::size_t width)
{
    for (std::size_t at = 0; at < width; ++at) {
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * at)));
    }
}

int hex_digit(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

bool append_hex(std::vector<std::uint8_t>& bytes, std::string_view text)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const int high = hex_digit(text[at]);
        const int low = hex_digit(text[at + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

// A name as the listing writes it: its bytes, \xNN for any of them.
bool append_name(std::vector<std::uint8_t>& bytes, std::string_view text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\\') {
            bytes.push_back(static_cast<std::uint8_t>(text[at]));
            continue;
        }
        if (at + 3 >= text.size() || text[at + 1] != 'x' || !append_hex(bytes, text.substr(at + 2, 2))) {
            return false;
        }
        at += 3;
    }
    return true;
}

// [a,b,c], or one number alone.
bool append_run(const field_leaf& leaf, std::vector<std::uint8_t>& bytes, std::string_view text, std::string& problem)
{
    const bool listed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    if (listed) {
        text = text.substr(1, text.size() - 2);
    }
    const leaf_type element = leaf.type == leaf_type::u16_array ? leaf_type::u16_array : leaf_type::u8_array;
    const std::size_t width = element == leaf_type::u16_array ? 2 : 1;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find(',', start);
        end = end == std::string_view::npos ? text.size() : end;
        const auto value = number_of(leaf, text.substr(start, end - start), element, problem);
        if (!value) {
            return false;
        }
        append_little_endian(bytes, *value, width);
        start = end + 1;
    }
    return true;
}

std::string count_text(std::uint64_t count, const std::string& what)
{
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

} // namespace

value_bytes bytes_of_value(const field_leaf& leaf, std::optional<std::uint64_t> from, std::string_view text)
{
    value_bytes value;
    const std::uint64_t width = leaf.type == leaf_type::u16_array ? 2 : 1;
    const bool whole = !from.has_value();
    const std::uint64_t first = from.value_or(0);
    // Past every field's end, kept from overflowing.
    const std::uint64_t skipped = std::min(first, leaf.size) * width;
    value.offset = leaf.offset + skipped;
    const std::uint64_t room = leaf.size - std::min(leaf.size, skipped);
    const bool numbers = leaf.type == leaf_type::u8 || leaf.type == leaf_type::u16 || leaf.type == leaf_type::u32 ||
                         leaf.type == leaf_type::i32;
    if (numbers) {
        if (!whole) {
            value.problem = "is one number; +N sets the bytes of a stretch or the elements of a run";
        } else if (const auto number = number_of(leaf, text, leaf.type, value.problem)) {
            append_little_endian(value.bytes, *number, leaf.size);
        }
        return value;
    }
    if (room == 0) {
        value.problem = "has no byte or element " + std::to_string(first);
        return value;
    }
    bool understood = true;
    std::string what = "byte";
    if (leaf.type == leaf_type::text) {
        understood = append_name(value.bytes, text);
        value.problem = understood ? "" : quoted(text) + " is not a name (\\xNN for a byte)";
    } else if (leaf.type == leaf_type::raw) {
        understood = append_hex(value.bytes, text);
        value.problem = understood ? "" : quoted(text) + " is not hex bytes";
    } else {
        understood = append_run(leaf, value.bytes, text, value.problem);
        what = "element";
    }
    if (!understood) {
        value.bytes.clear();
        return value;
    }
    const std::uint64_t given = value.bytes.size() / width;
    const std::uint64_t held = room / width;
    // A name shorter than its field is padded with NUL; every other value
    // fills what it sets.
    if (leaf.type == leaf_type::text && whole && given <= held) {
        value.bytes.resize(room, 0);
    } else if (given > held || (whole && given < held && leaf.type != leaf_type::text)) {
        value.problem = count_text(given, what) + " given; the field holds " +
                        (whole ? "" : std::to_string(held) + " from " + what + " " + std::to_string(first) + " of ") +
                        count_text(leaf.size / width, what);
        value.bytes.clear();
    }
    return value;
}

} // namespace orbse::fields
