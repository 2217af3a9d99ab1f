#pragma once
// Owns a block that Windows allocated with LocalAlloc for the caller, such as
// a converted security descriptor (LocalFree); frees it on every way out.
#include <windows.h>

class ScopedLocalMemory {
public:
    ScopedLocalMemory() : memory_(nullptr) {}
    ~ScopedLocalMemory() { Free(); }
    ScopedLocalMemory(const ScopedLocalMemory&) = delete;
    ScopedLocalMemory& operator=(const ScopedLocalMemory&) = delete;

    void* Get() const { return memory_; }
    // For out-parameters typed as a pointer to some pointer type
    // (PSECURITY_DESCRIPTOR*, LPWSTR*, ...).
    template <typename T>
    T* Receive()
    {
        Free();
        return reinterpret_cast<T*>(&memory_);
    }
    void Free()
    {
        if (memory_ != nullptr)
            LocalFree(memory_);
        memory_ = nullptr;
    }

private:
    void* memory_;
};
