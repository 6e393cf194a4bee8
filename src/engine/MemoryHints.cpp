#include "engine/MemoryHints.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace varnix {

void RetainFreedMemory() {
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD) && defined(M_ARENA_MAX)
  // Large blocks from the heap instead of separate mappings, never trimmed back, one arena.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace varnix
