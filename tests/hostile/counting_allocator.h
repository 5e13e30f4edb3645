// A replacement of the global allocation functions that counts every
// allocation and can make one of them fail, for sweeping a run through every
// point where memory may run out.
#pragma once

#include <cstdint>

namespace orbse::testing {

// Allocations made since the counter was armed.
std::uint64_t allocations_counted();

// Makes allocation number `ordinal` (counting from 1 after this call) fail as
// exhausted memory; 0 disarms.
void fail_allocation(std::uint64_t ordinal);

} // namespace orbse::testing
