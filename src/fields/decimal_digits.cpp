#include "fields/decimal_digits.h"

namespace orbse::fields {

// Each entry in a few plain statements, without calls: compilers bound how
// many steps the making of a constant may take (clang a million), and
// 65,536 entries leave about fifteen each.
constexpr std::array<std::uint64_t, 65536> u16_digits = [] {
    std::array<std::uint64_t, 65536> table{};
    for (std::uint32_t value = 0; value < table.size(); ++value) {
        // All five digits, the first in the lowest byte; the leading zeros
        // are shifted out.
        const std::uint64_t five_digits =
            std::uint64_t{'0' + value / 10000} | std::uint64_t{'0' + value / 1000 % 10} << 8 |
            std::uint64_t{'0' + value / 100 % 10} << 16 | std::uint64_t{'0' + value / 10 % 10} << 24 |
            std::uint64_t{'0' + value % 10} << 32;
        const std::uint64_t length =
            1 + std::uint64_t{value >= 10} + std::uint64_t{value >= 100} + std::uint64_t{value >= 1000} +
            std::uint64_t{value >= 10000};
        table[value] = five_digits >> (8 * (5 - length)) | length << 56;
    }
    return table;
}();

} // namespace orbse::fields
