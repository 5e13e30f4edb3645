// The buffered text channel that carries the info report. It is bound to a
// file name first and creates the file only at the first write, so a run that
// fails before its report leaves an older report of that name untouched.
#pragma once

#include "runtime/platform.h"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orbse {

class text_channel {
public:
    // The report reaches the file in blocks of exactly this many bytes; the
    // remainder goes out at flush or close.
    static constexpr std::size_t block_size = 128;

    // What ends every line of the report.
    static constexpr std::string_view line_break = "\r\n";

    // Remembers the target; touches no file.
    void bind(std::string target_name);

    // Each write leaves any failure in pending_io_error for the caller's
    // io_check, like every file operation.
    void write_text(std::string_view text);
    void write_line(std::string_view text) { write_joined_line({text}); }

    // One line given in pieces, written exactly as write_line writes the
    // pieces joined: the same bytes, the same blocks, one flush for a
    // console, without building the joined text first.
    void write_joined_line(std::initializer_list<std::string_view> pieces);

    // Writes out the buffered bytes of an open channel; does nothing on a
    // channel that was never opened.
    void flush();

    // Writes out the buffered bytes and closes the file. A channel that was
    // never opened closes without a trace.
    void close();

    bool is_open() const { return state_ == channel_state::open; }

private:
    enum class channel_state { closed, bound, open };

    bool open_for_output();
    // Appends the bytes of one write; false when a block write failed and
    // the rest of the write is to be dropped.
    bool append(std::string_view bytes);
    void end_write();
    void write_out(const char* bytes, std::size_t count);

    channel_state state_ = channel_state::closed;
    std::string target_name_;
    platform::native_file handle_;
    // A console sees every write at once; a file or pipe gets whole blocks.
    bool flush_after_each_write_ = false;
    std::array<char, block_size> buffer_{};
    std::size_t fill_ = 0;
};

} // namespace orbse
