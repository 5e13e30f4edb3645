#include "runtime/text_channel.h"

#include "runtime/data_file.h"
#include "runtime/failures.h"

#include <cstring>
#include <utility>

namespace orbse {
void text_channel::bind(std::string target_name)
{
    target_name_ = std::move(target_name);
    state_ = channel_state::bound;
    fill_ = 0;
}

bool text_channel::open_for_output()
{
    platform::native_file created;
    // Others may read the report while we write it, but not write it.
    if (platform::create_always(target_name_, false, created) == 0) {
        switch (platform::kind_of(created)) {
        case platform::file_kind::character_device:
            flush_after_each_write_ = true;
            handle_ = created;
            state_ = channel_state::open;
            return true;
        case platform::file_kind::disk_or_pipe:
            flush_after_each_write_ = false;
            handle_ = created;
            state_ = channel_state::open;
            return true;
        case platform::file_kind::unknown:
            platform::close(created);
            break;
        }
    }
    // Whatever the creation answered, the report names one code for it.
    pending_io_error = report_not_created;
    return false;
}

void text_channel::write_out(const char* bytes, std::size_t count)
{
    std::size_t written = 0;
    const auto code = platform::write(handle_, bytes, count, written);
    note_write_result(code, written, count);
}

bool text_channel::append(std::string_view bytes)
{
    while (block_size - fill_ <= bytes.size()) {
        const std::size_t room = block_size - fill_;
        std::memcpy(buffer_.data() + fill_, bytes.data(), room);
        bytes.remove_prefix(room);
        fill_ = 0;
        write_out(buffer_.data(), block_size);
        if (pending_io_error != 0) {
            return false; // the block and the rest of this write are lost
        }
    }
    std::memcpy(buffer_.data() + fill_, bytes.data(), bytes.size());
    fill_ += bytes.size();
    return true;
}

void text_channel::end_write()
{
    if (flush_after_each_write_) {
        flush();
    }
}

void text_channel::write_text(std::string_view text)
{
    if (state_ != channel_state::open && !open_for_output()) {
        return;
    }
    if (append(text)) {
        end_write();
    }
}

void text_channel::write_joined_line(std::initializer_list<std::string_view> pieces)
{
    if (state_ != channel_state::open && !open_for_output()) {
        return;
    }
    for (const std::string_view piece : pieces) {
        if (!append(piece)) {
            return;
        }
    }
    if (append(line_break)) {
        end_write();
    }
}

void text_channel::flush()
{
    if (state_ != channel_state::open || fill_ == 0) {
        return;
    }
    const std::size_t count = std::exchange(fill_, 0);
    write_out(buffer_.data(), count);
}

void text_channel::close()
{
    if (state_ != channel_state::open) {
        state_ = channel_state::closed;
        return;
    }
    flush();
    state_ = channel_state::closed;
    if (const auto code = platform::close(handle_); code != 0 && pending_io_error == 0) {
        pending_io_error = code;
    }
}

} // namespace orbse
