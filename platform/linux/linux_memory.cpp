#include "platform/memory.h"

#include <malloc.h>

void tuneMemoryForLongRuns()
{
    // glibc raises its threshold for mapping large blocks each time it unmaps one, after which blocks
    // of that size come from the heap and stay there once freed. A fixed threshold keeps them mapped.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

void returnFreedMemory()
{
    // glibc keeps freed heap for reuse, and the tray runs for weeks: a thousand waiting sessions once
    // would otherwise cost their memory for good.
    malloc_trim(0);
}
