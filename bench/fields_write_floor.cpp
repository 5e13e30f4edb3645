// The floor of a listing: what it costs just to write that many bytes from
// memory to standard output, in blocks of the size that writes fastest.
//   fields_write_floor BYTES
// The bytes are lines of text filled in beforehand; nothing is read.
#include "runtime/platform.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: fields_write_floor BYTES\n", stderr);
        return 2;
    }
    // 256 KB: 46 ms for 259 MB into a file, against 50 ms in blocks of 64 KB
    // or 1 MB and more in larger ones.
    constexpr std::size_t block_size = 256 * 1024;
    std::uint64_t left = std::strtoull(argv[1], nullptr, 10);
    std::vector<char> block(block_size, 'x');
    for (std::size_t at = 63; at < block.size(); at += 64) {
        block[at] = '\n';
    }
    const auto out = orbse::platform::standard_output();
    while (left > 0) {
        const std::size_t piece = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        std::size_t written = 0;
        if (orbse::platform::write(out, block.data(), piece, written) != 0 || written == 0) {
            return 1;
        }
        left -= written;
    }
    return 0;
}
