#pragma once
// Which Windows the cleaner runs on, and WoW64 file-system redirection.
#include <windows.h>

#include <cstdint>

#include "win/OsVersionCode.h"

// Fills the record with GetVersionExW; a failed query leaves dwMajorVersion 0.
void QueryOsVersion(OSVERSIONINFOEXW& version);

// (major << 4) | minor for 5.1, 5.2, 6.0 and 6.1, with bit 31 for servers and
// domain controllers; OsVersionUnsupported for every other version.
uint32_t GetOsVersionCode(const OSVERSIONINFOEXW& version);

// True for a 32-bit process on 64-bit Windows; false on every failure.
bool IsWow64();

// The WoW64 entry points, looked up at run time: Windows XP 32-bit has none.
struct Wow64RedirectionApi {
    BOOL(WINAPI* disable)(PVOID* oldValue);
    BOOL(WINAPI* revert)(PVOID oldValue);
};
Wow64RedirectionApi LookUpWow64RedirectionApi();

// Switches WoW64 file-system redirection off for its lifetime (under WoW64
// only) and back on when released, on every way out of its scope.
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

// The "OS:" console line and the platform lines of the log.
void ReportOsInformation(const OSVERSIONINFOEXW& version);
