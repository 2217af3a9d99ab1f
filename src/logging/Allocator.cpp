#include "logging/Allocator.h"

namespace logging {

namespace {
AllocateFunction allocateFunction = nullptr;
FreeFunction freeFunction = nullptr;
}  // namespace

void SetAllocator(AllocateFunction allocate, FreeFunction release)
{
    allocateFunction = allocate;
    freeFunction = release;
}

bool AllocatorActive()
{
    return allocateFunction != nullptr && freeFunction != nullptr;
}

void* Allocate(size_t bytes)
{
    return allocateFunction ? allocateFunction(bytes) : nullptr;
}

void Free(void* block)
{
    if (block && freeFunction)
        freeFunction(block);
}

}  // namespace logging
