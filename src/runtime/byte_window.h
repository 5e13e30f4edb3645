// A file's bytes read through a window that only moves on: a reader that
// looks ahead of another one's reading, a piece at a time, holding at most
// what it asked for last and two pieces more.
#pragma once

#include "runtime/data_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace orbse {

class byte_window {
public:
    // Opens the file; a file that cannot be opened raises its io_failure.
    explicit byte_window(const std::string& path);

    // The bytes from `offset` on, at most `count`: fewer at the file's end,
    // none before the window's start (bytes a piece or more before an offset
    // asked for are let go when more are read). A read that fails raises its io_failure.
    // The window reads whole pieces of the file as it was opened: one cut
    // short since fails at the piece that crosses its new end, even where
    // the bytes asked for lie before it. The bytes hold until the next call.
    std::span<const std::uint8_t> bytes_at(std::uint64_t offset, std::size_t count);

    // What one read brings in, but at the file's end.
    static constexpr std::size_t piece_size = 32 * 1024;

private:
    void make_room(std::size_t size);

    data_file file_;
    std::uint64_t size_ = 0;
    std::uint64_t start_ = 0; // the window's first byte in the file
    // Bytes that are only ever written by a read before they are looked at,
    // so the buffer is never cleared: a save is compared in a few
    // milliseconds, in which touching fresh pages is a fair share.
    std::unique_ptr<std::uint8_t[]> held_;
    std::size_t room_ = 0;
    std::size_t held_size_ = 0; // the bytes of held_ that hold the file's
};

// How far the files' bytes agree from their offsets, each file's from the
// offset beside its window: read in pieces that grow from a few hundred
// bytes, so that a difference near by costs little to find.
std::uint64_t agreeing_length(std::span<const std::pair<byte_window*, std::uint64_t>> starts);

} // namespace orbse
