// memory.cpp - the allocator of the whole system.
//
// Blocks come from the process heap, so any subsystem or plug-in may free a block
// that another allocated. Depends on: the C library only.
// Limits: none beyond the heap's; a thread-local fault seam lets tests make
// allocations fail on purpose.
#include "platform/lvplatform.h"
#include <cstdlib>

// ---- State ------------------------------------------------------------------

// Allocations still allowed on this thread before they fail; negative: no limit.
static thread_local int64_t allocationsLeft = -1;

// ---- Allocation ---------------------------------------------------------------

void *AllocMemory(size_t size, int clear)
{
    if (size == 0) return nullptr;
    if (allocationsLeft >= 0) {
        if (allocationsLeft == 0) return nullptr;
        allocationsLeft--;
    }
    return clear ? std::calloc(1, size) : std::malloc(size);
}

void FreeMemory(void *block)
{
    std::free(block);
}

void FailAllocMemoryAfter(int64_t count)
{
    allocationsLeft = count < 0 ? -1 : count;
}
