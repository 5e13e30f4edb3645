// Buffers whose elements start uninitialised, for memory that is written in
// full before it is read: the segments of the unit store, the BMP writer's
// blocks of rows, the cell colours of a picture, the read-ahead of a file. A buffer on large pages is aligned to them and rounded
// up to whole large pages, and filling it costs a page fault per large page
// rather than one per small page. A failed allocation raises the memory
// failure, as every allocation of the program does.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace orbse {

enum class page_kind { ordinary, large };

void* allocate_block(std::size_t bytes, page_kind pages);
void release_block(void* block, page_kind pages) noexcept;

template <typename T>
class large_buffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    large_buffer() = default;

    large_buffer(std::size_t count, page_kind pages)
        : elements_(static_cast<T*>(allocate_block(count * sizeof(T), pages))), count_(count), pages_(pages)
    {
    }

    ~large_buffer()
    {
        if (elements_ != nullptr) {
            release_block(elements_, pages_);
        }
    }

    large_buffer(large_buffer&& other) noexcept
        : elements_(std::exchange(other.elements_, nullptr)), count_(std::exchange(other.count_, 0)),
          pages_(other.pages_)
    {
    }

    large_buffer& operator=(large_buffer&& other) noexcept
    {
        std::swap(elements_, other.elements_);
        std::swap(count_, other.count_);
        std::swap(pages_, other.pages_);
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
    page_kind pages_ = page_kind::ordinary;
};

} // namespace orbse
