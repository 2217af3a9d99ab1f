#pragma once
// A malloc'd byte buffer that frees itself: value data and read-back copies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

struct HeapBytesFreer {
    void operator()(uint8_t* bytes) const { free(bytes); }
};
using HeapBytes = std::unique_ptr<uint8_t[], HeapBytesFreer>;

// At least one byte, so that a value of zero bytes still has a valid data
// pointer; empty when the allocation fails.
inline HeapBytes AllocateHeapBytes(size_t size)
{
    return HeapBytes(static_cast<uint8_t*>(malloc(size != 0 ? size : 1)));
}
