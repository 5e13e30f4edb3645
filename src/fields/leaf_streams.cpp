#include "fields/leaf_streams.h"

#include "fields/stream_position.h"

#include "orbsaves/save_model.h"
#include "runtime/failures.h"
#include "runtime/little_endian.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>
#include <exception>

namespace orbse::fields {
namespace {

// A batch is handed on once it holds this much; a few of them in the queue
// keep the walk busy while the reader compares.
constexpr std::size_t batch_weight = 256 * 1024;
constexpr std::size_t batches_in_flight = 4;
// Long raw stretches are read again in pieces of this size.
constexpr std::size_t piece_size = 64 * 1024;
// A skip costs the reading side a look at every walk; a stretch shorter
// than this costs less to hand on.
constexpr std::uint64_t shortest_skip = 16 * 1024;

struct reread_failed {};

// The walk words a slot's object number in its note; the comparison needs
// only which of the two it is.
slot_content slot_of(const field_leaf& leaf)
{
    if (!leaf.path.ends_with(".object_id")) {
        return slot_content::none;
    }
    if (leaf.note.starts_with("unit in a slot")) {
        return slot_content::unit;
    }
    if (leaf.note.starts_with(reference_note)) {
        return slot_content::reference;
    }
    return slot_content::none;
}

// The walk's sink on the walking thread: leaves into batches, batches into
// the queue. It counts every leaf the walk meets, left out or not, so that
// a walk made again can leave out exactly the leaves taken before.
class batching_sink final : public leaf_sink {
public:
    batching_sink(const std::string& save, batch_queue& queue, const walk_requests& requests)
        : save_(save), queue_(queue), batch_(queue.spare()), requests_(requests)
    {
    }

    void take(const field_leaf& leaf) override
    {
        const slot_content slot = slot_of(leaf);
        position_.follow(leaf.type, leaf.path, leaf.number, slot);
        const std::uint64_t end = leaf.offset + leaf.size;
        if (leaves_met_++ < requests_.leave_out_leaves || (only_list_sizes() && inside_a_list(leaf.path)) ||
            left_out(end)) {
            ++left_out_;
            if (skipping_) {
                last_left_out_.assign(key_of(leaf.type, leaf.path, leaf.number));
                last_left_out_kind_ = left_out_kind::leaf;
            }
            return;
        }
        mark_left_out();
        const bool in_pieces = leaf.type == leaf_type::raw && leaf.size > leaf.bytes.size();
        encoder_.add_leaf(*batch_, leaf, slot, in_pieces);
        if (in_pieces) {
            read_again(leaf.offset, leaf.size);
        }
        if (begins_skip(leaf)) {
            encoder_.add_skip_begin(*batch_, position_.counter());
            // Files of one size may agree from here to their ends, which the
            // reading side wants to know before the skip is over: it then
            // needs only one walk.
            if (requests_.agreement->of_one_size()) {
                send();
                return;
            }
        }
        send_when_full();
    }

    // A run is most of a large save's leaves: it goes as one entry, without
    // the note and the parts the walk would make for each slot. The slots
    // left out are left out one by one.
    bool take_references(const reference_run& run) override
    {
        const std::uint64_t size = run.objects.size();
        std::uint64_t skipped = 0; // the run's first slots, left out
        if (only_list_sizes()) {
            skipped = size;
        }
        if (leaves_met_ < requests_.leave_out_leaves) {
            skipped = std::max(skipped, std::min(size, requests_.leave_out_leaves - leaves_met_));
        }
        const std::uint64_t before = std::max(requests_.leave_out_before, skipping_to(run.offset + 2 * size));
        if (run.offset < before) {
            skipped = std::max(skipped, std::min(size, (before - run.offset) / 2));
        }
        leaves_met_ += size;
        left_out_ += skipped;
        if (skipping_ && skipped > 0) {
            last_left_out_.assign(run.list_path);
            last_left_out_slot_ = run.first_slot + skipped - 1;
            last_left_out_kind_ = left_out_kind::slot;
        }
        if (skipped == size) {
            return true;
        }
        mark_left_out();
        reference_run kept = run;
        kept.first_slot += skipped;
        kept.offset += 2 * skipped;
        kept.objects = run.objects.subspan(static_cast<std::size_t>(skipped));
        encoder_.add_run(*batch_, kept);
        send_when_full();
        return true;
    }

