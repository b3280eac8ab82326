#include "app/HeapMemory.h"

#include <malloc.h>

namespace brevik {

void KeepLargeBlocksOutOfTheHeap() {
    // Setting it also fixes it: no raise after a free.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

void ReturnFreedHeap() {
    malloc_trim(0);
}

} // namespace brevik
