#pragma once
// Owns an opened registry key (RegCloseKey); closes it on every way out.
// Never holds a predefined root such as HKEY_LOCAL_MACHINE.
#include <windows.h>

class ScopedRegKey {
public:
    explicit ScopedRegKey(HKEY key = nullptr) : key_(key) {}
    ~ScopedRegKey() { Close(); }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;
    ScopedRegKey(ScopedRegKey&& other) noexcept : key_(other.Release()) {}
    ScopedRegKey& operator=(ScopedRegKey&& other) noexcept
    {
        if (this != &other) {
            Close();
            key_ = other.Release();
        }
        return *this;
    }

    bool IsValid() const { return key_ != nullptr; }
    HKEY Get() const { return key_; }
    HKEY* Receive()
    {
        Close();
        return &key_;
    }
    HKEY Release()
    {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void Close()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_;
};
