#pragma once
// WoW64: whether the 32-bit process runs on 64-bit Windows, and switching
// file-system redirection off around the calls that must name the native
// system directory. Redirection stays as Windows set it everywhere else: with
// it off, a DLL loaded on demand (a cryptographic or ACL provider) would be
// taken from the 64-bit system directory and fail to load.
#include <windows.h>

// True for a 32-bit process on 64-bit Windows; false on every failure.
bool IsWow64();

// The WoW64 entry points, looked up at run time: Windows XP 32-bit has none.
struct Wow64RedirectionApi {
    BOOL(WINAPI* disable)(PVOID* oldValue);
    BOOL(WINAPI* revert)(PVOID oldValue);
};
Wow64RedirectionApi LookUpWow64RedirectionApi();

// What a default-constructed guard uses instead of the system's answer and
// entry points while it is set; null gives the system's back. For tests that
// record when redirection is switched.
struct Wow64Redirection {
    bool wow64;
    Wow64RedirectionApi api;
};
void OverrideWow64Redirection(const Wow64Redirection* redirection);

// Switches redirection off for its lifetime (under WoW64 only) and back to
// the saved state when released, on every way out of its scope. Guards nest.
class FsRedirectionGuard {
public:
    FsRedirectionGuard();
    FsRedirectionGuard(bool wow64, const Wow64RedirectionApi& api);
    ~FsRedirectionGuard();
    FsRedirectionGuard(const FsRedirectionGuard&) = delete;
    FsRedirectionGuard& operator=(const FsRedirectionGuard&) = delete;

private:
    void Disable(const Wow64RedirectionApi& api);

    bool wow64_;
    PVOID savedValue_;
    BOOL(WINAPI* revert_)(PVOID oldValue);
};
