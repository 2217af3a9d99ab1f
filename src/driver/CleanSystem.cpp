#include "driver/CleanSystem.h"

#include <cstdio>
#include <cwchar>

#include "cleanup/MalwareFiles.h"
#include "cleanup/ServicesExeCheck.h"
#include "cleanup/ServicesExeRestore.h"
#include "driver/CommandLine.h"
#include "driver/PlatformProbe.h"
#include "logging/Log.h"
#include "registry/ComServerRepair.h"
#include "registry/ServicesRestore.h"

bool IsRestorationMode(int argc, wchar_t** argv)
{
    return ParseCommandLine(argc, argv).mode == RunMode::Restoration;
}

namespace {

void CleanPostVista(uint32_t osVersionCode)
{
    RepairComServerPaths(osVersionCode);
    switch (CheckServicesExe()) {
    case ServicesExeVerdict::Infected:
        LogInfo(L"services.exe appears to be infected");
        if (!RestoreServicesExe()) {
            LogInfo(L"Failed to restore services.exe");
            return;
        }
        LogInfo(L"Restored services.exe successfully");
        break;
    case ServicesExeVerdict::Unchecked:
        // Nothing is replaced without evidence, and the removal still runs.
        LogInfo(L"Failed to check services.exe");
        break;
    case ServicesExeVerdict::Clean:
        LogInfo(L"services.exe appears to be clean");
        break;
    }
    RemoveMalwareFiles();
}

// The service host image is neither checked nor replaced before Vista.
void CleanPreVista(uint32_t osVersionCode)
{
    RepairComServerPaths(osVersionCode);
    RemoveMalwareFiles();
}

}  // namespace

int CleanSystem(int argc, wchar_t** argv, const OSVERSIONINFOEXW& version, bool* restorationMode)
{
    // Redirection is switched off only around the calls that name the native
    // system directory (the service host image); see win/Wow64.h.
    const bool wow64 = IsWow64();
    *restorationMode = IsRestorationMode(argc, argv);

    const uint32_t osVersionCode = GetOsVersionCode(version);
    if (osVersionCode == OsVersionUnsupported) {
        printf("Not supported OS. Cleaner supports Windows XP, Vista, 7, Windows server 2003 R2 and Windows "
               "server 2008 R2.\n");
        return CleanSystemUnsupported;
    }

    const bool postVista = IsPostVistaFamily(osVersionCode);
    if (postVista)
        LogInfo(wow64 ? L"Detected post-Vista 64 bit windows system" : L"Detected post-Vista 32 bit windows system");
    else
        LogInfo(wow64 ? L"Detected pre-Vista 64 bit windows system" : L"Detected pre-Vista 32 bit windows system");

    if (*restorationMode)
        RestoreServices(osVersionCode);
    else if (postVista)
        CleanPostVista(osVersionCode);
    else
        CleanPreVista(osVersionCode);
    LogInfo(L"Cleaning finished");
    return CleanSystemDone;
}