    bool take_unit_data(const unit_data_block& block) override
    {
        const std::uint64_t count = layout_.pieces().size();
        const std::uint64_t end = block.offset + block.bytes.size();
        const std::uint64_t before = std::max(requests_.leave_out_before, skipping_to(end));
        if (only_list_sizes() || leaves_met_ + count <= requests_.leave_out_leaves || end <= before) {
            leaves_met_ += count;
            left_out_ += count;
            if (skipping_) {
                last_left_out_.assign(block.unit_path);
                last_left_out_kind_ = left_out_kind::unit_data;
            }
            return true; // left out whole
        }
        if (leaves_met_ < requests_.leave_out_leaves || block.offset < before) {
            return false; // left out leaf by leaf, as far as it is
        }
        mark_left_out();
        encoder_.add_unit_data(*batch_, block);
        leaves_met_ += count;
        send_when_full();
        return true;
    }

    void finish(stream_end end)
    {
        mark_left_out();
        batch_->end = std::move(end);
        queue_.push(std::move(batch_));
    }

private:
    enum class left_out_kind : std::uint8_t { leaf, slot, unit_data };

    bool only_list_sizes() const { return requests_.only_list_sizes.load(std::memory_order_relaxed); }

    // Whether a leaf that ends at `end` is left out.
    bool left_out(std::uint64_t end)
    {
        return end <= requests_.leave_out_before || (skipping_ && end <= skipping_to(end));
    }

    // While the walk passes over a stretch where the files agree: how far
    // that stretch is known to reach, asked of the map as far as `end`
    // (its end when it ends before); else 0.
    std::uint64_t skipping_to(std::uint64_t end)
    {
        if (!skipping_) {
            return 0;
        }
        while (skip_end_ < end) {
            if (requests_.held.load(std::memory_order_relaxed)) {
                queue_.wait_while([&] { return requests_.held.load(std::memory_order_relaxed); });
            }
            const std::uint64_t further = requests_.agreement->agreeing_until(skip_end_, end);
            if (further == skip_end_) {
                break; // the files differ there
            }
            skip_end_ = further;
        }
        return skip_end_;
    }

    // A list's size begins a skip where the files agree for a while from
    // there on.
    bool begins_skip(const field_leaf& leaf)
    {
        if (requests_.agreement == nullptr || leaf.type != leaf_type::u16 || !is_list_size_path(leaf.path) ||
            only_list_sizes()) {
            return false;
        }
        const std::uint64_t worth = leaf.offset + shortest_skip;
        const std::uint64_t agreeing = requests_.agreement->agreeing_until(leaf.offset, worth);
        if (agreeing < worth) {
            return false;
        }
        skipping_ = true;
        skip_end_ = agreeing;
        return true;
    }

    // The first entry after leaves left out says how many; after a skip,
    // also the last one's key.
    void mark_left_out()
    {
        if (skipping_) {
            skip_end end{left_out_, last_left_out_key()};
            encoder_.add_skip_end(*batch_, end);
            skipping_ = false;
        } else if (left_out_ > 0) {
            encoder_.add_gap(*batch_, left_out_);
        }
        left_out_ = 0;
    }

    std::string last_left_out_key() const
    {
        if (left_out_ == 0) {
            return {};
        }
        switch (last_left_out_kind_) {
        case left_out_kind::slot:
            return std::string(reference_paths(last_left_out_).of(last_left_out_slot_));
        case left_out_kind::unit_data:
            return last_left_out_ + "." + std::string(layout_.pieces().back().name);
        case left_out_kind::leaf:
            break;
        }
        return last_left_out_;
    }

    // Whether a leaf lies in a unit list and is not the list's size.
    static bool inside_a_list(std::string_view path)
    {
        return path.starts_with("units.lists[") && !is_list_size_path(path);
    }

