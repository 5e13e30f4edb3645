#include "images/colours.h"

#include <cmath>

namespace orbse {
namespace {

constexpr double channel_full = 255.0;

std::uint8_t blend_channel(std::uint8_t first, std::uint8_t second, double weight)
{
    const double mixed = weight * (first / channel_full) + (1.0 - weight) * (second / channel_full);
    // The mix passes through a single-precision float on its way back to a
    // byte. That rounding decides the odd sums at half weight: 128 and 255
    // give 191 here, where the exact mean 191.5 would round to 192.
    float share = static_cast<float>(mixed);
    if (share > 1.0f) {
        share = 1.0f;
    }
    // nearbyint rounds half to even in the default rounding mode.
    const auto channel = static_cast<long long>(std::nearbyint(static_cast<double>(share) * channel_full));
    return static_cast<std::uint8_t>(channel & 0xFF);
}

} // namespace

rgba_color pack_rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    return rgba_color{r, g, b, a};
}

rgba_color blend_rgba(rgba_color first, rgba_color second, float weight)
{
    return rgba_color{blend_channel(first.red, second.red, weight),
                      blend_channel(first.green, second.green, weight),
                      blend_channel(first.blue, second.blue, weight), opaque};
}

} // namespace orbse
