#include "driver/PlatformProbe.h"

#include <iostream>

#include "driver/LogRule.h"
#include "logging/Log.h"
#include "win/ScopedHandle.h"

namespace {

template <typename Function>
Function LookUpKernel32(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (!kernel32)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

}  // namespace

void QueryOsVersion(OSVERSIONINFOEXW& version)
{
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
}

uint32_t GetOsVersionCode(const OSVERSIONINFOEXW& version)
{
    uint32_t code = (static_cast<uint32_t>(version.dwMajorVersion) << 4) | version.dwMinorVersion;
    if (code != 0x51 && code != 0x52 && code != 0x60 && code != 0x61)
        code = OsVersionUnsupported;
    if (version.wProductType != VER_NT_WORKSTATION)
        code |= OsVersionServerBit;
    return code;
}

bool IsWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    IsWow64ProcessFunction isWow64Process = LookUpKernel32<IsWow64ProcessFunction>("IsWow64Process");
    if (!isWow64Process)
        return false;
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
    if (!process.IsValid())
        return false;
    BOOL wow64 = FALSE;
    return isWow64Process(process.Get(), &wow64) && wow64;
}

Wow64RedirectionApi LookUpWow64RedirectionApi()
{
    Wow64RedirectionApi api;
    api.disable = LookUpKernel32<decltype(api.disable)>("Wow64DisableWow64FsRedirection");
    api.revert = LookUpKernel32<decltype(api.revert)>("Wow64RevertWow64FsRedirection");
    return api;
}

FsRedirectionGuard::FsRedirectionGuard() : wow64_(IsWow64()), savedValue_(nullptr), revert_(nullptr)
{
    if (wow64_)
        Disable(LookUpWow64RedirectionApi());
}

FsRedirectionGuard::FsRedirectionGuard(bool wow64, const Wow64RedirectionApi& api)
    : wow64_(wow64), savedValue_(nullptr), revert_(nullptr)
{
    if (wow64_)
        Disable(api);
}

void FsRedirectionGuard::Disable(const Wow64RedirectionApi& api)
{
    revert_ = api.revert;
    if (api.disable && api.revert)
        api.disable(&savedValue_);
    else
        revert_ = nullptr;  // nothing was switched, so nothing is switched back
}

FsRedirectionGuard::~FsRedirectionGuard()
{
    if (wow64_ && revert_)
        revert_(savedValue_);
}

void ReportOsInformation(const OSVERSIONINFOEXW& version)
{
    std::cout << "OS: " << version.dwMajorVersion << "." << version.dwMinorVersion << "."
              << version.dwBuildNumber << " SP" << version.wServicePackMajor << "\n\n";

    LogInfo(kLogRule);
    LogInfo(L"OS: %d.%d.%d SP%d", static_cast<int>(version.dwMajorVersion),
            static_cast<int>(version.dwMinorVersion), static_cast<int>(version.dwBuildNumber),
            static_cast<int>(version.wServicePackMajor));
    LogInfo(L"Product type: %s", version.wProductType == VER_NT_WORKSTATION ? L"workstation" : L"server");
    LogInfo(L"WoW64: %d", IsWow64() ? 1 : 0);
    LogInfo(kLogRule);
    LogDebug(L"debug mode self-test");
}
