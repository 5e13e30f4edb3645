// The only way into a save file, for the loader and for the walk over its
// fields: exact little-endian reads, each checked at once. A read that the
// file cannot satisfy ends the work at the caller's line, which the failure
// report then names. The reader knows its offset in the file: every byte it
// hands out moves it on.
#pragma once

#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "runtime/little_endian.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orbse {

class save_reader {
public:
    // `file` has just been opened: the reader starts at its first byte.
    explicit save_reader(data_file& file) : file_(file) {}

    std::uint16_t read_u16(const check_site& site = check_site::current())
    {
        std::array<std::uint8_t, 2> bytes;
        read_exact(file_, bytes.data(), bytes.size());
        check(site);
        offset_ += bytes.size();
        return load_u16(bytes.data());
    }

    void read_bytes(std::span<std::uint8_t> destination,
                    const check_site& site = check_site::current())
    {
        read_exact(file_, destination.data(), destination.size());
        check(site);
        offset_ += destination.size();
    }

    // Reads destination.size() u16 values, as as many read_u16 calls would:
    // the same bytes, and a file that ends among them fails with the same
    // code. They come through the read-ahead a piece at a time, so a path of
    // thousands of points costs a few copies rather than a call per point.
    void read_u16s(std::span<std::uint16_t> destination, const check_site& site = check_site::current())
    {
        constexpr std::size_t piece_words = 2048;
        std::array<std::uint8_t, 2 * piece_words> bytes;
        while (!destination.empty()) {
            const std::size_t words = std::min(destination.size(), piece_words);
            read_exact(file_, bytes.data(), 2 * words);
            check(site);
            offset_ += 2 * words;
            for (std::size_t word = 0; word < words; ++word) {
                destination[word] = load_u16(&bytes[2 * word]);
            }
            destination = destination.subspan(words);
        }
    }

    // Takes u16 values that the read-ahead already holds, as many as fit
    // into `destination`, and stops before the first one equal to
    // `stop_at`. Returns how many it took. It asks nothing of the platform,
    // so it neither fails nor moves a failure: what it leaves, read_u16 reads
    // as before.
    std::size_t take_buffered_u16s_until(std::uint32_t stop_at, std::span<std::uint16_t> destination)
    {
        // Pointers rather than a count: the compiler then keeps nothing but
        // them in the loop, which runs once for most slots of a large save.
        const std::span<const unsigned char> held = file_.read_ahead.held();
        const unsigned char* const first = held.data();
        const unsigned char* const last = first + 2 * std::min(destination.size(), held.size() / 2);
        const unsigned char* at = first;
        for (std::uint16_t* into = destination.data(); at != last; at += 2, ++into) {
            const auto value = load_u16(at);
            if (value == stop_at) {
                break;
            }
            *into = value;
        }
        const auto consumed = static_cast<std::size_t>(at - first);
        file_.read_ahead.consume(consumed);
        offset_ += consumed;
        return consumed / 2;
    }

    // True when every byte of the file has been read. Bytes already fetched
    // ahead of the reader lie inside the file, so while any are left the
    // answer is known without asking the platform; a stream of many short
    // lists asks once per read-ahead piece rather than once per list.
    bool at_end(const check_site& site = check_site::current())
    {
        if (file_.read_ahead.held_size() > 0) {
            return false;
        }
        const bool ended = orbse::at_end(file_);
        io_check(site);
        return ended;
    }

    // The bytes between the reader and the end of the file.
    std::uint64_t bytes_left(const check_site& site = check_site::current())
    {
        const std::uint64_t size_in_bytes = file_size(file_);
        io_check(site);
        const std::uint64_t position = file_position(file_);
        io_check(site);
        return size_in_bytes > position ? size_in_bytes - position : 0;
    }

    // The offset in the file of the next byte the reader hands out.
    std::uint64_t offset() const { return offset_; }

private:
    // io_check, with the common case of no error decided here: a unit
    // stream is millions of two-byte reads, each followed by a check.
    static void check(const check_site& site)
    {
        if (pending_io_error != 0) [[unlikely]] {
            io_check(site);
        }
    }

    data_file& file_;
    std::uint64_t offset_ = 0;
};

// Walks a record already read into memory, taking little-endian fields in
// order. The record's size is fixed by the format, so running past its end
// is a programming error, caught before any byte is touched.
class record_cursor {
public:
    explicit record_cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t take_u8() { return *take(1).data(); }

    std::uint16_t take_u16()
    {
        return load_u16(take(2).data());
    }

    std::uint32_t take_u32()
    {
        return load_u32(take(4).data());
    }

    // Two's complement, without relying on how a cast of an out-of-range
    // unsigned value behaves.
    std::int32_t take_i32()
    {
        const std::uint32_t raw = take_u32();
        return raw <= 0x7FFFFFFFu ? static_cast<std::int32_t>(raw)
                                  : -static_cast<std::int32_t>(~raw) - 1;
    }

    template <std::size_t N>
    void take_into(std::array<std::uint8_t, N>& destination)
    {
        take_into(std::span<std::uint8_t>(destination));
    }

    void take_into(std::span<std::uint8_t> destination)
    {
        const auto field = take(destination.size());
        std::copy(field.begin(), field.end(), destination.begin());
    }

    void skip(std::size_t count) { take(count); }

    std::size_t remaining() const { return bytes_.size() - offset_; }

private:
    std::span<const std::uint8_t> take(std::size_t count);

    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

} // namespace orbse
