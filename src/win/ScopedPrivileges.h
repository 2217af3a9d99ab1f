#pragma once
// Enables one or two privileges of the process token for the owner's lifetime
// and puts back the state they had before on every way out: privileges that
// pass over security checks (restore, take ownership) stay on only around the
// calls that need them. Owners nest: an inner one finds the privilege on and
// leaves it so.
#include <windows.h>

#include "win/ScopedHandle.h"

class ScopedPrivileges {
public:
    explicit ScopedPrivileges(const wchar_t* first, const wchar_t* second = nullptr)
        : previous_(), enabled_(false), adjusted_(false)
    {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.Receive()))
            return;
        TwoPrivileges wanted = {};
        wanted.count = second != nullptr ? 2 : 1;
        wanted.privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, first, &wanted.privileges[0].Luid) ||
            (second != nullptr && !LookupPrivilegeValueW(nullptr, second, &wanted.privileges[1].Luid)))
            return;
        // The previous state holds only the privileges this call changed.
        DWORD previousBytes = 0;
        if (!AdjustTokenPrivileges(token_.Get(), FALSE, AsTokenPrivileges(&wanted), sizeof(previous_),
                                   AsTokenPrivileges(&previous_), &previousBytes))
            return;
        adjusted_ = true;
        enabled_ = GetLastError() == ERROR_SUCCESS;  // not ERROR_NOT_ALL_ASSIGNED
    }
    ~ScopedPrivileges()
    {
        if (adjusted_ && previous_.count != 0)
            AdjustTokenPrivileges(token_.Get(), FALSE, AsTokenPrivileges(&previous_), 0, nullptr, nullptr);
    }
    ScopedPrivileges(const ScopedPrivileges&) = delete;
    ScopedPrivileges& operator=(const ScopedPrivileges&) = delete;

    // Every privilege asked for is enabled now.
    bool Enabled() const { return enabled_; }

private:
    // TOKEN_PRIVILEGES with room for two entries.
    struct TwoPrivileges {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[2];
    };
    static PTOKEN_PRIVILEGES AsTokenPrivileges(TwoPrivileges* privileges)
    {
        return reinterpret_cast<PTOKEN_PRIVILEGES>(privileges);
    }

    ScopedHandle token_;
    TwoPrivileges previous_;
    bool enabled_;
    bool adjusted_;
};