    void send()
    {
        queue_.push(std::move(batch_));
        batch_ = queue_.spare();
    }

    void send_when_full()
    {
        if (batch_->weight() >= batch_weight) {
            send();
        }
    }

    // The file is opened once, on the first long stretch, and read at each
    // stretch's offset: the walk has read these bytes already, so they are
    // there unless the file changed under us.
    void read_again(std::uint64_t offset, std::uint64_t size)
    {
        if (!file_.is_open()) {
            file_.open(save_, std::ios::binary);
            buffer_.resize(piece_size);
        }
        file_.seekg(static_cast<std::streamoff>(offset));
        for (std::uint64_t done = 0; done < size;) {
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, piece_size));
            file_.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(length));
            if (!file_ || static_cast<std::size_t>(file_.gcount()) != length) {
                throw reread_failed{};
            }
            encoder_.add_piece(*batch_, done, std::span(buffer_).first(length));
            done += length;
            send_when_full();
        }
    }

    const std::string& save_;
    batch_queue& queue_;
    std::unique_ptr<leaf_batch> batch_;
    leaf_encoder encoder_;
    std::ifstream file_;
    std::vector<std::uint8_t> buffer_;
    const walk_requests& requests_;
    const unit_data_layout layout_;
    stream_position position_; // of the walk, which meets every leaf
    std::uint64_t leaves_met_ = 0;
    std::uint64_t left_out_ = 0; // leaves left out since the last entry
    bool skipping_ = false;      // the walk passes over a stretch that agrees
    std::uint64_t skip_end_ = 0; // which reaches this far at least
    std::string last_left_out_;  // in the skip: a leaf's key, a run's list, a unit's path
    std::uint64_t last_left_out_slot_ = 0;
    left_out_kind last_left_out_kind_ = left_out_kind::leaf;
};

stream_end trouble(std::string problem)
{
    stream_end end;
    end.how = stream_end::kind::trouble;
    end.problem = std::move(problem);
    return end;
}

// The body of a walking thread. Whatever stops the walk is handed on as the
// stream's end, except a cancelled stream, which nobody reads any more.
void walk_into(const std::string& save, batch_queue& queue, const walk_requests& requests)
{
    std::optional<stream_end> failed;
    try {
        batching_sink sink(save, queue, requests);
        const walk_result result = walk_save(save, &sink);
        stream_end end;
        if (result.broken) {
            end.how = stream_end::kind::broken;
            end.broken = result.broken;
        }
        sink.finish(std::move(end));
        return;
    } catch (const stream_cancelled&) {
        return;
    } catch (const reread_failed&) {
        failed = trouble("could not be read again (did it change?)");
    } catch (const failure& stopped) {
        failed = trouble(std::string(stopped.message()));
    } catch (const std::bad_alloc&) {
        failed = trouble("Out of memory");
    } catch (const std::exception& stopped) {
        failed = trouble(stopped.what());
    }
    try {
        auto last = std::make_unique<leaf_batch>();
        last->end = std::move(failed);
        queue.push(std::move(last));
    } catch (const stream_cancelled&) {
    } catch (const std::bad_alloc&) {
        queue.cancel(); // the reader then sees a stream that ended in trouble
    }
}

} // namespace

// ---- leaf_encoder and leaf_decoder ----------------------------------------

