// Reading back the pixels of the pictures the map renderings write, the way a
// viewer places them, for the tests of the images room.
#pragma once

#include "images/colours.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>

namespace orbse {

// Shows a colour as "(r, g, b, a)" in failure messages.
inline void PrintTo(const rgba_color& colour, std::ostream* out)
{
    *out << '(' << int(colour.red) << ", " << int(colour.green) << ", " << int(colour.blue) << ", "
         << int(colour.alpha) << ')';
}

namespace testing {

inline constexpr int shown_side = 896;
inline constexpr int cell_side = 8;
inline constexpr std::size_t bmp_headers_size = 54;
inline constexpr std::size_t shown_file_size = bmp_headers_size + std::size_t{shown_side} * shown_side * 4;

// The colour shown at (x, y), y counted down from the top, of an 896 x 896
// BMP whose rows are stored bottom-up with pixels blue, green, red, alpha.
inline rgba_color shown_pixel(const bytes& file, int x, int y)
{
    const std::size_t stored_row = static_cast<std::size_t>(shown_side - 1 - y);
    const std::size_t at = bmp_headers_size + (stored_row * shown_side + static_cast<std::size_t>(x)) * 4;
    return rgba_color{file.at(at + 2), file.at(at + 1), file.at(at), file.at(at + 3)};
}

// True when all 64 pixels of the cell in `column` and `row` show `colour`;
// otherwise says where the first one differs.
inline ::testing::AssertionResult cell_shows(const bytes& file, int column, int row, rgba_color colour)
{
    for (int y = row * cell_side; y < (row + 1) * cell_side; ++y) {
        for (int x = column * cell_side; x < (column + 1) * cell_side; ++x) {
            const rgba_color shown = shown_pixel(file, x, y);
            if (!(shown == colour)) {
                return ::testing::AssertionFailure()
                       << "cell (" << column << ", " << row << ") pixel (" << x << ", " << y << ") shows "
                       << ::testing::PrintToString(shown) << ", expected " << ::testing::PrintToString(colour);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace testing
} // namespace orbse
