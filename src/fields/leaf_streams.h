// The leaves of a save as a stream that can be read at the reader's own
// pace. The walk pushes its leaves into a sink, so to read several saves in
// step each walk runs on a thread of its own: its leaves are copied into
// batches, compactly, and handed through a queue of a few batches to the
// reading side, which takes them one by one. The queue is bounded, so a walk
// that runs ahead waits, and memory stays small whatever the saves hold.
//
// A raw stretch carries only its first bytes in the walk. Where it is longer
// (the player records' longer stretches, the tail), the walking thread reads
// the whole stretch again from the file and hands it on as pieces that
// follow the leaf, so stretches of any length are compared byte by byte
// without being held whole.
#pragma once

#include "fields/agreement_map.h"
#include "orbsaves/save_walk.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orbse::fields {

// What a slot's object number says about the slot.
enum class slot_content : std::uint8_t { none, reference, unit };

// One leaf as the reading side sees it; the views hold until the stream
// moves past it.
struct streamed_leaf {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    leaf_type type = leaf_type::u8;
    std::string_view path;
    std::int64_t number = 0;
    // text, u8_array and raw: the bytes (a raw leaf that comes in pieces has
    // none here); u16_array: the values, two bytes each as in memory.
    std::span<const std::uint8_t> bytes;
    std::span<const std::uint16_t> words;
    slot_content slot = slot_content::none;
    bool in_pieces = false; // a raw stretch whose bytes follow as pieces
};

// Whether a leaf's path is that of a unit list's size.
inline bool is_list_size_path(std::string_view path)
{
    return path.starts_with("units.lists[") && path.ends_with("].size");
}

// The closing list size of 0 is no list: saves with different numbers of
// lists meet again there, so it is compared under a name of its own.
inline constexpr std::string_view stream_end_key = "units.end";

// The name a leaf is compared under: its path, but for the closing size.
inline std::string_view key_of(leaf_type type, std::string_view path, std::int64_t number)
{
    return number == 0 && type == leaf_type::u16 && is_list_size_path(path) ? stream_end_key : path;
}

// Where a walk passes over what the saves hold alike, the leaf it began at
// is followed by the walk's object counter there, and after the leaves left
// out comes how many they were and the key of the last.
struct skip_end {
    std::uint64_t leaves = 0;
    std::string last_key;
};

// A stretch of a raw leaf's bytes: `start` counts from the leaf's first byte.
struct leaf_piece {
    std::uint64_t start = 0;
    std::span<const std::uint8_t> bytes;
};

// How a stream ended.
struct stream_end {
    enum class kind : std::uint8_t { complete, broken, trouble };
    kind how = kind::complete;
    std::optional<walk_break> broken; // for a damaged save
    std::string problem;              // for trouble: the message for the user
};

// Leaves, pieces, runs of references and units' data of one walk, encoded
// one after another. Neighbouring leaves' paths differ in a few characters,
// so each leaf is kept as the step of its offset from the leaf before, its
// path as the length it shares with the path before and the characters
// after, and its numbers in as few bytes as they need: some twenty bytes to
// hand from one thread to the other rather than a hundred. Most of a large
// save's slots are references read in one sweep; such a run goes as one
// entry, its list's path once and its object numbers as they are, two bytes
// a slot. Most other leaves are units' fields; a unit's 144 bytes of data go
// as one entry too, and the reading side makes their leaves only where it
// needs them. The 16-bit values (a run's numbers, a path's points) lie in a
// store of their own, so that the reading side takes them where they lie.
class leaf_batch {
public:
    void clear()
    {
        used_ = 0;
        words_used_ = 0;
        end.reset();
    }
    std::size_t weight() const { return used_ + 2 * words_used_; }

    std::optional<stream_end> end; // set on a walk's last batch

private:
    friend class leaf_encoder;
    friend class leaf_decoder;
    // Room for `count` more bytes after the used ones; returns where they go.
    std::uint8_t* room(std::size_t count)
    {
        if (used_ + count > bytes_.size()) {
            bytes_.resize(std::max(used_ + count, 2 * bytes_.size()));
        }
        return bytes_.data() + used_;
    }
    // Places `values` after the words used; returns where they begin.
    std::size_t add_words(std::span<const std::uint16_t> values)
    {
        const std::size_t start = words_used_;
        if (start + values.size() > words_.size()) {
            words_.resize(std::max(start + values.size(), 2 * words_.size()));
        }
        std::copy(values.begin(), values.end(), words_.begin() + static_cast<std::ptrdiff_t>(start));
        words_used_ += values.size();
        return start;
    }
    std::vector<std::uint8_t> bytes_; // used_ of them hold entries
    std::size_t used_ = 0;
    std::vector<std::uint16_t> words_; // words_used_ of them hold values
    std::size_t words_used_ = 0;
};

