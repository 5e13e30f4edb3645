// Large pages on POSIX systems: Linux backs advised anonymous memory with
// transparent huge pages; elsewhere the advice does not exist and nothing
// is asked.
#include "runtime/platform_memory.h"

#include <sys/mman.h>

namespace orbse::platform {

void advise_large_pages([[maybe_unused]] void* start, [[maybe_unused]] std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // A refusal leaves ordinary pages, which work the same, only slower.
    static_cast<void>(::madvise(start, bytes, MADV_HUGEPAGE));
#endif
}

} // namespace orbse::platform
