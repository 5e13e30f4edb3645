// The floor of a run: what it costs just to write the four outputs of a save
// from memory, as files of the same names and sizes as a run writes.
//   orbse_floor SAVE REPORT_BYTES [REPORT_BLOCK]
// creates SAVE_pass.bmp, SAVE_rm1.bmp and SAVE_rm2.bmp of 3,211,318 bytes
// each and SAVE.inf of REPORT_BYTES bytes through the same platform layer as
// the inspector, from memory filled beforehand (on large pages, where
// filling costs fewest page faults). Each picture goes in one
// write; so does the report, unless REPORT_BLOCK is given: then it goes in
// writes of that many bytes, as the inspector's report channel must write
// it (128). The save itself is not read.
#include "runtime/large_buffer.h"
#include "runtime/platform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

namespace platform = orbse::platform;

constexpr std::size_t picture_file_bytes = 3'211'318;
constexpr std::array<const char*, 3> picture_suffixes{"_pass.bmp", "_rm1.bmp", "_rm2.bmp"};
constexpr const char* report_suffix = ".inf";

using file_content = orbse::large_buffer<unsigned char>;

file_content content_of_size(std::size_t bytes, unsigned char filler)
{
    file_content content(bytes);
    std::fill(content.begin(), content.end(), filler);
    return content;
}

// Writes the content in writes of `block` bytes (the last one shorter).
bool write_file_in_blocks(const std::string& name, const file_content& content, std::size_t block)
{
    platform::native_file file;
    if (platform::create_always(name, true, file) != 0) {
        return false;
    }
    bool wrote = true;
    for (std::size_t offset = 0; offset < content.size() && wrote; offset += block) {
        const std::size_t piece = std::min(block, content.size() - offset);
        std::size_t written = 0;
        wrote = platform::write(file, content.data() + offset, piece, written) == 0 && written == piece;
    }
    return platform::close(file) == 0 && wrote;
}

bool write_whole_file(const std::string& name, const file_content& content)
{
    return write_file_in_blocks(name, content, std::max<std::size_t>(1, content.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: orbse_floor SAVE REPORT_BYTES [REPORT_BLOCK]\n", stderr);
        return 2;
    }
    const std::string save = argv[1];
    const std::size_t report_bytes = std::strtoull(argv[2], nullptr, 10);
    const std::size_t report_block = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : report_bytes;
    const file_content picture = content_of_size(picture_file_bytes, 0xA5);
    for (const char* suffix : picture_suffixes) {
        if (!write_whole_file(save + suffix, picture)) {
            std::fprintf(stderr, "orbse_floor: cannot write %s%s\n", save.c_str(), suffix);
            return 1;
        }
    }
    const file_content report = content_of_size(report_bytes, 'x');
    if (!write_file_in_blocks(save + report_suffix, report, std::max<std::size_t>(1, report_block))) {
        std::fprintf(stderr, "orbse_floor: cannot write %s%s\n", save.c_str(), report_suffix);
        return 1;
    }
    return 0;
}
