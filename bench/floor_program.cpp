// The floor of a run: what it costs just to write the four outputs of a save
// from memory, as files of the same names and sizes as a run writes.
//   orbse_floor SAVE REPORT_BYTES
// creates SAVE_pass.bmp, SAVE_rm1.bmp and SAVE_rm2.bmp of 3,211,318 bytes
// each and SAVE.inf of REPORT_BYTES bytes, each in one write through the
// same platform layer as the inspector, from memory got the way the inspector
// gets its pictures (on large pages). The save itself is not read.
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
    file_content content(bytes, orbse::page_kind::large);
    std::fill(content.begin(), content.end(), filler);
    return content;
}

bool write_whole_file(const std::string& name, const file_content& content)
{
    platform::native_file file;
    if (platform::create_always(name, true, file) != 0) {
        return false;
    }
    std::size_t written = 0;
    const bool wrote = platform::write(file, content.data(), content.size(), written) == 0 &&
                       written == content.size();
    return platform::close(file) == 0 && wrote;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: orbse_floor SAVE REPORT_BYTES\n", stderr);
        return 2;
    }
    const std::string save = argv[1];
    const std::size_t report_bytes = std::strtoull(argv[2], nullptr, 10);
    const file_content picture = content_of_size(picture_file_bytes, 0xA5);
    for (const char* suffix : picture_suffixes) {
        if (!write_whole_file(save + suffix, picture)) {
            std::fprintf(stderr, "orbse_floor: cannot write %s%s\n", save.c_str(), suffix);
            return 1;
        }
    }
    const file_content report = content_of_size(report_bytes, 'x');
    if (!write_whole_file(save + report_suffix, report)) {
        std::fprintf(stderr, "orbse_floor: cannot write %s%s\n", save.c_str(), report_suffix);
        return 1;
    }
    return 0;
}
