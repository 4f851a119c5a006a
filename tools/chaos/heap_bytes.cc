#include "tools/chaos/heap_bytes.h"

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PW_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PW_SANITIZER_ALLOCATOR 1
#endif
#endif

#ifdef PW_SANITIZER_ALLOCATOR
// The sanitizers' allocator interface (g++ 12 ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace chaos {

int64_t HeapBytesInUse() {
#ifdef PW_SANITIZER_ALLOCATOR
  return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
  // Chunks in the arenas, and the large blocks malloc maps on their own.
  const struct mallinfo2 info = mallinfo2();
  return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

}  // namespace chaos
