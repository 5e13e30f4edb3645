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
            std::copy(held_.begin() + static_cast<std::ptrdiff_t>(behind), held_.begin() + static_cast<std::ptrdiff_t>(held_size_), held_.begin());
            held_size_ -= behind;
            start_ += behind;
        }
        const auto more = static_cast<std::size_t>(std::min<std::uint64_t>(end - start_ - held_size_, piece_size));
        // The buffer grows to the most the window has held and stays so:
        // bytes read later overwrite it rather than being cleared first.
        if (held_.size() < held_size_ + more) {
            held_.resize(held_size_ + more);
        }
        read_exact(file_, held_.data() + held_size_, more);
        io_check();
        held_size_ += more;
    }
    return std::span(held_).subspan(static_cast<std::size_t>(offset - start_), static_cast<std::size_t>(end - offset));
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
