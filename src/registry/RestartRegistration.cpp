#include "registry/RestartRegistration.h"

#include "logging/Log.h"
#include "win/BoundedString.h"
#include "win/ScopedRegKey.h"

#include <windows.h>

namespace {

bool RegistrationFailed()
{
    LogInfo(L"Failed to register for start after reboot for services restoration");
    return false;
}

}  // namespace

bool RegisterRestartRun()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A result of MAX_PATH is a cut path (left without a terminator on XP).
    if (length == 0 || length >= MAX_PATH)
        return RegistrationFailed();
    return RegisterRestartRunFor(path);
}

bool RegisterRestartRunFor(const wchar_t* programPath)
{
    // Quoted: a path with spaces is otherwise read as a shorter program
    // followed by arguments.
    wchar_t commandLine[MAX_PATH] = L"";
    if (!AppendBounded(commandLine, MAX_PATH, L"\"") || !AppendBounded(commandLine, MAX_PATH, programPath) ||
        !AppendBounded(commandLine, MAX_PATH, L"\" -r"))
        return RegistrationFailed();
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return RegistrationFailed();
    ScopedRegKey key(opened);
    const DWORD bytes = static_cast<DWORD>((lstrlenW(commandLine) + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key.Get(), L"TarnvexEVCleaner", 0, REG_SZ, reinterpret_cast<const BYTE*>(commandLine), bytes) !=
        ERROR_SUCCESS)
        return RegistrationFailed();
    LogInfo(L"Successfully registered for start after reboot for services restoration");
    return true;
}
