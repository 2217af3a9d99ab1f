#pragma once
// Owns a SID built by AllocateAndInitializeSid (FreeSid); frees it on every
// way out.
#include <windows.h>

class ScopedSid {
public:
    ScopedSid() : sid_(nullptr) {}
    ~ScopedSid() { Free(); }
    ScopedSid(const ScopedSid&) = delete;
    ScopedSid& operator=(const ScopedSid&) = delete;

    PSID Get() const { return sid_; }
    PSID* Receive()
    {
        Free();
        return &sid_;
    }
    void Free()
    {
        if (sid_ != nullptr)
            FreeSid(sid_);
        sid_ = nullptr;
    }

private:
    PSID sid_;
};
