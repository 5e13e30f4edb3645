#include "images/bmp_writer.h"

#include "runtime/failures.h"
#include "runtime/little_endian.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace orbse {
namespace {

constexpr std::size_t file_header_size = 14;
constexpr std::size_t info_header_size = 40;
constexpr std::uint32_t pixel_data_offset = file_header_size + info_header_size;
constexpr std::uint32_t bytes_per_pixel = 4;
constexpr std::uint16_t bits_per_pixel = bytes_per_pixel * 8;
constexpr std::uint32_t uncompressed = 0;
constexpr std::int32_t pixels_per_metre = 1000;

// Byte positions within a pixel; the file wants blue, green, red, alpha.
constexpr std::array<std::size_t, bytes_per_pixel> red_blue_swapped{2, 1, 0, 3};

// Fills a header field by field, each number little-endian as BMP wants.
template <std::size_t size>
class header_fields {
public:
    void u8(std::uint8_t value) { bytes_[filled_++] = value; }

    void u16(std::uint16_t value)
    {
        store_u16(&bytes_[filled_], value);
        filled_ += 2;
    }

    void u32(std::uint32_t value)
    {
        store_u32(&bytes_[filled_], value);
        filled_ += 4;
    }

    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }

    const std::array<std::uint8_t, size>& bytes() const { return bytes_; }

private:
    std::array<std::uint8_t, size> bytes_{};
    std::size_t filled_ = 0;
};

std::size_t row_size(std::int32_t width) { return static_cast<std::size_t>(width) * bytes_per_pixel; }

std::uint32_t image_size(std::int32_t width, std::int32_t height)
{
    return static_cast<std::uint32_t>(row_size(width) * static_cast<std::size_t>(height));
}

std::array<std::uint8_t, file_header_size> bmp_file_header(std::uint32_t pixel_bytes)
{
    header_fields<file_header_size> header;
    header.u8('B');                               // signature
    header.u8('M');
    header.u32(pixel_data_offset + pixel_bytes);  // file size
    header.u16(0);                                // reserved
    header.u16(0);                                // reserved
    header.u32(pixel_data_offset);                // offset of the pixel data
    return header.bytes();
}

// The 40-byte header that every reader knows. A positive height stores the
// rows bottom-up, the orientation a BMP has by default.
std::array<std::uint8_t, info_header_size> bmp_info_header(std::int32_t width, std::int32_t height)
{
    header_fields<info_header_size> header;
    header.u32(info_header_size);             // info header size
    header.i32(width);                        // width in pixels
    header.i32(height);                       // height in pixels
    header.u16(1);                            // colour planes
    header.u16(bits_per_pixel);               // bits per pixel
    header.u32(uncompressed);                 // compression
    header.u32(image_size(width, height));    // image size in bytes
    header.i32(pixels_per_metre);             // horizontal resolution
    header.i32(pixels_per_metre);             // vertical resolution
    header.u32(0);                            // colours used
    header.u32(0);                            // important colours
    return header.bytes();
}

const unsigned char* buffer_row(const unsigned char* pixels, std::int32_t width, std::int32_t row)
{
    return pixels + row_size(width) * static_cast<std::size_t>(row);
}

void copy_row_swapped(unsigned char* destination, const unsigned char* source, std::size_t bytes)
{
    for (std::size_t offset = 0; offset < bytes; offset += bytes_per_pixel) {
        for (std::size_t byte = 0; byte < bytes_per_pixel; ++byte) {
            destination[offset + byte] = source[offset + red_blue_swapped[byte]];
        }
    }
}

void copy_row_unchanged(unsigned char* destination, const unsigned char* source, std::size_t bytes)
{
    std::copy(source, source + bytes, destination);
}

// Stores the buffer last row first, each row passed through `copy_row`, the
// whole pixel data in one write.
void write_rows_last_first(data_file& file, const unsigned char* pixels, std::int32_t width, std::int32_t height,
                           void (*copy_row)(unsigned char*, const unsigned char*, std::size_t))
{
    const std::size_t bytes_per_row = row_size(width);
    std::vector<unsigned char> stored(image_size(width, height));
    for (std::int32_t row = 0; row < height; ++row) {
        copy_row(stored.data() + bytes_per_row * static_cast<std::size_t>(height - 1 - row),
                 buffer_row(pixels, width, row), bytes_per_row);
    }
    write_block(file, stored.data(), stored.size());
}

// Stores the buffer as it is, row 0 first: row 0 becomes the bottom row.
void write_rows_as_they_are(data_file& file, const unsigned char* pixels, std::int32_t width, std::int32_t height)
{
    write_block(file, pixels, image_size(width, height));
}

// Rows of blocks are turned into file rows a batch at a time, about this
// many bytes of distinct rows, each written `scale` times over from the
// same memory. A batch of a map picture is 27 rows of blocks, so each write
// hands the system about 770 KB, which the page cache takes in large pieces
// (a run's pictures cost noticeably less than with writes of a few hundred
// kilobytes). The batch stays below the size at which the C library maps
// memory of its own, so the next picture reuses its pages instead of
// faulting in new ones.
constexpr std::size_t scaled_batch_bytes = 96 * 1024;

