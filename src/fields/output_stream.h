// The program's standard output: bytes gathered into large blocks and
// written as they are, so a listing of millions of lines costs few system
// calls and reads the same on every platform. Once a first block is full,
// the blocks go to the system from a thread of their own while the next is
// filled: a listing of hundreds of megabytes then costs about the longer of
// its formatting and its writes rather than both.
#pragma once

#include "runtime/large_buffer.h"
#include "runtime/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace orbse::fields {

class output_stream {
public:
    explicit output_stream(platform::native_file target = platform::standard_output());
    ~output_stream();
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;

    void write(std::string_view text)
    {
        if (text.size() > room_ - fill_) [[unlikely]] {
            write_long(text);
            return;
        }
        std::memcpy(buffer_ + fill_, text.data(), text.size());
        fill_ += text.size();
    }

    void put(char character)
    {
        if (fill_ == room_) [[unlikely]] {
            hand_over();
        }
        buffer_[fill_++] = character;
    }

    void write_number(std::uint64_t value);
    // A run of u16 values as "a,b,c", the bulk of a listing of long paths.
    void write_u16_list(const std::uint16_t* values, std::size_t count);
    void write_signed(std::int64_t value);
    // Eight hex digits at least, lower case, after "0x".
    void write_offset(std::uint64_t value);
    // Two lower-case hex digits per byte.
    void write_hex(const std::uint8_t* bytes, std::size_t count);

    // Room for `bytes` characters written straight into the block at the
    // place returned; commit(end) then keeps what was written up to `end`.
    // For lines composed in place, a few fixed pieces and numbers each.
    char* reserve(std::size_t bytes)
    {
        if (bytes > room_ - fill_) [[unlikely]] {
            hand_over();
        }
        return buffer_ + fill_;
    }
    void commit(const char* end) { fill_ = static_cast<std::size_t>(end - buffer_); }

    // Hands what is gathered to the system and waits until every block is
    // written. False once a write has failed (a closed pipe, a full disk):
    // later output is dropped.
    bool flush();
    bool failed() const { return failed_; }

private:
    struct background_writer;

    // Hands the full block to the writing thread, started at the first, and
    // goes on in the next turn, once that one is written.
    void hand_over();

    // The turns are blocks of 2 MB: with the writing thread, smaller blocks
    // pass between the threads so often that a listing takes longer (256 KB:
    // 136 ms against 71 ms for a 259 MB listing), and it gains nothing
    // beyond.
    static constexpr std::size_t capacity = 2048 * 1024;
    // The first block is small. Most outputs (check, at, most diffs) never
    // fill it and never start the thread; the long ones begin to be written
    // after 64 KB rather than after 2 MB, and the system takes a fault for 16
    // of its pages rather than 512 (a 2 MB first block cost a listing of
    // 259 MB 6 ms of its 45 ms before a byte was written).
    static constexpr std::size_t first_capacity = 64 * 1024;
    // Three turns: one filled while up to two wait or are written, so that
    // the writing thread, when the formatting falls behind for a moment, has
    // the next block at hand and when it runs ahead, the formatting does not
    // wait for a block to come back.
    static constexpr std::size_t turns = 3;
    // Room for the longest number, so that it can be formatted in place.
    static constexpr std::size_t number_room = 24;

    void write_long(std::string_view text);

    platform::native_file target_;
    // The first block lies on ordinary pages, for the many outputs that
    // never fill it. From the first hand-over on, blocks on large pages take
    // turns, filled while the others are written: on ordinary pages
    // the two threads' every pass over a block of 2 MB costs hundreds of
    // page-table look-ups (in alternating rounds, dump of the 256 MB
    // `mixed` save 917 ms on ordinary pages against 717 ms, list --json of
    // the 16 MB one 98 against 84 ms).
    std::unique_ptr<char[]> first_block_;
    std::vector<large_buffer<char>> turns_;
    char* buffer_;         // the block being filled
    std::size_t turn_ = 0; // the turn it fills, once the turns have begun
    std::unique_ptr<background_writer> writer_;
    std::size_t fill_ = 0;
    std::size_t room_ = first_capacity; // the size of the block being filled
    bool failed_ = false;
};

} // namespace orbse::fields
