#include "fields/agreement_map.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace orbse::fields {
namespace {

// The files are compared in blocks: a block agrees when every file holds
// the same bytes in all of it. Small enough that a changed byte costs the
// walks little more than its own leaves, large enough to be compared fast.
constexpr std::uint64_t block_size = 4096;
// Read this much of each file at a time.
constexpr std::uint64_t piece_size = 256 * 1024;
// At most this many blocks are passed over unread after a differing one:
// 16 MB, which the walks cross in a fraction of a second.
constexpr std::uint64_t most_unread_blocks = 4096;

std::uint64_t block_start(std::uint64_t offset) { return offset - offset % block_size; }

// Adds the stretch [begin, end) after the others, joined to the last where
// they meet.
void add_stretch(std::vector<std::pair<std::uint64_t, std::uint64_t>>& stretches, std::uint64_t begin,
                 std::uint64_t end)
{
    if (!stretches.empty() && stretches.back().second == begin) {
        stretches.back().second = end;
    } else {
        stretches.emplace_back(begin, end);
    }
}

} // namespace

agreement_map::agreement_map(const std::vector<std::string>& saves, std::uint64_t from)
    : from_(block_start(from)), compared_(from_), held_(saves.size())
{
    std::uint64_t shortest = UINT64_MAX;
    for (std::size_t save = 0; save < saves.size(); ++save) {
        files_.emplace_back(saves[save], std::ios::binary);
        std::error_code failed;
        const std::uint64_t size = std::filesystem::file_size(saves[save], failed);
        unreadable_ = unreadable_ || failed || !files_.back();
        one_size_ = one_size_ && (save == 0 || size == shortest);
        shortest = std::min(shortest, failed ? 0 : size);
    }
    limit_ = unreadable_ ? 0 : one_size_ || shortest == 0 ? shortest : shortest - 1;
    compared_ = std::min(compared_, limit_);
}

std::uint64_t agreement_map::agreeing_until(std::uint64_t offset, std::uint64_t horizon)
{
    horizon = std::max(horizon, offset + 1);
    std::unique_lock held(lock_);
    while (!known(offset, horizon)) {
        if (comparing_) {
            compared_more_.wait(held);
            continue;
        }
        comparing_ = true;
        const std::uint64_t at = compared_;
        const std::uint64_t limit = limit_;
        held.unlock();
        const piece_compared piece = compare_piece(at, limit);
        held.lock();
        for (const auto& [begin, end] : piece.differing) {
            add_stretch(differing_, begin, end);
        }
        compared_ = piece.end;
        if (piece.unreadable) {
            unreadable_ = true;
            limit_ = compared_;
        }
        comparing_ = false;
        compared_more_.notify_all();
    }
    if (offset < from_ || offset >= limit_) {
        return offset;
    }
    // The first differing stretch that ends past `offset`.
    const auto next = std::upper_bound(differing_.begin(), differing_.end(), offset,
                                       [](std::uint64_t at, const auto& stretch) { return at < stretch.second; });
    if (next == differing_.end()) {
        return std::max(offset, compared_);
    }
    return std::max(offset, next->first);
}

bool agreement_map::agree_to_their_ends(std::uint64_t offset)
{
    if (!one_size_) {
        return false; // the files differ from the shorter one's last byte on
    }
    const std::uint64_t end = agreeing_until(offset, UINT64_MAX);
    std::lock_guard held(lock_);
    return !unreadable_ && end == limit_;
}

bool agreement_map::known(std::uint64_t offset, std::uint64_t horizon) const
{
    return offset < from_ || offset >= limit_ || compared_ >= std::min(horizon, limit_) ||
           (!differing_.empty() && differing_.back().second > offset);
}

// Block by block; the blocks after a differing one are passed over unread,
// as many as the files' differences so far ask for.
agreement_map::piece_compared agreement_map::compare_piece(std::uint64_t at, std::uint64_t limit)
{
    piece_compared piece;
    if (blocks_left_unread_ > 0) {
        piece.end = std::min(limit, at + blocks_left_unread_ * block_size);
        add_stretch(piece.differing, at, piece.end);
        blocks_left_unread_ = 0;
        return piece;
    }
    const auto length = static_cast<std::size_t>(std::min(piece_size, limit - at));
    piece.end = at + length;
    for (std::size_t save = 0; save < files_.size(); ++save) {
        auto& file = files_[save];
        held_[save].resize(piece_size);
        file.clear();
        file.seekg(static_cast<std::streamoff>(at));
        if (!file || !file.read(held_[save].data(), static_cast<std::streamsize>(length))) {
            piece.end = at; // unreadable from here: nothing further agrees
            piece.unreadable = true;
            return piece;
        }
    }
    for (std::size_t within = 0; within < length; within += block_size) {
        const std::size_t size = std::min<std::size_t>(block_size, length - within);
        const std::uint64_t block = at + within;
        if (blocks_left_unread_ > 0) {
            --blocks_left_unread_;
            add_stretch(piece.differing, block, block + size);
            continue;
        }
        const bool alike = std::all_of(held_.begin() + 1, held_.end(), [&](const std::vector<char>& other) {
            return std::memcmp(held_[0].data() + within, other.data() + within, size) == 0;
        });
        if (alike) {
            unread_after_difference_ = 1;
            continue;
        }
        add_stretch(piece.differing, block, block + size);
        blocks_left_unread_ = unread_after_difference_;
        unread_after_difference_ = std::min(2 * unread_after_difference_, most_unread_blocks);
    }
    return piece;
}

} // namespace orbse::fields
