#include "logging/Object.h"

#include "logging/Allocator.h"

namespace logging {

void* Object::operator new(size_t bytes) noexcept
{
    return Allocate(bytes);
}

void Object::operator delete(void* block) noexcept
{
    Free(block);
}

}  // namespace logging
