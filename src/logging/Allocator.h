#pragma once
// The logging allocator: every logging object, buffer and set node is
// allocated through it. Both functions are null outside the interval between
// the first start of logging and the final teardown.
#include <cstddef>
#include <cstdlib>

namespace logging {

using AllocateFunction = void* (*)(size_t);
using FreeFunction = void (*)(void*);

void SetAllocator(AllocateFunction allocate, FreeFunction release);
bool AllocatorActive();

// Null when the allocator is not set or the allocation fails.
void* Allocate(size_t bytes);
// Does nothing for null or when the allocator is not set.
void Free(void* block);

// Element allocator of the standard containers of the logging subsystem.
// A container cannot continue without its node, so a failed allocation ends
// the process like a failed text allocation does.
template <class T>
class Allocator {
public:
    using value_type = T;

    Allocator() = default;
    template <class U>
    Allocator(const Allocator<U>&) {}

    T* allocate(size_t count)
    {
        void* block = count <= static_cast<size_t>(-1) / sizeof(T) ? Allocate(count * sizeof(T)) : nullptr;
        if (!block)
            abort();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, size_t) { Free(block); }

    template <class U>
    bool operator==(const Allocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const Allocator<U>&) const { return false; }
};

}  // namespace logging
