#pragma once
// Root of the logging classes. Objects created with new live in the logging
// allocator; new yields null when the allocator is not set or is exhausted.
#include <cstddef>

namespace logging {

class Object {
public:
    Object() = default;
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    static void* operator new(size_t bytes) noexcept;
    static void operator delete(void* block) noexcept;
};

}  // namespace logging
