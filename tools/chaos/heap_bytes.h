// How many bytes the process has allocated and not freed, as its allocator
// counts them: the sanitizers' allocator under AddressSanitizer or
// ThreadSanitizer, glibc's malloc otherwise. A single-threaded run of one
// binary allocates the same way every time, so the figure is deterministic.
#pragma once

#include <cstdint>

namespace chaos {

int64_t HeapBytesInUse();

}  // namespace chaos
