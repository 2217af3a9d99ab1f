#pragma once
// Owns a kernel object handle (CloseHandle); closes it on every way out.
// Shared by every subsystem: the other Win32 owners live beside it in src/win/.
#include <windows.h>

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    HANDLE* Receive()
    {
        Close();
        return &handle_;
    }
    void Close()
    {
        if (IsValid())
            CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};
