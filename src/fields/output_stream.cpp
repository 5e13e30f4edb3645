#include "fields/output_stream.h"

#include "fields/decimal_digits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <deque>
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

// Full blocks queue up for this thread, which writes them in order and says
// when each is done; a failed write makes it drop the blocks after. The
// stream fills the next block while up to `most_queued` wait or are being
// written.
struct output_stream::background_writer {
    background_writer(platform::native_file target, std::size_t most_queued)
        : target(target), most_queued(most_queued), thread([this] { run(); })
    {
    }

    ~background_writer()
    {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        queued_or_stopping.notify_one();
        thread.join();
    }

    // Waits until there is room in the queue, then queues the block. False
    // when a write has failed.
    bool hand(const char* bytes, std::size_t size)
    {
        std::unique_lock lock(mutex);
        written.wait(lock, [this] { return queue.size() < most_queued; });
        queue.push_back({bytes, size});
        lock.unlock();
        queued_or_stopping.notify_one();
        return !failed;
    }

    // Waits until every block queued is written. False when a write has
    // failed.
    bool wait()
    {
        std::unique_lock lock(mutex);
        written.wait(lock, [this] { return queue.empty(); });
        return !failed;
    }

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            queued_or_stopping.wait(lock, [this] { return !queue.empty() || stopping; });
            if (queue.empty()) {
                return;
            }
            // The block stays in the queue while it is written, so that the
            // stream does not fill it again.
            const block next = queue.front();
            const bool write = !failed;
            lock.unlock();
            const bool done = !write || write_all(target, next.bytes, next.size);
            lock.lock();
            failed = failed || !done;
            queue.pop_front();
            written.notify_one();
        }
    }

    struct block {
        const char* bytes;
        std::size_t size;
    };

    platform::native_file target;
    const std::size_t most_queued;
    std::mutex mutex;
    std::condition_variable queued_or_stopping;
    std::condition_variable written;
    std::deque<block> queue;
    bool failed = false;
    bool stopping = false;
    std::thread thread; // last: it starts once the rest is made
};

output_stream::output_stream(platform::native_file target)
    : target_(target), first_block_(std::make_unique_for_overwrite<char[]>(first_capacity)), buffer_(first_block_.get())
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
        writer_ = std::make_unique<background_writer>(target_, turns - 1);
    } else {
        turn_ = (turn_ + 1) % turns;
    }
    failed_ = !writer_->hand(buffer_, fill_);
    // Each turn is made when first needed, while the writing thread
    // writes, so that an output that fills one does not pay the system for
    // the large pages of three.
    if (turn_ == turns_.size()) {
        turns_.emplace_back(capacity);
    }
    buffer_ = turns_[turn_].data();
    room_ = capacity;
    fill_ = 0;
}

void output_stream::write_long(std::string_view text)
{
    while (!text.empty()) {
        if (fill_ == room_) {
            hand_over();
        }
        const std::size_t piece = std::min(text.size(), room_ - fill_);
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
