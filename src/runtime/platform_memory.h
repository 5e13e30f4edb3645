// How the platform hands out memory for large buffers. A page fault costs
// the same whatever the page's size, and on a virtual machine it can cost
// microseconds, so a buffer of megabytes filled page by page spends more time
// faulting than filling. Large pages cut the faults by hundreds.
#pragma once

#include <cstddef>

namespace orbse::platform {

// The size of a large page, and the alignment and granularity of a block
// that may be backed by large pages.
inline constexpr std::size_t large_page_size = 2 * 1024 * 1024;

// Asks the system to back [start, start + bytes) with large pages where it
// can. `start` and `bytes` are multiples of large_page_size. Only advice:
// nothing fails, and a system without large pages ignores it.
void advise_large_pages(void* start, std::size_t bytes);

} // namespace orbse::platform
