#include "driver/PlatformProbe.h"

#include <iostream>

#include "driver/LogRule.h"
#include "logging/Log.h"

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
