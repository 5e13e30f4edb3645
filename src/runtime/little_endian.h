// The save and the BMP files store their numbers little-endian. Every load
// and store of a multi-byte number in the program goes through these
// functions, which assemble the bytes with shifts, so the result is the same
// on any host and no file byte is ever read through a cast pointer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace orbse {

inline std::uint16_t load_u16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t load_u32(const std::uint8_t* bytes)
{
    return std::uint32_t{load_u16(bytes)} | std::uint32_t{load_u16(bytes + 2)} << 16;
}

inline void store_u16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void store_u32(std::uint8_t* bytes, std::uint32_t value)
{
    store_u16(bytes, static_cast<std::uint16_t>(value));
    store_u16(bytes + 2, static_cast<std::uint16_t>(value >> 16));
}

// Eight bytes at once where the host's own order is little-endian; the
// compiler makes one store of it, which it does not of the pieces.
inline void store_u64(std::uint8_t* bytes, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(bytes, &value, sizeof value);
    } else {
        store_u32(bytes, static_cast<std::uint32_t>(value));
        store_u32(bytes + 4, static_cast<std::uint32_t>(value >> 32));
    }
}

} // namespace orbse
