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

} // namespace

agreement_map::agreement_map(const std::vector<std::string>& saves, std::uint64_t from)
    : held_(saves.size()), from_(block_start(from)), compared_(from_)
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
    std::lock_guard held(lock_);
    if (offset < from_ || offset >= limit_) {
        return offset;
    }
    compare_to(offset, std::max(horizon, offset + 1));
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
    const std::uint64_t end = agreeing_until(offset, UINT64_MAX);
    std::lock_guard held(lock_);
    return one_size_ && !unreadable_ && end == limit_;
}

// Compares on up to `horizon`, or until the files differ past `offset`.
void agreement_map::compare_to(std::uint64_t offset, std::uint64_t horizon)
{
    while (compared_ < std::min(horizon, limit_) && (differing_.empty() || differing_.back().second <= offset)) {
        if (blocks_left_unread_ > 0) {
            const std::uint64_t end = std::min(limit_, compared_ + blocks_left_unread_ * block_size);
            mark_differing(compared_, end);
            blocks_left_unread_ = 0;
            compared_ = end;
            continue;
        }
        compare_piece();
    }
}

// Reads a piece of every file from compared_ and compares it block by block.
void agreement_map::compare_piece()
{
    const auto length = static_cast<std::size_t>(std::min(piece_size, limit_ - compared_));
    for (std::size_t save = 0; save < files_.size(); ++save) {
        auto& file = files_[save];
        held_[save].resize(piece_size);
        file.clear();
        file.seekg(static_cast<std::streamoff>(compared_));
        if (!file || !file.read(held_[save].data(), static_cast<std::streamsize>(length))) {
            // Unreadable from here: nothing further agrees.
            unreadable_ = true;
            limit_ = compared_;
            return;
        }
    }
    for (std::size_t at = 0; at < length; at += block_size) {
        const std::size_t size = std::min<std::size_t>(block_size, length - at);
        const std::uint64_t block = compared_ + at;
        if (blocks_left_unread_ > 0) {
            --blocks_left_unread_;
            mark_differing(block, block + size);
            continue;
        }
        const bool alike = std::all_of(held_.begin() + 1, held_.end(), [&](const std::vector<char>& other) {
            return std::memcmp(held_[0].data() + at, other.data() + at, size) == 0;
        });
        if (alike) {
            unread_after_difference_ = 1;
            continue;
        }
        mark_differing(block, block + size);
        blocks_left_unread_ = unread_after_difference_;
        unread_after_difference_ = std::min(2 * unread_after_difference_, most_unread_blocks);
    }
    compared_ += length;
}

void agreement_map::mark_differing(std::uint64_t begin, std::uint64_t end)
{
    if (!differing_.empty() && differing_.back().second == begin) {
        differing_.back().second = end;
    } else {
        differing_.emplace_back(begin, end);
    }
}

} // namespace orbse::fields
