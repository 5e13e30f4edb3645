#include "runtime/large_buffer.h"

#include "runtime/platform_memory.h"

#include <new>

namespace orbse {
namespace {

constexpr std::align_val_t large_page_alignment{platform::large_page_size};

std::size_t whole_large_pages(std::size_t bytes)
{
    return (bytes + platform::large_page_size - 1) / platform::large_page_size * platform::large_page_size;
}

} // namespace

// Both kinds come through operator new, so exhausted memory raises the
// memory failure through the new-handler like any other allocation.
void* allocate_block(std::size_t bytes, page_kind pages)
{
    if (pages == page_kind::ordinary) {
        return ::operator new(bytes);
    }
    const std::size_t rounded = whole_large_pages(bytes);
    void* block = ::operator new(rounded, large_page_alignment);
    platform::advise_large_pages(block, rounded);
    return block;
}

void release_block(void* block, page_kind pages) noexcept
{
    if (pages == page_kind::ordinary) {
        ::operator delete(block);
    } else {
        ::operator delete(block, large_page_alignment);
    }
}

} // namespace orbse
