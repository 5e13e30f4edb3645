// Large pages on POSIX systems: Linux backs advised anonymous memory with
// transparent huge pages; elsewhere the advice does not exist and nothing
// is asked. Released pages go back with MADV_DONTNEED, which keeps the range
// mapped and hands out zeroed pages at the next touch.
#include "runtime/platform_memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace orbse::platform {

void advise_large_pages([[maybe_unused]] void* start, [[maybe_unused]] std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // A refusal leaves ordinary pages, which work the same, only slower.
    static_cast<void>(::madvise(start, bytes, MADV_HUGEPAGE));
#endif
}

void release_pages(void* start, std::size_t bytes)
{
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t from = (first + small_page_size - 1) / small_page_size * small_page_size;
    const std::uintptr_t to = (first + bytes) / small_page_size * small_page_size;
    if (from < to) {
        // Dropping the pages of a large page splits it; the rest stays.
        static_cast<void>(::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED));
    }
}

} // namespace orbse::platform
