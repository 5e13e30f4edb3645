#include "runtime/data_file.h"

#include "runtime/failures.h"

#include <algorithm>

namespace orbse {
namespace {

constexpr std::size_t read_ahead_size = 64 * 1024;

bool can_read(const data_file& file)
{
    return file.mode == file_mode::input || file.mode == file_mode::input_output;
}

bool can_write(const data_file& file)
{
    return file.mode == file_mode::output || file.mode == file_mode::input_output;
}

std::size_t take_read_ahead(data_file& file, unsigned char* buffer, std::size_t count)
{
    const std::size_t taken = std::min(count, file.read_ahead.held_size());
    if (taken > 0) {
        file.read_ahead.take(buffer, taken);
    }
    return taken;
}

void open_with(data_file& file, const std::string& name, file_mode mode,
               platform::error_code (*open)(const std::string&, platform::native_file&))
{
    file.name = name;
    file.mode = file_mode::closed;
    file.read_ahead.forget();
    platform::native_file opened;
    const auto code = open(name, opened);
    if (code != 0) {
        pending_io_error = code;
        return;
    }
    file.handle = opened;
    file.mode = mode;
}

platform::error_code create_shared_for_reading_and_writing(const std::string& name,
                                                           platform::native_file& file)
{
    return platform::create_always(name, true, file);
}

} // namespace

platform::error_code read_ahead_buffer::refill(platform::native_file file)
{
    if (!bytes_) {
        bytes_ = std::make_unique_for_overwrite<unsigned char[]>(read_ahead_size);
    }
    std::size_t fetched = 0;
    const auto code = platform::read(file, bytes_.get(), read_ahead_size, fetched);
    begin_ = 0;
    end_ = code == 0 ? fetched : 0;
    return code;
}

void open_data_file(data_file& file, const std::string& name)
{
    open_with(file, name, file_mode::input, platform::open_existing_for_reading);
}

void create_data_file(data_file& file, const std::string& name)
{
    open_with(file, name, file_mode::input_output, create_shared_for_reading_and_writing);
}

void read_exact_unbuffered(data_file& file, void* buffer, std::size_t count)
{
    if (!can_read(file)) {
        pending_io_error = file_not_open;
        return;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    const std::size_t done = take_read_ahead(file, bytes, count); // none, unless read_exact read ahead
    std::size_t fetched = 0;
    const auto code = platform::read(file.handle, bytes + done, count - done, fetched);
    if (code != 0) {
        pending_io_error = code;
    } else if (done + fetched < count) {
        pending_io_error = read_beyond_end;
    }
}

void detail::read_exact_slow(data_file& file, unsigned char* buffer, std::size_t count)
{
    if (!can_read(file)) {
        pending_io_error = file_not_open;
        return;
    }
    std::size_t done = take_read_ahead(file, buffer, count);
    // A large request goes straight into the caller's buffer.
    if (count - done >= read_ahead_size / 2) {
        read_exact_unbuffered(file, buffer + done, count - done);
        return;
    }
    while (done < count) {
        if (const auto code = file.read_ahead.refill(file.handle); code != 0) {
            pending_io_error = code;
            return;
        }
        if (file.read_ahead.held_size() == 0) {
            pending_io_error = read_beyond_end;
            return;
        }
        done += take_read_ahead(file, buffer + done, count - done);
    }
}

void note_write_result(platform::error_code code, std::size_t written, std::size_t wanted)
{
    if (code != 0) {
        pending_io_error = code;
    } else if (written < wanted) {
        pending_io_error = short_write;
    }
}

void write_exact(data_file& file, const void* data, std::size_t count)
{
    if (!can_write(file)) {
        pending_io_error = file_not_open;
        return;
    }
    std::size_t written = 0;
    const auto code = platform::write(file.handle, data, count, written);
    note_write_result(code, written, count);
}

void write_exact_gathered(data_file& file, const platform::write_piece* pieces, std::size_t count)
{
    if (!can_write(file)) {
        pending_io_error = file_not_open;
        return;
    }
    std::size_t wanted = 0;
    for (std::size_t piece = 0; piece < count; ++piece) {
        wanted += pieces[piece].size;
    }
    std::size_t written = 0;
    const auto code = platform::write_gathered(file.handle, pieces, count, written);
    note_write_result(code, written, wanted);
}

std::uint64_t file_size(data_file& file)
{
    if (file.mode == file_mode::closed) {
        pending_io_error = file_not_open;
        return 0;
    }
    std::uint64_t size_in_bytes = 0;
    if (const auto code = platform::size(file.handle, size_in_bytes); code != 0) {
        pending_io_error = code;
        return 0;
    }
    return size_in_bytes;
}

std::uint64_t file_position(data_file& file)
{
    if (file.mode == file_mode::closed) {
        pending_io_error = file_not_open;
        return 0;
    }
    std::uint64_t offset = 0;
    if (const auto code = platform::position(file.handle, offset); code != 0) {
        pending_io_error = code;
        return 0;
    }
    // The platform stands after the read-ahead; the reader stands before it.
    return offset - file.read_ahead.held_size();
}

bool at_end(data_file& file)
{
    const std::uint64_t position = file_position(file);
    const std::uint64_t size_in_bytes = file_size(file);
    return position >= size_in_bytes;
}

data_file::~data_file()
{
    if (mode != file_mode::closed) {
        static_cast<void>(platform::close(handle));
    }
}

void close_data_file(data_file& file)
{
    if (file.mode == file_mode::closed) {
        pending_io_error = file_not_open;
        return;
    }
    file.mode = file_mode::closed;
    file.read_ahead.forget();
    if (const auto code = platform::close(file.handle); code != 0) {
        pending_io_error = code;
    }
}

} // namespace orbse
