#include "images/colours.h"

#include "picture_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace orbse {
namespace {

TEST(pack_rgba, lays_the_bytes_out_red_green_blue_alpha)
{
    const rgba_color packed = pack_rgba(1, 2, 3, 4);
    unsigned char in_memory[4];
    std::memcpy(in_memory, &packed, sizeof in_memory);
    EXPECT_EQ(in_memory[0], 1);
    EXPECT_EQ(in_memory[1], 2);
    EXPECT_EQ(in_memory[2], 3);
    EXPECT_EQ(in_memory[3], 4);
    const std::uint32_t little_endian =
        in_memory[0] | in_memory[1] << 8 | in_memory[2] << 16 | static_cast<std::uint32_t>(in_memory[3]) << 24;
    EXPECT_EQ(little_endian, 4u * 16777216u + 3u * 65536u + 2u * 256u + 1u);
}

struct half_blend_case {
    std::uint8_t first;
    std::uint8_t second;
    std::uint8_t expected;
};

// Odd sums fall to the single-precision rounding, not to the exact mean.
TEST(blend_rgba, half_and_half_gives_the_worked_values)
{
    const std::vector<half_blend_case> cases{
        {0, 128, 64},   {191, 255, 223}, {0, 255, 128}, {128, 255, 191}, {64, 255, 159},
        {0, 191, 96},   {1, 0, 1},       {3, 0, 2},     {127, 0, 64},    {255, 0, 128},
        {100, 200, 150}, {255, 255, 255},
    };
    for (const auto& entry : cases) {
        for (const auto& [first, second] :
             {std::pair{entry.first, entry.second}, std::pair{entry.second, entry.first}}) {
            const rgba_color mixed =
                blend_rgba(pack_rgba(first, first, first, 9), pack_rgba(second, second, second, 7), 0.5f);
            EXPECT_EQ(mixed, pack_rgba(entry.expected, entry.expected, entry.expected, 255))
                << int(first) << " with " << int(second);
        }
    }
}

TEST(blend_rgba, mixes_each_channel_and_makes_the_result_opaque)
{
    EXPECT_EQ(blend_rgba(col_gray, col_blue, 0.5f), pack_rgba(64, 64, 191, 255));
    EXPECT_EQ(blend_rgba(col_red, col_black, 0.5f), pack_rgba(128, 0, 0, 255));
    EXPECT_EQ(blend_rgba(pack_rgba(0, 0, 0, 0), col_red, 0.0f), col_red);
    EXPECT_EQ(blend_rgba(pack_rgba(17, 99, 230, 3), col_red, 0.0f), col_red);
    EXPECT_EQ(blend_rgba(pack_rgba(12, 34, 56, 0), pack_rgba(1, 2, 3, 0), 0.0f), pack_rgba(1, 2, 3, 255));
    EXPECT_EQ(blend_rgba(pack_rgba(12, 34, 56, 0), pack_rgba(1, 2, 3, 0), 1.0f), pack_rgba(12, 34, 56, 255));
}

} // namespace
} // namespace orbse
