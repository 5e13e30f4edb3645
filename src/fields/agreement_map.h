// Where several files hold the same bytes at the same offsets. The walks of
// a diff pass over what their saves hold alike without handing it on, and
// they learn where that is from one map that all of them consult: each file
// is read for it once, by whichever walk comes to a stretch first, and all
// walks see the same stretches.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orbse::fields {

class agreement_map {
public:
    // Nothing before `from` is compared: it counts as differing.
    agreement_map(const std::vector<std::string>& saves, std::uint64_t from);

    // Where the stretch from `offset` on over which every file holds the
    // same bytes ends: at the first byte that differs, `offset` itself when
    // that one does, or, when the files have been compared only so far, at
    // or past `horizon`, to be asked again from there. Files of different
    // sizes differ from the shorter one's last byte on, since a leaf that
    // ends with that file (its tail) goes on in the others; a file that
    // cannot be read differs from where it fails.
    std::uint64_t agreeing_until(std::uint64_t offset, std::uint64_t horizon);
    // Whether the files, all of one size and readable, hold the same bytes
    // from `offset` to their ends.
    bool agree_to_their_ends(std::uint64_t offset);
    bool of_one_size() const { return one_size_; }

private:
    // What one piece of the files showed.
    struct piece_compared {
        std::uint64_t end = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> differing;
        bool unreadable = false;
    };

    // Whether the answer for `offset` is known as far as `horizon`.
    bool known(std::uint64_t offset, std::uint64_t horizon) const;
    // Reads and compares the piece from `at` on, below `limit`; only one
    // caller at a time, outside the lock, so that the others go on asking
    // about what is known.
    piece_compared compare_piece(std::uint64_t at, std::uint64_t limit);

    std::mutex lock_;
    std::condition_variable compared_more_;
    bool comparing_ = false; // a caller reads a piece
    std::uint64_t from_;
    std::uint64_t limit_ = 0;    // nothing at or past it agrees
    bool one_size_ = true;       // limit_ is the files' size
    bool unreadable_ = false;    // and, once one fails, where it failed
    std::uint64_t compared_ = 0; // the files are compared up to here
    // Stretches that differ, in order, [begin, end), ending at most at compared_.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> differing_;

    // Of the one caller that reads a piece.
    std::vector<std::ifstream> files_;
    std::vector<std::vector<char>> held_; // each file's piece last read
    // Where files differ all along, the blocks after a differing one count
    // as differing unread, more of them after each.
    std::uint64_t blocks_left_unread_ = 0;
    std::uint64_t unread_after_difference_ = 1;
};

} // namespace orbse::fields
