#pragma once
#include <windows.h>

#include "logging/Object.h"

namespace logging {

// One Windows critical section.
class Mutex : public Object {
public:
    Mutex() { InitializeCriticalSection(&section_); }
    ~Mutex() override { DeleteCriticalSection(&section_); }

    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds one Mutex for its lifetime.
class ScopedLock : public Object {
public:
    explicit ScopedLock(Mutex& mutex) : mutex_(mutex) { mutex_.Enter(); }
    ~ScopedLock() override { mutex_.Leave(); }

private:
    Mutex& mutex_;
};

}  // namespace logging
