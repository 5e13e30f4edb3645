#include "counting_allocator.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace orbse::testing {
namespace {

std::uint64_t counted = 0;
std::uint64_t failing_ordinal = 0;

bool next_allocation_fails()
{
    ++counted;
    return failing_ordinal != 0 && counted == failing_ordinal;
}

// What operator new does by the rules: try, and on failure ask the
// new-handler (which the inspector sets to raise its memory failure).
void* allocate(std::size_t size, std::size_t alignment)
{
    const bool fails = next_allocation_fails();
    for (;;) {
        if (!fails) {
            void* block = alignment <= alignof(std::max_align_t)
                              ? std::malloc(size == 0 ? 1 : size)
                              : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
            if (block != nullptr) {
                return block;
            }
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            throw std::bad_alloc();
        }
        handler();
    }
}

void* allocate_nothrow(std::size_t size, std::size_t alignment) noexcept
{
    try {
        return allocate(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

std::uint64_t allocations_counted() { return counted; }

void fail_allocation(std::uint64_t ordinal)
{
    counted = 0;
    failing_ordinal = ordinal;
}

} // namespace orbse::testing

using orbse::testing::allocate;
using orbse::testing::allocate_nothrow;
constexpr std::size_t plain = alignof(std::max_align_t);

void* operator new(std::size_t size) { return allocate(size, plain); }
void* operator new[](std::size_t size) { return allocate(size, plain); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocate(size, static_cast<std::size_t>(alignment)); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocate(size, static_cast<std::size_t>(alignment)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size, plain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size, plain); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
