#pragma once
// Owns a directory search opened by FindFirstFile (FindClose); closes it on
// every way out. Search handles are not kernel handles: CloseHandle is wrong
// for them, hence an owner of their own.
#include <windows.h>

class ScopedFindHandle {
public:
    explicit ScopedFindHandle(HANDLE search = INVALID_HANDLE_VALUE) : search_(search) {}
    ~ScopedFindHandle() { Close(); }
    ScopedFindHandle(const ScopedFindHandle&) = delete;
    ScopedFindHandle& operator=(const ScopedFindHandle&) = delete;

    bool IsValid() const { return search_ != nullptr && search_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return search_; }
    void Close()
    {
        if (IsValid())
            FindClose(search_);
        search_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE search_;
};
