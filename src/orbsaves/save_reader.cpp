#include "orbsaves/save_reader.h"

#include <stdexcept>

namespace orbse {

std::span<const std::uint8_t> record_cursor::take(std::size_t count)
{
    if (count > remaining()) {
        throw std::logic_error("record field beyond the end of its record");
    }
    const auto field = bytes_.subspan(offset_, count);
    offset_ += count;
    return field;
}

} // namespace orbse
