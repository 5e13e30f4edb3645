// Checked file operations on a file seen as a sequence of bytes. None of them
// raises anything: a failure leaves its code in pending_io_error, and the
// caller follows every operation with io_check.
#pragma once

#include "runtime/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

namespace orbse {

// Error codes of the program's own, beside the platform's.
inline constexpr std::int32_t read_beyond_end = 100;
inline constexpr std::int32_t short_write = 101;
inline constexpr std::int32_t file_not_open = 103;
inline constexpr std::int32_t report_not_created = 105;

enum class file_mode { closed, input, output, input_output };

// Bytes fetched from the platform ahead of the reader and not yet handed
// out. Reading ahead in large pieces keeps a save of many small fields from
// costing one system call per field; what the reader sees is the same as
// with direct reads. Readers see only the bytes held and may take some of
// them; how and when they are fetched stays here. The bytes start
// uninitialised: each piece is read before it is used.
class read_ahead_buffer {
public:
    // The bytes fetched and not yet taken, in file order.
    std::span<const unsigned char> held() const { return {bytes_.get() + begin_, end_ - begin_}; }
    std::size_t held_size() const { return end_ - begin_; }

    // Hands out the first `count` held bytes (at most held_size()).
    void take(void* buffer, std::size_t count)
    {
        std::memcpy(buffer, bytes_.get() + begin_, count);
        begin_ += count;
    }

    // Skips the first `count` held bytes, already looked at through held().
    void consume(std::size_t count) { begin_ += count; }

    // Drops what is held, as when the file is opened or closed.
    void forget() { begin_ = end_ = 0; }

    // Replaces what is held by the next piece of `file`. A failed read
    // leaves nothing held and returns the platform's code.
    platform::error_code refill(platform::native_file file);

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

struct data_file {
    data_file() = default;
    // A file still open when its data_file goes, because a failure ended the
    // work on it, is closed quietly: the failure is what gets reported, and
    // a caller that carries on after it (a test, a fuzzer, a tool reading
    // many saves) must not run out of file handles.
    ~data_file();
    data_file(const data_file&) = delete;
    data_file& operator=(const data_file&) = delete;

    platform::native_file handle;
    file_mode mode = file_mode::closed;
    std::string name;
    read_ahead_buffer read_ahead;
};

// Opens an existing file for reading only, shared with other readers and
// writers. An inspector has no business asking for write access to a save.
void open_data_file(data_file& file, const std::string& name);

// Creates a file for reading and writing, or truncates an existing one.
void create_data_file(data_file& file, const std::string& name);

// Reads exactly `count` bytes; fewer leaves read_beyond_end behind.
void read_exact(data_file& file, void* buffer, std::size_t count);

// As read_exact, straight into `buffer` but for bytes already read ahead,
// for a reader that keeps pieces of its own: a file read only so uses no
// read-ahead, nor its memory.
void read_exact_unbuffered(data_file& file, void* buffer, std::size_t count);

// Writes exactly `count` bytes; fewer leaves short_write behind.
void write_exact(data_file& file, const void* data, std::size_t count);

// Leaves behind what a write of `wanted` bytes that the platform answered
// with `code` and `written` means: its code, or short_write when it took
// only part, since a partial write fails as surely as a refused one.
void note_write_result(platform::error_code code, std::size_t written, std::size_t wanted);

// Writes exactly the pieces, one after another, as write_exact would write
// them joined; fewer bytes leave short_write behind.
void write_exact_gathered(data_file& file, const platform::write_piece* pieces, std::size_t count);

std::uint64_t file_size(data_file& file);
std::uint64_t file_position(data_file& file);
bool at_end(data_file& file);
void close_data_file(data_file& file);

namespace detail {
void read_exact_slow(data_file& file, unsigned char* buffer, std::size_t count);
}

// The common case, a few bytes already fetched, stays inline.
inline void read_exact(data_file& file, void* buffer, std::size_t count)
{
    if (count <= file.read_ahead.held_size() && file.mode != file_mode::closed) {
        if (count == 0) {
            return; // nothing to copy, and the buffer may be no buffer at all
        }
        file.read_ahead.take(buffer, count);
        return;
    }
    detail::read_exact_slow(file, static_cast<unsigned char*>(buffer), count);
}

} // namespace orbse