namespace {

// The first byte of an entry: the leaf's type in the low three bits, what
// its slot number says in the next two, whether its bytes come in pieces;
// or, with the top bit, a piece; or, with the bit below it, one of the
// entries that are no single leaf: a run of references, a unit's data, the
// mark of leaves left out.
constexpr std::uint8_t type_bits = 0x07;
constexpr unsigned slot_shift = 3;
constexpr std::uint8_t slot_bits = 0x18;
constexpr std::uint8_t in_pieces_bit = 0x20;
constexpr std::uint8_t piece_bit = 0x80;
constexpr std::uint8_t run_bit = 0x40;
constexpr std::uint8_t unit_data_tag = 0x41;
constexpr std::uint8_t gap_tag = 0x42;
constexpr std::uint8_t skip_begin_tag = 0x43;
constexpr std::uint8_t skip_end_tag = 0x44;

// A number in seven-bit groups, lowest first, each but the last with its
// top bit set; returns the end.
std::uint8_t* put_number(std::uint8_t* at, std::uint64_t value)
{
    while (value >= 0x80) {
        *at++ = static_cast<std::uint8_t>(value | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<std::uint8_t>(value);
    return at;
}

// The most bytes a number takes, and an entry's numbers with its tag.
constexpr std::size_t number_room = 10;
constexpr std::size_t entry_head_room = 1 + 6 * number_room;

std::uint64_t take_number(const std::vector<std::uint8_t>& bytes, std::size_t& at)
{
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = bytes[at++];
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) {
            return value;
        }
    }
}

// Signed numbers with their sign in the lowest bit, so small negative
// values stay short.
std::uint64_t folded(std::int64_t value)
{
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unfolded(std::uint64_t value)
{
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

// How many leading characters two paths share, eight at a time: paths of
// neighbouring leaves share most of theirs.
std::size_t shared_length(std::string_view one, std::string_view two)
{
    const std::size_t shorter = std::min(one.size(), two.size());
    std::size_t at = 0;
    for (; at + 8 <= shorter; at += 8) {
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        std::memcpy(&first, one.data() + at, 8);
        std::memcpy(&second, two.data() + at, 8);
        if (first != second) {
            break;
        }
    }
    while (at < shorter && one[at] == two[at]) {
        ++at;
    }
    return at;
}

bool carries_bytes(leaf_type type, bool in_pieces)
{
    return type == leaf_type::text || type == leaf_type::u8_array || (type == leaf_type::raw && !in_pieces);
}

} // namespace

void leaf_encoder::add_leaf(leaf_batch& batch, const field_leaf& leaf, slot_content slot, bool in_pieces)
{
    const bool with_bytes = carries_bytes(leaf.type, in_pieces);
    const std::size_t payload = with_bytes ? leaf.bytes.size() : 0;
    std::uint8_t* const start = batch.room(entry_head_room + leaf.path.size() + payload);
    std::uint8_t* at = start;
    *at++ = static_cast<std::uint8_t>(static_cast<unsigned>(leaf.type) | (static_cast<unsigned>(slot) << slot_shift) |
                                      (in_pieces ? in_pieces_bit : 0u));
    at = put_number(at, leaf.offset - previous_offset_); // leaves come in file order
    previous_offset_ = leaf.offset;
    at = put_number(at, leaf.size);
    at = put_number(at, folded(leaf.number));
    at = put_path(at, leaf.path);
    if (with_bytes) {
        at = put_number(at, leaf.bytes.size());
        std::memcpy(at, leaf.bytes.data(), leaf.bytes.size());
        at += leaf.bytes.size();
    }
    if (leaf.type == leaf_type::u16_array) {
        at = put_number(at, leaf.words.size());
        at = put_number(at, batch.add_words(leaf.words));
    }
    batch.used_ += static_cast<std::size_t>(at - start);
}

void leaf_encoder::add_run(leaf_batch& batch, const reference_run& run)
{
    std::uint8_t* const start = batch.room(entry_head_room + run.list_path.size());
    std::uint8_t* at = start;
    *at++ = run_bit;
    at = put_number(at, run.offset - previous_offset_);
    // The next leaf's offset is counted from the run's last slot.
    previous_offset_ = run.offset + 2 * (run.objects.size() - 1);
    at = put_number(at, run.first_slot);
    at = put_path(at, run.list_path);
    at = put_number(at, run.objects.size());
    at = put_number(at, batch.add_words(run.objects));
    batch.used_ += static_cast<std::size_t>(at - start);
}

void leaf_encoder::add_unit_data(leaf_batch& batch, const unit_data_block& block)
{
    std::uint8_t* const start = batch.room(entry_head_room + block.unit_path.size() + block.bytes.size());
    std::uint8_t* at = start;
    *at++ = unit_data_tag;
    at = put_number(at, block.offset - previous_offset_);
    previous_offset_ = block.offset;
    at = put_path(at, block.unit_path);
    at = put_number(at, block.bytes.size());
    std::memcpy(at, block.bytes.data(), block.bytes.size());
    at += block.bytes.size();
    batch.used_ += static_cast<std::size_t>(at - start);
}

void leaf_encoder::add_gap(leaf_batch& batch, std::uint64_t leaves)
{
    std::uint8_t* const start = batch.room(1 + number_room);
    std::uint8_t* at = start;
    *at++ = gap_tag;
    at = put_number(at, leaves);
    batch.used_ += static_cast<std::size_t>(at - start);
}

void leaf_encoder::add_skip_begin(leaf_batch& batch, std::uint16_t counter)
{
    std::uint8_t* const start = batch.room(1 + number_room);
    std::uint8_t* at = start;
    *at++ = skip_begin_tag;
    at = put_number(at, counter);
    batch.used_ += static_cast<std::size_t>(at - start);
}

// The key goes whole: the paths around the skip are no neighbours.
void leaf_encoder::add_skip_end(leaf_batch& batch, const skip_end& end)
{
    std::uint8_t* const start = batch.room(1 + 2 * number_room + end.last_key.size());
    std::uint8_t* at = start;
    *at++ = skip_end_tag;
    at = put_number(at, end.leaves);
    at = put_number(at, end.last_key.size());
    std::memcpy(at, end.last_key.data(), end.last_key.size());
    at += end.last_key.size();
    batch.used_ += static_cast<std::size_t>(at - start);
}

// The path as the length it shares with the path before and the characters
// after; the path becomes the one before.
std::uint8_t* leaf_encoder::put_path(std::uint8_t* at, std::string_view path)
{
    const std::size_t shared = shared_length(path, previous_path_);
    at = put_number(at, shared);
    at = put_number(at, path.size() - shared);
    std::memcpy(at, path.data() + shared, path.size() - shared);
    at += path.size() - shared;
    previous_path_.resize(path.size());
    std::memcpy(previous_path_.data() + shared, path.data() + shared, path.size() - shared);
    return at;
}

void leaf_encoder::add_piece(leaf_batch& batch, std::uint64_t start, std::span<const std::uint8_t> piece)
{
    std::uint8_t* const first = batch.room(1 + 2 * number_room + piece.size());
    std::uint8_t* at = first;
    *at++ = piece_bit;
    at = put_number(at, start);
    at = put_number(at, piece.size());
    std::memcpy(at, piece.data(), piece.size());
    at += piece.size();
    batch.used_ += static_cast<std::size_t>(at - first);
}

bool leaf_decoder::is_piece(const leaf_batch& batch, std::size_t at) { return (batch.bytes_[at] & piece_bit) != 0; }

bool leaf_decoder::is_run(const leaf_batch& batch, std::size_t at) { return batch.bytes_[at] == run_bit; }

bool leaf_decoder::is_unit_data(const leaf_batch& batch, std::size_t at) { return batch.bytes_[at] == unit_data_tag; }

bool leaf_decoder::take_gap(const leaf_batch& batch, std::size_t& at, std::uint64_t& leaves)
{
    if (batch.bytes_[at] != gap_tag) {
        return false;
    }
    ++at;
    leaves += take_number(batch.bytes_, at);
    return true;
}

bool leaf_decoder::is_skip_begin(const leaf_batch& batch, std::size_t at) { return batch.bytes_[at] == skip_begin_tag; }

bool leaf_decoder::is_skip_end(const leaf_batch& batch, std::size_t at) { return batch.bytes_[at] == skip_end_tag; }

std::uint16_t leaf_decoder::skip_begin(const leaf_batch& batch, std::size_t& at)
{
    ++at;
    return static_cast<std::uint16_t>(take_number(batch.bytes_, at));
}

skip_end leaf_decoder::skip_end_at(const leaf_batch& batch, std::size_t& at)
{
    ++at;
    skip_end end;
    end.leaves = take_number(batch.bytes_, at);
    const auto length = static_cast<std::size_t>(take_number(batch.bytes_, at));
    end.last_key.assign(reinterpret_cast<const char*>(batch.bytes_.data() + at), length);
    at += length;
    return end;
}

std::string_view leaf_decoder::next_path(const leaf_batch& batch, std::size_t& at)
{
    const auto& bytes = batch.bytes_;
    const auto shared = static_cast<std::size_t>(take_number(bytes, at));
    const auto rest = static_cast<std::size_t>(take_number(bytes, at));
    path_.resize(shared + rest);
    std::memcpy(path_.data() + shared, bytes.data() + at, rest);
    at += rest;
    return path_;
}

std::span<const std::uint16_t> leaf_decoder::words_at(const leaf_batch& batch, std::size_t& at)
{
    const auto count = static_cast<std::size_t>(take_number(batch.bytes_, at));
    const auto start = static_cast<std::size_t>(take_number(batch.bytes_, at));
    return std::span(batch.words_).subspan(start, count);
}

streamed_leaf leaf_decoder::leaf(const leaf_batch& batch, std::size_t& at)
{
    const auto& bytes = batch.bytes_;
    const std::uint8_t tag = bytes[at++];
    streamed_leaf leaf;
    leaf.type = static_cast<leaf_type>(tag & type_bits);
    leaf.slot = static_cast<slot_content>((tag & slot_bits) >> slot_shift);
    leaf.in_pieces = (tag & in_pieces_bit) != 0;
    previous_offset_ += take_number(bytes, at);
    leaf.offset = previous_offset_;
    leaf.size = take_number(bytes, at);
    leaf.number = unfolded(take_number(bytes, at));
    leaf.path = next_path(batch, at);
    if (carries_bytes(leaf.type, leaf.in_pieces)) {
        const auto count = static_cast<std::size_t>(take_number(bytes, at));
        leaf.bytes = std::span(bytes).subspan(at, count);
        at += count;
    }
    if (leaf.type == leaf_type::u16_array) {
        leaf.words = words_at(batch, at);
    }
    return leaf;
}

reference_run leaf_decoder::run(const leaf_batch& batch, std::size_t& at)
{
    ++at;
    reference_run run;
    run.offset = previous_offset_ + take_number(batch.bytes_, at);
    run.first_slot = take_number(batch.bytes_, at);
    run.list_path = next_path(batch, at);
    run.objects = words_at(batch, at);
    previous_offset_ = run.offset + 2 * (run.objects.size() - 1);
    return run;
}

unit_data_block leaf_decoder::unit_data(const leaf_batch& batch, std::size_t& at)
{
    ++at;
    unit_data_block block;
    previous_offset_ += take_number(batch.bytes_, at);
    block.offset = previous_offset_;
    block.unit_path = next_path(batch, at);
    const auto count = static_cast<std::size_t>(take_number(batch.bytes_, at));
    block.bytes = std::span(batch.bytes_).subspan(at, count);
    at += count;
    return block;
}

leaf_piece leaf_decoder::piece(const leaf_batch& batch, std::size_t& at)
{
    const auto& bytes = batch.bytes_;
    ++at;
    leaf_piece piece;
    piece.start = take_number(bytes, at);
    const auto count = static_cast<std::size_t>(take_number(bytes, at));
    piece.bytes = std::span(bytes).subspan(at, count);
    at += count;
    return piece;
}

// ---- batch_queue ------------------------------------------------------------

void batch_queue::push(std::unique_ptr<leaf_batch> batch)
{
    std::unique_lock held(lock_);
    changed_.wait(held, [&] { return cancelled_ || full_.size() < capacity_; });
    if (cancelled_) {
        throw stream_cancelled{};
    }
    full_.push_back(std::move(batch));
    changed_.notify_all();
}

std::unique_ptr<leaf_batch> batch_queue::pop()
{
    std::unique_lock held(lock_);
    changed_.wait(held, [&] { return cancelled_ || !full_.empty(); });
    if (full_.empty()) {
        return nullptr;
    }
    auto batch = std::move(full_.front());
    full_.pop_front();
    changed_.notify_all();
    return batch;
}

std::unique_ptr<leaf_batch> batch_queue::spare()
{
    {
        std::lock_guard held(lock_);
        if (!spare_.empty()) {
            auto batch = std::move(spare_.back());
            spare_.pop_back();
            return batch;
        }
    }
    return std::make_unique<leaf_batch>();
}

void batch_queue::give_back(std::unique_ptr<leaf_batch> batch)
{
    batch->clear();
    std::lock_guard held(lock_);
    // Up to the capacity, one being filled and one being read are alive at
    // once: all of them are kept, so that no batch is made anew.
    if (spare_.size() < capacity_ + 2) {
        spare_.push_back(std::move(batch));
    }
}

void batch_queue::wake()
{
    std::lock_guard held(lock_);
    changed_.notify_all();
}

void batch_queue::cancel()
{
    std::lock_guard held(lock_);
    cancelled_ = true;
    changed_.notify_all();
}

// ---- leaf_stream ------------------------------------------------------------

leaf_stream::leaf_stream(std::string save, std::uint64_t skip_before, agreement_map* agreement)
    : save_(std::move(save))
{
    block_next_ = layout_.pieces().size(); // no unit data being handed out
    requests_.leave_out_before = skip_before;
    requests_.agreement = agreement;
    start_walk();
}

leaf_stream::~leaf_stream()
{
    queue_->cancel();
    walker_.join();
}

void leaf_stream::start_walk()
{
    queue_ = std::make_unique<batch_queue>(batches_in_flight);
    walker_ = std::thread([this] { walk_into(save_, *queue_, requests_); });
}

void leaf_stream::walk_again()
{
    queue_->cancel();
    walker_.join();
    batch_.reset();
    next_ = 0;
    decoder_ = leaf_decoder{};
    has_current_ = false;
    run_ = reference_run{};
    run_next_ = 0;
    in_run_ = false;
    block_next_ = layout_.pieces().size();
    in_block_ = false;
    skip_ahead_.reset();
    // The new walk's first entry says how many leaves it left out.
    requests_.leave_out_leaves = leaves_taken_;
    requests_.agreement = nullptr;
    leaves_taken_ = 0;
    start_walk();
}

void leaf_stream::fetch()
{
    if (batch_) {
        queue_->give_back(std::move(batch_));
    }
    batch_ = queue_->pop();
    next_ = 0;
}

bool leaf_stream::entry_waiting()
{
    while (!end_ && (!batch_ || !leaf_decoder::has_entry(*batch_, next_))) {
        if (batch_ && batch_->end) {
            end_ = batch_->end;
            break;
        }
        fetch();
        if (!batch_) {
            end_ = trouble("could not be read to its end");
        }
    }
    return !end_;
}

bool leaf_stream::has_leaf()
{
    if (has_current_) {
        return true;
    }
    if (run_next_ < run_.objects.size()) {
        take_run_slot();
        return true;
    }
    if (block_next_ < layout_.pieces().size()) {
        take_block_piece();
        return true;
    }
    while (entry_waiting()) {
        if (leaf_decoder::is_piece(*batch_, next_)) {
            leaf_decoder::piece(*batch_, next_); // a piece of a leaf passed over
            continue;
        }
        if (leaf_decoder::take_gap(*batch_, next_, leaves_taken_)) {
            continue;
        }
        if (leaf_decoder::is_skip_begin(*batch_, next_) || leaf_decoder::is_skip_end(*batch_, next_)) {
            // A skip not taken (its leaf was passed by): the leaves it left
            // out are needed after all.
            walk_again();
            continue;
        }
        if (leaf_decoder::is_run(*batch_, next_)) {
            run_ = decoder_.run(*batch_, next_);
            run_list_path_.assign(run_.list_path);
            run_.list_path = run_list_path_;
            slot_paths_.emplace(run_list_path_);
            run_next_ = 0;
            take_run_slot();
            return true;
        }
        if (leaf_decoder::is_unit_data(*batch_, next_)) {
            block_ = decoder_.unit_data(*batch_, next_);
            block_unit_path_.assign(block_.unit_path);
            block_.unit_path = block_unit_path_;
            block_path_.assign(block_unit_path_);
            block_path_ += '.';
            block_next_ = 0;
            take_block_piece();
            return true;
        }
        make_current(decoder_.leaf(*batch_, next_));
        return true;
    }
    return false;
}

void leaf_stream::make_current(const streamed_leaf& leaf)
{
    current_leaf_ = leaf;
    has_current_ = true;
}

void leaf_stream::take_block_piece()
{
    const unit_data_piece& piece = layout_.pieces()[block_next_++];
    const auto bytes = block_.bytes.subspan(piece.object_offset - unit_data_offset, piece.size);
    block_path_.resize(block_unit_path_.size() + 1); // the unit's path and a dot
    block_path_ += piece.name;
    streamed_leaf leaf;
    leaf.offset = block_.offset + (piece.object_offset - unit_data_offset);
    leaf.size = piece.size;
    leaf.path = block_path_;
    if (piece.named) {
        leaf.type = piece.size == 1 ? leaf_type::u8 : leaf_type::u16;
        leaf.number = piece.size == 1 ? bytes[0] : load_u16(bytes.data());
    } else {
        leaf.type = leaf_type::raw;
        leaf.bytes = bytes;
    }
    make_current(leaf);
    in_block_ = true;
}

void leaf_stream::skip_unit_data()
{
    leaves_taken_ += layout_.pieces().size() - block_next_;
    block_next_ = layout_.pieces().size();
    advance();
}

void leaf_stream::take_run_slot()
{
    const std::size_t index = run_next_++;
    streamed_leaf slot;
    slot.offset = run_.offset + 2 * index;
    slot.size = 2;
    slot.type = leaf_type::u16;
    slot.path = slot_paths_->of(run_.first_slot + index);
    slot.number = run_.objects[index];
    slot.slot = slot_content::reference;
    make_current(slot);
    run_ahead_ = {run_.list_path, run_.first_slot + index, slot.offset, run_.objects.subspan(index)};
    in_run_ = true;
}

void leaf_stream::advance()
{
    const bool skip_passed_by = skip_ahead_ || skip_after_current();
    has_current_ = false;
    in_run_ = false;
    in_block_ = false;
    ++leaves_taken_;
    if (skip_passed_by) {
        walk_again();
    }
}

void leaf_stream::skip_slots(std::size_t count)
{
    leaves_taken_ += count - 1;
    run_next_ += count - 1;
    advance();
}

std::optional<std::uint16_t> leaf_stream::skip_after_current() const
{
    if (!has_current_ || in_run_ || in_block_ || !batch_ || !leaf_decoder::has_entry(*batch_, next_) ||
        !leaf_decoder::is_skip_begin(*batch_, next_)) {
        return std::nullopt;
    }
    std::size_t at = next_;
    return leaf_decoder::skip_begin(*batch_, at);
}

const skip_end* leaf_stream::skip_ahead()
{
    if (!skip_ahead_) {
        // The leaf, a list's size, holds no view into the batch, which may
        // go back as the walk is waited for.
        leaf_decoder::skip_begin(*batch_, next_);
        if (!entry_waiting()) {
            return nullptr;
        }
        if (!leaf_decoder::is_skip_end(*batch_, next_)) {
            // A walk hands on nothing between a skip's beginning and its end.
            end_ = trouble("could not be read to its end");
            return nullptr;
        }
        skip_ahead_ = leaf_decoder::skip_end_at(*batch_, next_);
    }
    return &*skip_ahead_;
}

void leaf_stream::go_on()
{
    requests_.held.store(false, std::memory_order_relaxed);
    queue_->wake();
}

void leaf_stream::take_skip()
{
    leaves_taken_ += 1 + skip_ahead_->leaves;
    skip_ahead_.reset();
    has_current_ = false;
}

std::optional<leaf_piece> leaf_stream::next_piece()
{
    if (!entry_waiting() || !leaf_decoder::is_piece(*batch_, next_)) {
        return std::nullopt;
    }
    return leaf_decoder::piece(*batch_, next_);
}

} // namespace orbse::fields
