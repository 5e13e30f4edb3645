// Buffers on large pages, for memory of megabytes that is written in full
// before it is read: the segments of the unit store and the tail of a save.
// On a virtual machine a page fault can cost microseconds, so a buffer of
// megabytes filled page by page spends more time faulting than filling; on
// large pages it takes one fault per 2 MB. The buffer is aligned to large
// pages and rounded up to whole ones; its elements start uninitialised. A
// failed allocation raises the memory failure, as every allocation of the
// program does.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace orbse {

// The size of a large page, and the alignment and granularity of a block on
// large pages.
inline constexpr std::size_t large_page_size = 2 * 1024 * 1024;

void* allocate_large_pages(std::size_t bytes);
void release_large_pages(void* block) noexcept;

template <typename T>
class large_buffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    large_buffer() = default;

    explicit large_buffer(std::size_t count)
        : elements_(static_cast<T*>(allocate_large_pages(count * sizeof(T)))), count_(count)
    {
    }

    ~large_buffer()
    {
        if (elements_ != nullptr) {
            release_large_pages(elements_);
        }
    }

    large_buffer(large_buffer&& other) noexcept
        : elements_(std::exchange(other.elements_, nullptr)), count_(std::exchange(other.count_, 0))
    {
    }

    large_buffer& operator=(large_buffer&& other) noexcept
    {
        std::swap(elements_, other.elements_);
        std::swap(count_, other.count_);
        return *this;
    }

    large_buffer(const large_buffer&) = delete;
    large_buffer& operator=(const large_buffer&) = delete;

    T* data() { return elements_; }
    const T* data() const { return elements_; }
    std::size_t size() const { return count_; }
    T& operator[](std::size_t index) { return elements_[index]; }
    const T& operator[](std::size_t index) const { return elements_[index]; }
    T* begin() { return elements_; }
    T* end() { return elements_ + count_; }
    const T* begin() const { return elements_; }
    const T* end() const { return elements_ + count_; }

private:
    T* elements_ = nullptr;
    std::size_t count_ = 0;
};

} // namespace orbse
