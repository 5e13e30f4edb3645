#include "runtime/large_buffer.h"

#include "runtime/platform_memory.h"

#include <new>

namespace orbse {
namespace {

constexpr std::align_val_t large_page_alignment{large_page_size};

std::size_t whole_large_pages(std::size_t bytes)
{
    return (bytes + large_page_size - 1) / large_page_size * large_page_size;
}

} // namespace

// The block comes through operator new, so exhausted memory raises the
// memory failure through the new-handler like any other allocation.
void* allocate_large_pages(std::size_t bytes)
{
    const std::size_t rounded = whole_large_pages(bytes);
    void* block = ::operator new(rounded, large_page_alignment);
    platform::advise_large_pages(block, rounded);
    return block;
}

void release_large_pages(void* block) noexcept { ::operator delete(block, large_page_alignment); }

} // namespace orbse