// The walking side's encoding, which remembers the leaf before.
class leaf_encoder {
public:
    void add_leaf(leaf_batch& batch, const field_leaf& leaf, slot_content slot, bool in_pieces);
    void add_piece(leaf_batch& batch, std::uint64_t start, std::span<const std::uint8_t> bytes);
    void add_run(leaf_batch& batch, const reference_run& run);
    void add_unit_data(leaf_batch& batch, const unit_data_block& block);
    // `leaves` leaves were left out here.
    void add_gap(leaf_batch& batch, std::uint64_t leaves);
    // The walk passes over what follows the leaf before, its object counter
    // standing at `counter`.
    void add_skip_begin(leaf_batch& batch, std::uint16_t counter);
    void add_skip_end(leaf_batch& batch, const skip_end& end);

private:
    std::uint8_t* put_path(std::uint8_t* at, std::string_view path);

    std::uint64_t previous_offset_ = 0;
    std::string previous_path_;
};

// The reading side's decoding, which rebuilds each path from the one before.
class leaf_decoder {
public:
    // Whether an entry waits at `at` in `batch`, and whether it is a piece,
    // a run of references or a unit's data.
    static bool has_entry(const leaf_batch& batch, std::size_t at) { return at < batch.used_; }
    static bool is_piece(const leaf_batch& batch, std::size_t at);
    static bool is_run(const leaf_batch& batch, std::size_t at);
    static bool is_unit_data(const leaf_batch& batch, std::size_t at);
    // Whether the entry at `at` says leaves were left out there; moves `at`
    // past it if so, adding how many to `leaves`.
    static bool take_gap(const leaf_batch& batch, std::size_t& at, std::uint64_t& leaves);
    // Whether the entry at `at` begins or ends a skip; the taking ones move
    // `at` past it.
    static bool is_skip_begin(const leaf_batch& batch, std::size_t at);
    static bool is_skip_end(const leaf_batch& batch, std::size_t at);
    static std::uint16_t skip_begin(const leaf_batch& batch, std::size_t& at);
    static skip_end skip_end_at(const leaf_batch& batch, std::size_t& at);
    // Decodes the entry at `at`, moving `at` past it. A path (a leaf's, a
    // run's list) holds until the next entry is decoded; bytes, words and
    // object numbers while the batch is held.
    streamed_leaf leaf(const leaf_batch& batch, std::size_t& at);
    static leaf_piece piece(const leaf_batch& batch, std::size_t& at);
    reference_run run(const leaf_batch& batch, std::size_t& at);
    unit_data_block unit_data(const leaf_batch& batch, std::size_t& at);

private:
    std::string_view next_path(const leaf_batch& batch, std::size_t& at);
    static std::span<const std::uint16_t> words_at(const leaf_batch& batch, std::size_t& at);

    std::uint64_t previous_offset_ = 0;
    std::string path_;
};

struct stream_cancelled {};

// Batches going from a walking thread to the reading side, at most a few at
// once; batches read are handed back for reuse.
class batch_queue {
public:
    explicit batch_queue(std::size_t capacity) : capacity_(capacity) {}
    // Waits while the queue is full; throws stream_cancelled once cancelled.
    void push(std::unique_ptr<leaf_batch> batch);
    std::unique_ptr<leaf_batch> pop();
    std::unique_ptr<leaf_batch> spare();
    void give_back(std::unique_ptr<leaf_batch> batch);
    void cancel();
    // Waits while `holding()` says so, for what the reading side changes
    // before it calls wake(); throws stream_cancelled once cancelled.
    template <typename predicate>
    void wait_while(predicate&& holding)
    {
        std::unique_lock held(lock_);
        changed_.wait(held, [&] { return cancelled_ || !holding(); });
        if (cancelled_) {
            throw stream_cancelled{};
        }
    }
    void wake();

private:
    std::size_t capacity_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<leaf_batch>> full_;
    std::vector<std::unique_ptr<leaf_batch>> spare_;
    bool cancelled_ = false;
};

// What the reading side asks of a walk: the leaves to leave out, set before
// the walk begins, and what it may ask while the walk goes on.
struct walk_requests {
    // Leaves that end at or before it are left out.
    std::uint64_t leave_out_before = 0;
    // The walk's first leaves, so many of them, are left out.
    std::uint64_t leave_out_leaves = 0;
    // Where the files hold the same bytes: the walk passes over such
    // stretches from a list's beginning on.
    agreement_map* agreement = nullptr;
    // Of each unit list only its size is handed on.
    std::atomic<bool> only_list_sizes{false};
    // A walk that passes over a stretch waits before it asks the map for
    // more of it.
    std::atomic<bool> held{false};
};

