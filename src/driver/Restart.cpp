#include "driver/Restart.h"

#include "logging/Log.h"
#include "win/ScopedHandle.h"

bool SetPrivilege(HANDLE token, bool enable)
{
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &luid)) {
        LogDebug(L"LookupPrivilegeValue error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }

    TOKEN_PRIVILEGES newState;
    newState.PrivilegeCount = 1;
    newState.Privileges[0].Luid = luid;
    newState.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : SE_PRIVILEGE_REMOVED;

    TOKEN_PRIVILEGES previousState;
    DWORD previousLength = 0;
    if (!AdjustTokenPrivileges(token, FALSE, &newState, sizeof(previousState), &previousState, &previousLength)) {
        LogDebug(L"AdjustTokenPrivileges error: %u\n", static_cast<unsigned>(GetLastError()));
        if (!AdjustTokenPrivileges(token, FALSE, &newState, sizeof(newState), nullptr, nullptr)) {
            LogDebug(L"Second AdjustTokenPrivileges call failed: %u\n", static_cast<unsigned>(GetLastError()));
            return false;
        }
    }
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        LogDebug(L"The token does not have the specified privilege.\n");
        return false;
    }
    return true;
}

bool EnableShutdownPrivilege()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive()))
        return false;
    return SetPrivilege(token.Get(), true);
}

namespace {

bool InitiateRestartIn(DWORD seconds)
{
    const DWORD reason =
        SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_SECURITYFIX;
    return InitiateSystemShutdownExW(nullptr, nullptr, seconds, FALSE, TRUE, reason) != 0;
}

}  // namespace

bool InitiateRestart()
{
    return InitiateRestartIn(0);
}

bool InitiateDelayedRestart()
{
    return InitiateRestartIn(kUnattendedRestartDelay);
}