// A pixel as the file holds it (blue, green, red, alpha), kept in a word
// whose bytes in memory are those four in that order on any host.
using file_pixel = std::uint32_t;

file_pixel file_pixel_of(rgba_color colour)
{
    const std::array<unsigned char, bytes_per_pixel> file_order{colour.blue, colour.green, colour.red, colour.alpha};
    file_pixel pixel;
    std::memcpy(&pixel, file_order.data(), sizeof pixel);
    return pixel;
}

// One row of the file for a row of blocks: each block's colour, `scale`
// pixels wide.
void spread_block_row(file_pixel* file_row, const rgba_color* block_colours, std::int32_t columns,
                      std::int32_t scale)
{
    for (std::int32_t column = 0; column < columns; ++column) {
        file_row = std::fill_n(file_row, scale, file_pixel_of(block_colours[column]));
    }
}

// Writes the rows of blocks last to first, each file row `scale` times.
void write_block_rows_last_first(data_file& file, const rgba_color* block_colours, std::int32_t columns,
                                 std::int32_t rows, std::int32_t scale)
{
    const auto pixels_per_row = static_cast<std::size_t>(columns) * static_cast<std::size_t>(scale);
    const std::size_t bytes_per_row = pixels_per_row * bytes_per_pixel;
    const std::size_t batch_rows =
        std::max<std::size_t>(1, scaled_batch_bytes / std::max<std::size_t>(1, bytes_per_row));
    // Each row is spread in full before it is written.
    const auto file_rows = std::make_unique_for_overwrite<file_pixel[]>(batch_rows * pixels_per_row);
    std::vector<platform::write_piece> pieces;
    pieces.reserve(batch_rows * static_cast<std::size_t>(scale));
    std::size_t stored_rows = 0;
    for (std::int32_t row = rows - 1; row >= 0; --row) {
        file_pixel* const file_row = file_rows.get() + stored_rows * pixels_per_row;
        spread_block_row(file_row, block_colours + static_cast<std::size_t>(row) * static_cast<std::size_t>(columns),
                         columns, scale);
        pieces.insert(pieces.end(), static_cast<std::size_t>(scale), platform::write_piece{file_row, bytes_per_row});
        if (++stored_rows == batch_rows || row == 0) {
            write_pieces(file, pieces.data(), pieces.size());
            pieces.clear();
            stored_rows = 0;
        }
    }
}

void write_headers(data_file& file, std::int32_t width, std::int32_t height)
{
    const auto file_header = bmp_file_header(image_size(width, height));
    const auto info_header = bmp_info_header(width, height);
    write_block(file, file_header.data(), file_header.size());
    write_block(file, info_header.data(), info_header.size());
}

bool file_exists(const std::string& name)
{
    std::error_code unknown;
    const bool exists = std::filesystem::exists(name, unknown);
    // When existence cannot be told, the open itself reports why.
    return exists || unknown;
}

} // namespace

bool open_file(data_file& file, const std::string& name, int mode)
{
    if (mode == mode_read && !file_exists(name)) {
        return false;
    }
    if (mode == mode_read) {
        open_data_file(file, name);
    } else {
        create_data_file(file, name);
    }
    io_check();
    return true;
}

void close_file(data_file& file)
{
    close_data_file(file);
    io_check();
}

void write_block(data_file& file, const void* data, std::size_t count)
{
    write_exact(file, data, count);
    io_check();
}

void write_pieces(data_file& file, const platform::write_piece* pieces, std::size_t count)
{
    write_exact_gathered(file, pieces, count);
    io_check();
}

bool write_bmp(const std::string& file_name, const void* pixels, std::int32_t width, std::int32_t height,
               bool flip_rows, bool swap_red_blue)
{
    data_file file;
    if (!open_file(file, file_name, mode_write)) {
        return false;
    }
    write_headers(file, width, height);
    const auto* pixel_bytes = static_cast<const unsigned char*>(pixels);
    if (swap_red_blue) {
        write_rows_last_first(file, pixel_bytes, width, height, copy_row_swapped);
    } else if (flip_rows) {
        write_rows_last_first(file, pixel_bytes, width, height, copy_row_unchanged);
    } else {
        write_rows_as_they_are(file, pixel_bytes, width, height);
    }
    close_file(file);
    return true;
}

bool write_scaled_bmp(const std::string& file_name, const rgba_color* block_colours, std::int32_t columns,
                      std::int32_t rows, std::int32_t scale)
{
    data_file file;
    if (!open_file(file, file_name, mode_write)) {
        return false;
    }
    write_headers(file, columns * scale, rows * scale);
    write_block_rows_last_first(file, block_colours, columns, rows, scale);
    close_file(file);
    return true;
}

} // namespace orbse