// The leaves of one save, walked on a thread of its own from construction.
// Leaves that end at or before `skip_before` are left out: saves that hold
// the same bytes up to there are walked alike up to there, so a comparison
// need not see those leaves at all. The stream counts the walk's leaves,
// handed on or left out, so that it can walk its save again from any leaf.
//
// Given an agreement map, the walk also passes over, from the beginning of
// a list on, the stretch in which every file holds the same bytes: the walks
// of saves that stand alike there (the same list at the same offset, with
// the same object counter) read the same bytes the same way, so none of
// those leaves can differ, and encoding them only for the reading side to
// throw them away would cost more than the walk. Whether the saves stand
// alike only the reading side can tell, which sees every walk: it takes the
// skip in all streams at once (take_skip), or passes the leaf by like any
// other, and then the stream walks its save again, from its start, handing
// on every leaf from the one after it on.
class leaf_stream {
public:
    explicit leaf_stream(std::string save, std::uint64_t skip_before = 0, agreement_map* agreement = nullptr);
    ~leaf_stream();
    leaf_stream(const leaf_stream&) = delete;
    leaf_stream& operator=(const leaf_stream&) = delete;

    // False once every leaf has been read; the stream's end then tells how.
    bool has_leaf();
    // The current leaf, until advance() or next_piece().
    const streamed_leaf& leaf() const { return current_leaf_; }
    // Past the current leaf and the pieces that follow it.
    void advance();
    // When the current leaf is a slot of a run of references, the run from
    // that slot on (its first object number is the leaf's); else nothing.
    // Holds until the stream moves.
    const reference_run* run_ahead() const { return in_run_ ? &run_ahead_ : nullptr; }
    // Past the current leaf and the `count - 1` slots after it in its run,
    // without handing them out one by one (count at most the run ahead's).
    void skip_slots(std::size_t count);
    // When the current leaf is the first of a unit's data, all of that data;
    // else nothing. Holds until the stream moves.
    const unit_data_block* unit_data_ahead() const { return block_next_ == 1 && in_block_ ? &block_ : nullptr; }
    // Past the unit data whose first leaf is the current one.
    void skip_unit_data();
    // From now on the walk hands on of each unit list only its size: the
    // reading side will pass over every list whole, so the walking thread
    // need not encode what the lists hold. Leaves already handed on still
    // come, a list's first leaves perhaps without the rest.
    void keep_only_list_sizes() { requests_.only_list_sizes.store(true, std::memory_order_relaxed); }
    // When the walk passes over what follows the current leaf: its object
    // counter there; else nothing.
    std::optional<std::uint16_t> skip_after_current() const;
    // Where that skip ends, waiting for the walk to get there; nothing when
    // the walk ended before it could say (in trouble), and end() tells how.
    const skip_end* skip_ahead();
    // Past the current leaf and the skip after it.
    void take_skip();
    // While the reading side finds out whether another walk can tell it
    // all it needs, this one waits within its skip; then it goes on.
    void hold() { requests_.held.store(true, std::memory_order_relaxed); }
    void go_on();
    // The next piece of the current leaf, taken; nothing when none is left.
    // It ends the views of the leaf, and holds until the next call.
    std::optional<leaf_piece> next_piece();
    const stream_end& end() const { return *end_; }
    const std::string& save() const { return save_; }

private:
    void start_walk();
    // Walks the save again, leaving out the leaves taken so far and passing
    // over nothing.
    void walk_again();
    void fetch();
    // True when an entry waits at next_, fetching batches as needed.
    bool entry_waiting();
    // Makes `leaf` the current one.
    void make_current(const streamed_leaf& leaf);
    // Makes the run's next slot the current leaf.
    void take_run_slot();
    // Makes the unit data's next leaf the current one.
    void take_block_piece();

    std::string save_;
    std::unique_ptr<batch_queue> queue_;
    std::unique_ptr<leaf_batch> batch_;
    leaf_decoder decoder_;
    std::size_t next_ = 0;    // where the next entry of batch_ begins
    streamed_leaf current_leaf_; // while has_current_
    bool has_current_ = false;
    // The run of references being handed out, slot by slot.
    reference_run run_;
    std::string run_list_path_;
    std::optional<reference_paths> slot_paths_;
    std::size_t run_next_ = 0; // the first slot not yet handed out
    bool in_run_ = false;      // the current leaf is a slot of run_
    reference_run run_ahead_;
    // The unit data being handed out, leaf by leaf.
    const unit_data_layout layout_;
    unit_data_block block_;
    std::string block_unit_path_;
    std::string block_path_; // the unit's path and, after it, the current leaf's name
    std::size_t block_next_ = 0; // the first of layout_'s leaves not yet handed out
    bool in_block_ = false;      // the current leaf is one of block_'s
    std::optional<stream_end> end_;
    std::uint64_t leaves_taken_ = 0; // of the walk, left out or passed; not the current one
    std::optional<skip_end> skip_ahead_; // read ahead while the current leaf was not yet taken
    walk_requests requests_;
    std::thread walker_;
};

} // namespace orbse::fields
