#include "runtime/spooled_input.h"

#include "runtime/data_file.h"
#include "runtime/failures.h"

#include <memory>

namespace orbse {
namespace {

constexpr std::size_t copy_buffer_size = 64 * 1024;

// Copies `from` to its end into `to`: 0, or the code of the first failure.
platform::error_code copy_to_end(platform::native_file from, platform::native_file to, unsigned char* buffer)
{
    for (;;) {
        std::size_t got = 0;
        if (const auto code = platform::read(from, buffer, copy_buffer_size, got); code != 0) {
            return code;
        }
        if (got == 0) {
            return 0;
        }
        std::size_t put = 0;
        if (const auto code = platform::write(to, buffer, got, put); code != 0) {
            return code;
        }
        if (put < got) {
            return short_write; // the system stopped taking bytes: no room left
        }
    }
}

} // namespace

spooled_input::spooled_input(platform::native_file source)
{
    // The buffer comes first: memory that runs out then leaves no file.
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(copy_buffer_size);
    platform::native_file spool;
    if (const auto code = platform::create_temporary(spool, path_); code != 0) {
        pending_io_error = code;
        io_check();
    }
    const auto copied = copy_to_end(source, spool, buffer.get());
    const auto closed = platform::close(spool);
    if (copied != 0 || closed != 0) {
        static_cast<void>(platform::remove_file(path_));
        pending_io_error = copied != 0 ? copied : closed;
        io_check();
    }
}

// A file that will not go is left to the system's clearing of its temporary
// folder: by now the command's own result is what gets reported.
spooled_input::~spooled_input() { static_cast<void>(platform::remove_file(path_)); }

} // namespace orbse
