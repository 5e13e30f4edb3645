// How the platform hands out memory for large buffers. A page fault costs
// the same whatever the page's size, and on a virtual machine it can cost
// microseconds, so a buffer of megabytes filled page by page spends more time
// faulting than filling. Large pages cut the faults by hundreds.
#pragma once

#include <cstddef>

namespace orbse::platform {

// Asks the system to back [start, start + bytes) with large pages where it
// can. `start` and `bytes` are multiples of 2 MB. Only advice:
// nothing fails, and a system without large pages ignores it.
void advise_large_pages(void* start, std::size_t bytes);

} // namespace orbse::platform
