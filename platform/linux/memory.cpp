// Memory: the process heap, shared by every subsystem and plug-in.
#include "platform/lvplatform.h"
#include <cstdlib>

void *AllocMemory(size_t size, int clear)
{
    if (size == 0) return nullptr;
    return clear ? std::calloc(1, size) : std::malloc(size);
}

void FreeMemory(void *block)
{
    std::free(block);
}
