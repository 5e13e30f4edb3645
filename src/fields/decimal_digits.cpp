#include "fields/decimal_digits.h"

namespace orbse::fields {

constexpr std::array<std::uint64_t, 65536> u16_digits = [] {
    std::array<std::uint64_t, 65536> table{};
    for (std::uint32_t value = 0; value < table.size(); ++value) {
        std::uint64_t length = decimal_length(value);
        std::uint64_t entry = length << 56;
        std::uint32_t rest = value;
        for (std::uint64_t place = length; place-- > 0;) {
            entry |= std::uint64_t{'0' + rest % 10} << (8 * place);
            rest /= 10;
        }
        table[value] = entry;
    }
    return table;
}();

} // namespace orbse::fields
