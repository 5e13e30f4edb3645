#include "fields/output_stream.h"

#include "fields/decimal_digits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orbse::fields {

namespace {

// Writes the whole of `size` bytes; false when the system fails or writes
// nothing.
bool write_all(platform::native_file target, const char* bytes, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        std::size_t written = 0;
        if (platform::write(target, bytes + done, size - done, written) != 0 || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

// One block at a time goes from the stream to this thread, which writes it
// and says when it is done; a failed write makes it drop the blocks after.
struct output_stream::background_writer {
    explicit background_writer(platform::native_file target) : target(target), thread([this] { run(); }) {}

    ~background_writer()
    {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }

    // Waits for the block before, then hands this one on. False when a
    // write has failed.
    bool hand(const char* bytes, std::size_t size)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return block == nullptr; });
        block = bytes;
        block_size = size;
        changed.notify_all();
        return !failed;
    }

    // Waits until the block handed on is written. False when a write has
    // failed.
    bool wait()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return block == nullptr; });
        return !failed;
    }

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return block != nullptr || stopping; });
            if (block == nullptr) {
                return;
            }
            const char* const bytes = block;
            const std::size_t size = block_size;
            const bool write = !failed;
            lock.unlock();
            const bool written = !write || write_all(target, bytes, size);
            lock.lock();
            failed = failed || !written;
            block = nullptr;
            changed.notify_all();
        }
    }

    platform::native_file target;
    std::mutex mutex;
    std::condition_variable changed;
    const char* block = nullptr; // the block being written, null when none
    std::size_t block_size = 0;
    bool failed = false;
    bool stopping = false;
    std::thread thread; // last: it starts once the rest is made
};

output_stream::output_stream(platform::native_file target)
    : target_(target), first_block_(std::make_unique_for_overwrite<char[]>(capacity)), buffer_(first_block_.get())
{
}

output_stream::~output_stream() { flush(); }

void output_stream::hand_over()
{
    if (failed_) {
        fill_ = 0;
        return;
    }
    if (writer_ == nullptr) {
        turns_.emplace_back(capacity);
        turns_.emplace_back(capacity);
        writer_ = std::make_unique<background_writer>(target_);
    } else {
        turn_ = 1 - turn_;
    }
    failed_ = !writer_->hand(buffer_, fill_);
    buffer_ = turns_[turn_].data();
    fill_ = 0;
}

void output_stream::write_long(std::string_view text)
{
    while (!text.empty()) {
        if (fill_ == capacity) {
            hand_over();
        }
        const std::size_t piece = std::min(text.size(), capacity - fill_);
        std::memcpy(buffer_ + fill_, text.data(), piece);
        fill_ += piece;
        text.remove_prefix(piece);
    }
}

void output_stream::write_number(std::uint64_t value) { commit(put_decimal_digits(reserve(number_room), value)); }

void output_stream::write_u16_list(const std::uint16_t* values, std::size_t count)
{
    if (count == 0) {
        return;
    }
    // A comma and five digits each, and the bytes the last store may write
    // past them.
    constexpr std::size_t widest = 6;
    constexpr std::size_t per_block = 256;
    commit(small_decimal(values[0]).put(reserve(8)));
    for (std::size_t done = 1; done < count;) {
        char* at = reserve(widest * per_block + 8);
        const std::size_t piece = std::min(count - done, per_block);
        for (std::size_t index = done; index < done + piece; ++index) {
            at = small_decimal(values[index]).put_after_comma(at);
        }
        commit(at);
        done += piece;
    }
}

void output_stream::write_signed(std::int64_t value)
{
    char* at = reserve(number_room);
    fill_ += static_cast<std::size_t>(std::to_chars(at, at + number_room, value).ptr - at);
}

void output_stream::write_offset(std::uint64_t value)
{
    char digits[number_room];
    const auto length = static_cast<std::size_t>(std::to_chars(digits, digits + number_room, value, 16).ptr - digits);
    char* at = reserve(2 + 8 + number_room);
    *at++ = '0';
    *at++ = 'x';
    for (std::size_t pad = length; pad < 8; ++pad) {
        *at++ = '0';
    }
    std::memcpy(at, digits, length);
    fill_ = static_cast<std::size_t>(at + length - buffer_);
}

void output_stream::write_hex(const std::uint8_t* bytes, std::size_t count)
{
    constexpr std::string_view hex_digits = "0123456789abcdef";
    for (std::size_t at = 0; at < count; ++at) {
        char* place = reserve(2);
        place[0] = hex_digits[bytes[at] >> 4];
        place[1] = hex_digits[bytes[at] & 0xF];
        fill_ += 2;
    }
}

bool output_stream::flush()
{
    if (writer_ != nullptr && !writer_->wait()) {
        failed_ = true;
    }
    if (!failed_ && !write_all(target_, buffer_, fill_)) {
        failed_ = true;
    }
    fill_ = 0;
    return !failed_;
}

} // namespace orbse::fields
