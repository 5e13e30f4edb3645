#include "fields/leaf_streams.h"

#include "runtime/failures.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <new>
#include <stdexcept>

namespace orbse::fields {
namespace {

// A batch is handed on once it holds this much; a few of them in the queue
// keep the walk busy while the reader compares.
constexpr std::size_t batch_weight = 256 * 1024;
constexpr std::size_t batches_in_flight = 4;
// Long raw stretches are read again in pieces of this size.
constexpr std::size_t piece_size = 64 * 1024;

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
    if (leaf.note.starts_with("reference to object")) {
        return slot_content::reference;
    }
    return slot_content::none;
}

// The walk's sink on the walking thread: leaves into batches, batches into
// the queue.
class batching_sink final : public leaf_sink {
public:
    batching_sink(const std::string& save, batch_queue& queue) : save_(save), queue_(queue), batch_(queue.spare()) {}

    void take(const field_leaf& leaf) override
    {
        const bool in_pieces = leaf.type == leaf_type::raw && leaf.size > leaf.bytes.size();
        batch_->add_leaf(leaf, slot_of(leaf), in_pieces);
        if (in_pieces) {
            read_again(leaf.offset, leaf.size);
        }
        if (batch_->weight() >= batch_weight) {
            send();
        }
    }

    void finish(stream_end end)
    {
        batch_->end = std::move(end);
        queue_.push(std::move(batch_));
    }

private:
    void send()
    {
        queue_.push(std::move(batch_));
        batch_ = queue_.spare();
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
            batch_->add_piece(done, std::span(buffer_).first(length));
            done += length;
            if (batch_->weight() >= batch_weight) {
                send();
            }
        }
    }

    const std::string& save_;
    batch_queue& queue_;
    std::unique_ptr<leaf_batch> batch_;
    std::ifstream file_;
    std::vector<std::uint8_t> buffer_;
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
void walk_into(const std::string& save, batch_queue& queue)
{
    std::optional<stream_end> failed;
    try {
        batching_sink sink(save, queue);
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

// ---- leaf_batch -------------------------------------------------------------

void leaf_batch::clear()
{
    entries_.clear();
    text_.clear();
    words_.clear();
    end.reset();
}

std::uint32_t leaf_batch::keep_text(std::span<const std::uint8_t> bytes)
{
    const auto at = static_cast<std::uint32_t>(text_.size());
    text_.insert(text_.end(), bytes.begin(), bytes.end());
    return at;
}

void leaf_batch::add_leaf(const field_leaf& leaf, slot_content slot, bool in_pieces)
{
    entry& kept = entries_.emplace_back();
    kept.offset = leaf.offset;
    kept.size = leaf.size;
    kept.number = leaf.number;
    kept.type = leaf.type;
    kept.slot = slot;
    kept.in_pieces = in_pieces;
    kept.path_at = static_cast<std::uint32_t>(text_.size());
    kept.path_length = static_cast<std::uint32_t>(leaf.path.size());
    text_.insert(text_.end(), leaf.path.begin(), leaf.path.end());
    if (!in_pieces && !leaf.bytes.empty()) {
        kept.bytes_at = keep_text(leaf.bytes);
        kept.bytes_length = static_cast<std::uint32_t>(leaf.bytes.size());
    }
    if (!leaf.words.empty()) {
        kept.words_at = static_cast<std::uint32_t>(words_.size());
        kept.words_length = static_cast<std::uint32_t>(leaf.words.size());
        words_.insert(words_.end(), leaf.words.begin(), leaf.words.end());
    }
}

void leaf_batch::add_piece(std::uint64_t start, std::span<const std::uint8_t> bytes)
{
    entry kept;
    kept.offset = start;
    kept.size = bytes.size();
    kept.piece = true;
    kept.bytes_at = keep_text(bytes);
    kept.bytes_length = static_cast<std::uint32_t>(bytes.size());
    entries_.push_back(kept);
}

streamed_leaf leaf_batch::leaf(std::size_t at) const
{
    const entry& kept = entries_[at];
    streamed_leaf leaf;
    leaf.offset = kept.offset;
    leaf.size = kept.size;
    leaf.type = kept.type;
    leaf.path = std::string_view(reinterpret_cast<const char*>(text_.data()) + kept.path_at, kept.path_length);
    leaf.number = kept.number;
    leaf.bytes = std::span(text_).subspan(kept.bytes_at, kept.bytes_length);
    leaf.words = std::span(words_).subspan(kept.words_at, kept.words_length);
    leaf.slot = kept.slot;
    leaf.in_pieces = kept.in_pieces;
    return leaf;
}

leaf_piece leaf_batch::piece(std::size_t at) const
{
    const entry& kept = entries_[at];
    return {kept.offset, std::span(text_).subspan(kept.bytes_at, kept.bytes_length)};
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
    if (spare_.size() < capacity_) {
        spare_.push_back(std::move(batch));
    }
}

void batch_queue::cancel()
{
    std::lock_guard held(lock_);
    cancelled_ = true;
    changed_.notify_all();
}

// ---- leaf_stream ------------------------------------------------------------

leaf_stream::leaf_stream(std::string save) : save_(std::move(save)), queue_(batches_in_flight)
{
    walker_ = std::thread([this] { walk_into(save_, queue_); });
}

leaf_stream::~leaf_stream()
{
    queue_.cancel();
    walker_.join();
}

void leaf_stream::fetch()
{
    if (batch_) {
        queue_.give_back(std::move(batch_));
    }
    batch_ = queue_.pop();
    next_ = 0;
}

bool leaf_stream::entry_waiting()
{
    while (!end_ && (!batch_ || next_ == batch_->size())) {
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
    while (entry_waiting()) {
        if (batch_->is_piece(next_)) {
            ++next_; // a piece of a leaf passed over
            continue;
        }
        current_leaf_ = batch_->leaf(next_++);
        has_current_ = true;
        return true;
    }
    return false;
}


void leaf_stream::advance() { has_current_ = false; }

std::optional<leaf_piece> leaf_stream::next_piece()
{
    if (!entry_waiting() || !batch_->is_piece(next_)) {
        return std::nullopt;
    }
    return batch_->piece(next_++);
}

} // namespace orbse::fields
