// Growable arrays for stores that may reach hundreds of megabytes: the
// elements live in fixed-size segments, so appending never moves what is
// stored. A vector that doubles holds its old and its new buffer at once while
// it copies, which for the largest array of a save is twice its size on top of
// everything else; here the cost over the elements is one partly filled
// segment and one pointer per segment.
#pragma once

#include "runtime/large_buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace orbse {

template <typename T, std::size_t first_segment_bytes = 64 * 1024>
class segmented_array {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    // One large page of elements per segment, so a store of hundreds of
    // megabytes fills its segments a large page at a time and takes hundreds
    // rather than tens of thousands of page faults. The first segment is
    // small and on ordinary pages: clearing a large page costs about as much
    // as nine faults of ordinary pages, more than a small array needs; by
    // default it holds 64 KB, which most saves' small arrays never pass.
    // Lengths are constants: finding an element is a compare, a multiply
    // and a shift.
    static constexpr std::size_t segment_length = std::max<std::size_t>(1, large_page_size / sizeof(T));
    static constexpr std::size_t first_segment_length = std::max<std::size_t>(1, first_segment_bytes / sizeof(T));

    segmented_array() = default;
    segmented_array(segmented_array&& other) noexcept { take_over(other); }
    segmented_array& operator=(segmented_array&& other) noexcept
    {
        if (this != &other) {
            take_over(other);
        }
        return *this;
    }
    segmented_array(const segmented_array&) = delete;
    segmented_array& operator=(const segmented_array&) = delete;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    const T& operator[](std::size_t index) const
    {
        const place found = place_of(index);
        return segment_starts_[found.segment][found.offset];
    }

    T& operator[](std::size_t index)
    {
        const place found = place_of(index);
        return segment_starts_[found.segment][found.offset];
    }

    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }

    // Appends `value` and returns the stored element.
    T& append(const T& value = T{})
    {
        if (next_ == segment_end_) [[unlikely]] {
            open_next_segment();
        }
        T& element = *next_++;
        element = value;
        ++size_;
        return element;
    }

    // Room to append in place: the free elements of the current segment,
    // or of a new one when it is full. Elements written there count once
    // passed to commit_room, from the front.
    std::span<T> room()
    {
        if (next_ == segment_end_) {
            open_next_segment();
        }
        return {next_, segment_end_};
    }

    void commit_room(std::size_t count)
    {
        next_ += count;
        size_ += count;
    }

    // Appends `count` elements: `fill` is handed each stretch of them that
    // lies in one segment, in order, and writes it. A stretch counts once
    // `fill` returns, so a fill that raises leaves only whole stretches.
    template <typename stretch_filler>
    void append_stretches(std::size_t count, stretch_filler&& fill)
    {
        while (count > 0) {
            const std::span<T> free = room();
            const std::span<T> stretch = free.first(std::min(count, free.size()));
            fill(stretch);
            commit_room(stretch.size());
            count -= stretch.size();
        }
    }

    // Forgets the elements from `new_size` on, keeping their segments for
    // the elements appended next. `new_size` must not exceed size().
    void shrink_to(std::size_t new_size)
    {
        size_ = new_size;
        const place found = place_of(new_size);
        if (found.segment < segment_starts_.size()) {
            next_ = segment_starts_[found.segment] + found.offset;
            segment_end_ = segment_starts_[found.segment] + length_of_segment(found.segment);
        } else {
            next_ = nullptr;
            segment_end_ = nullptr;
        }
    }

private:
    struct place {
        std::size_t segment;
        std::size_t offset;
    };

    static std::size_t length_of_segment(std::size_t segment)
    {
        return segment == 0 ? first_segment_length : segment_length;
    }

    static place place_of(std::size_t index)
    {
        if (index < first_segment_length) {
            return {0, index};
        }
        const std::size_t beyond_first = index - first_segment_length;
        return {1 + beyond_first / segment_length, beyond_first % segment_length};
    }

    // Called when the current segment is full: the next element goes to
    // the start of the following segment, kept from before or new.
    void open_next_segment()
    {
        const std::size_t segment = place_of(size_).segment;
        if (segment == segment_starts_.size()) {
            if (segment == 0) {
                first_segment_ = std::make_unique_for_overwrite<T[]>(first_segment_length);
                segment_starts_.push_back(first_segment_.get());
            } else {
                large_segments_.emplace_back(segment_length);
                segment_starts_.push_back(large_segments_.back().data());
            }
        }
        next_ = segment_starts_[segment];
        segment_end_ = next_ + length_of_segment(segment);
    }

    void take_over(segmented_array& other)
    {
        first_segment_ = std::move(other.first_segment_);
        large_segments_ = std::move(other.large_segments_);
        segment_starts_ = std::move(other.segment_starts_);
        size_ = std::exchange(other.size_, 0);
        next_ = std::exchange(other.next_, nullptr);
        segment_end_ = std::exchange(other.segment_end_, nullptr);
        other.large_segments_.clear();
        other.segment_starts_.clear();
    }

    // The first segment on ordinary pages, the others on large pages, and
    // where each segment begins, in order.
    std::unique_ptr<T[]> first_segment_;
    std::vector<large_buffer<T>> large_segments_;
    std::vector<T*> segment_starts_;
    std::size_t size_ = 0;
    // Where the next element goes, and the end of its segment; equal when
    // the next append needs another segment.
    T* next_ = nullptr;
    T* segment_end_ = nullptr;
};

// One bit per element, packed 64 to a word.
class segmented_bits {
public:
    std::size_t size() const { return size_; }

    bool operator[](std::size_t index) const { return (words_[index / word_bits] >> (index % word_bits) & 1u) != 0; }

    void append(bool bit)
    {
        const std::size_t bit_in_word = size_ % word_bits;
        if (bit_in_word == 0) {
            words_.append(0);
        }
        words_.back() |= std::uint64_t{bit} << bit_in_word;
        ++size_;
    }

    // Appends `count` clear bits. A word starts as zero and only ever gets
    // bits set below size(), so this needs only the new words.
    void append_zeros(std::size_t count)
    {
        size_ += count;
        while (words_.size() * word_bits < size_) {
            words_.append(0);
        }
    }

private:
    static constexpr std::size_t word_bits = 64;

    segmented_array<std::uint64_t> words_;
    std::size_t size_ = 0;
};

} // namespace orbse
