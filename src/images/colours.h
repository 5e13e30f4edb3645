// The colour value the map pictures are made of, the named colours they use,
// and the two operations on colours: packing channel bytes and blending.
#pragma once

#include <cstdint>

namespace orbse {

// Four bytes in memory, in the order red, green, blue, alpha, whatever the
// host's byte order: read as a little-endian 32-bit number the value is
// alpha << 24 | blue << 16 | green << 8 | red. Alpha 255 is opaque.
struct rgba_color {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 0;

    friend bool operator==(const rgba_color&, const rgba_color&) = default;
};

static_assert(sizeof(rgba_color) == 4, "a picture is handed to the BMP writer as raw bytes");

inline constexpr std::uint8_t opaque = 255;

inline constexpr rgba_color col_black{0, 0, 0, opaque};
inline constexpr rgba_color col_red{255, 0, 0, opaque};
inline constexpr rgba_color col_green{0, 255, 0, opaque};
inline constexpr rgba_color col_blue{0, 0, 255, opaque};
inline constexpr rgba_color col_gray{128, 128, 128, opaque};
inline constexpr rgba_color col_brown{150, 75, 0, opaque};

rgba_color pack_rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);

// Mixes red, green and blue: `weight` is the share of `first`, 1 - `weight`
// that of `second`, for a weight from 0 to 1. The result is always opaque;
// the alphas of the two colours play no part.
rgba_color blend_rgba(rgba_color first, rgba_color second, float weight);

} // namespace orbse
