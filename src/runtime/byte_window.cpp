#include "runtime/byte_window.h"

#include "runtime/failures.h"

#include <algorithm>

namespace orbse {

byte_window::byte_window(const std::string& path)
{
    open_data_file(file_, path);
    io_check();
    size_ = file_size(file_);
    io_check();
}

std::span<const std::uint8_t> byte_window::bytes_at(std::uint64_t offset, std::size_t count)
{
    const std::uint64_t end = std::min(size_, offset + count);
    if (offset < start_ || offset >= end) {
        return {};
    }
    // Bytes before `offset` are dropped once they make a piece, so that a far
    // jump reads its way there a piece at a time, while a reader stepping on
    // a few bytes at a time does not move the window's bytes at every step.
    while (start_ + held_size_ < end) {
        const auto behind = static_cast<std::size_t>(std::min<std::uint64_t>(offset - start_, held_size_));
        if (behind >= piece_size) {
            std::copy(held_.get() + behind, held_.get() + held_size_, held_.get());
            held_size_ -= behind;
            start_ += behind;
        }
        // Whole pieces, read straight into the window: a reader stepping a
        // few bytes at a time asks the platform once a piece.
        const auto more = static_cast<std::size_t>(std::min<std::uint64_t>(size_ - start_ - held_size_, piece_size));
        make_room(held_size_ + more);
        read_exact_unbuffered(file_, held_.get() + held_size_, more);
        io_check();
        held_size_ += more;
    }
    return {held_.get() + (offset - start_), static_cast<std::size_t>(end - offset)};
}

// The window holds less than a piece behind the offset asked for, the bytes
// asked for and a piece read past them: three pieces serve any request of a
// piece or less.
void byte_window::make_room(std::size_t size)
{
    if (size <= room_) {
        return;
    }
    const std::size_t grown = std::max(size, 3 * piece_size);
    auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(grown);
    std::copy(held_.get(), held_.get() + held_size_, larger.get());
    held_ = std::move(larger);
    room_ = grown;
}

std::uint64_t agreeing_length(std::span<const std::pair<byte_window*, std::uint64_t>> starts)
{
    std::uint64_t length = 0;
    for (std::size_t piece = 256;; piece = std::min(2 * piece, byte_window::piece_size)) {
        const auto first = starts[0].first->bytes_at(starts[0].second + length, piece);
        std::size_t agreeing = first.size();
        for (const auto& [window, offset] : starts.subspan(1)) {
            const auto other = window->bytes_at(offset + length, agreeing);
            agreeing = static_cast<std::size_t>(std::mismatch(other.begin(), other.end(), first.begin()).first - other.begin());
        }
        length += agreeing;
        if (agreeing < piece) {
            return length;
        }
    }
}

} // namespace orbse
