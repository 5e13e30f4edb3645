// Writes a picture held in memory as an uncompressed 32-bit BMP file, and the
// three small checked file routines it is built on. Every open, write and
// close is followed at once by io_check, so a failure ends the run there and
// leaves the file as far as it got.
#pragma once

#include "images/colours.h"
#include "runtime/data_file.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace orbse {

inline constexpr int mode_read = 1;
inline constexpr int mode_write = 2;

// Opens `name` for `mode`. With mode_write an existing file is truncated.
// Returns false only for mode_read of a file that does not exist; every
// other failure raises an io_failure.
bool open_file(data_file& file, const std::string& name, int mode);

void close_file(data_file& file);

// Writes exactly `count` bytes; a short write fails like any other.
void write_block(data_file& file, const void* data, std::size_t count);

// Writes `width` x `height` pixels of 4 bytes each, row 0 first without
// padding, to `file_name`. With `swap_red_blue` the buffer holds red, green,
// blue, alpha (rgba_color) and the rows are stored last to first, so buffer
// row 0 is the top of the displayed picture. Without it the buffer already
// holds the file's blue, green, red, alpha, and `flip_rows` tells whether the
// rows are stored last to first too. The caller guarantees the buffer size
// and non-negative dimensions. Returns true once the file is closed.
bool write_bmp(const std::string& file_name, const void* pixels, std::int32_t width, std::int32_t height,
               bool flip_rows, bool swap_red_blue);

// Writes a picture made of `columns` x `rows` blocks of `scale` x `scale`
// pixels, every pixel of block (c, r) the colour block_colours[r * columns +
// c], block row 0 at the top. The file is byte for byte the one write_bmp
// writes for that picture spread out pixel by pixel with `swap_red_blue`,
// but the whole picture is never spread out in memory: the rows go to the
// file a batch of rows of blocks at a time.
bool write_scaled_bmp(const std::string& file_name, const rgba_color* block_colours, std::int32_t columns,
                      std::int32_t rows, std::int32_t scale);

} // namespace orbse
