// Large pages on Windows need a privilege that an ordinary user lacks and
// memory committed up front; the program keeps ordinary pages there.
#include "runtime/platform_memory.h"

namespace orbse::platform {

void advise_large_pages(void* /*start*/, std::size_t /*bytes*/) {}

} // namespace orbse::platform
