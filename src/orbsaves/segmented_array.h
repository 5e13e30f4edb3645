// Growable arrays for stores that may reach hundreds of megabytes: the
// elements live in fixed-size segments, so appending never moves what is
// stored. A vector that doubles holds its old and its new buffer at once while
// it copies, which for the largest array of a save is twice its size on top of
// everything else; here the cost over the elements is one partly filled
// segment and one pointer per segment.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

namespace orbse {

template <typename T>
class segmented_array {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    // About a quarter of a megabyte per segment, rounded down to a power of
    // two elements so that finding an element is a shift and a mask.
    static constexpr std::size_t segment_bytes = 256 * 1024;
    static constexpr std::size_t segment_length = std::bit_floor(segment_bytes / sizeof(T));
    static constexpr int segment_shift = std::countr_zero(segment_length);
    static constexpr std::size_t offset_mask = segment_length - 1;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    const T& operator[](std::size_t index) const { return segments_[index >> segment_shift][index & offset_mask]; }
    T& operator[](std::size_t index) { return segments_[index >> segment_shift][index & offset_mask]; }

    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }

    // Appends `value` and returns the stored element.
    T& append(const T& value = T{})
    {
        if ((size_ >> segment_shift) == segments_.size()) {
            // A segment's memory is left untouched until elements land in
            // it, so its unused end costs address space only.
            segments_.push_back(std::make_unique_for_overwrite<T[]>(segment_length));
        }
        T& element = (*this)[size_];
        element = value;
        ++size_;
        return element;
    }

    // Forgets the elements from `new_size` on, keeping their segments for
    // the elements appended next. `new_size` must not exceed size().
    void shrink_to(std::size_t new_size) { size_ = new_size; }

private:
    std::vector<std::unique_ptr<T[]>> segments_;
    std::size_t size_ = 0;
};

// One bit per element, packed 64 to a word.
class segmented_bits {
public:
    std::size_t size() const { return size_; }

    bool operator[](std::size_t index) const { return (words_[index / word_bits] >> (index % word_bits) & 1u) != 0; }

    void append(bool bit)
    {
        if (size_ % word_bits == 0) {
            words_.append(0);
        }
        if (bit) {
            words_.back() |= std::uint64_t{1} << (size_ % word_bits);
        }
        ++size_;
    }

private:
    static constexpr std::size_t word_bits = 64;

    segmented_array<std::uint64_t> words_;
    std::size_t size_ = 0;
};

} // namespace orbse
