#include "registry/RestartRegistration.h"

#include "logging/Log.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryValueRead.h"
#include "win/BoundedString.h"
#include "win/LogDirectory.h"
#include "win/MachineChange.h"
#include "win/ScopedRegKey.h"

#include <windows.h>

namespace {

bool RegistrationFailed()
{
    LogInfo(L"Failed to register for start after reboot for services restoration");
    return false;
}

const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kValueName[] = L"TarnvexEVCleaner";

// What the value holds before it is set goes into the run's backup: the
// value left by an earlier run (or by someone else), or that there was none,
// so that taking the run back also takes back the registration. A value that
// cannot be read is not replaced.
bool BackUpEarlierRegistration(HKEY key)
{
    RegistryValueData earlier;
    const LONG result = ReadRegistryValue(key, kValueName, &earlier);
    if (result == ERROR_FILE_NOT_FOUND)
        BackUpMissingValue(key, HKEY_CURRENT_USER, kRunOnceKey, kValueName);
    else if (result == ERROR_SUCCESS)
        BackUpValue(key, HKEY_CURRENT_USER, kRunOnceKey, kValueName, earlier.type, earlier.data.get(), earlier.size);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool RegisterRestartRun()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A result of MAX_PATH is a cut path (left without a terminator on XP).
    if (length == 0 || length >= MAX_PATH)
        return RegistrationFailed();
    return RegisterRestartRunFor(path, GivenLogDirectory());
}

namespace {

// " -log "<directory>"": a backslash before the closing quote is doubled, or
// the runtime would read it as a quote inside the argument.
bool AppendLogDirectory(wchar_t (&commandLine)[MAX_PATH], const wchar_t* directory)
{
    const size_t length = TextLength(directory);
    const bool endsInBackslash = length > 0 && directory[length - 1] == L'\\';
    return AppendBounded(commandLine, MAX_PATH, L" -log \"") && AppendBounded(commandLine, MAX_PATH, directory) &&
           (!endsInBackslash || AppendBounded(commandLine, MAX_PATH, L"\\")) &&
           AppendBounded(commandLine, MAX_PATH, L"\"");
}

}  // namespace

bool RegisterRestartRunFor(const wchar_t* programPath, const wchar_t* logDirectory)
{
    // Quoted: a path with spaces is otherwise read as a shorter program
    // followed by arguments.
    wchar_t commandLine[MAX_PATH] = L"";
    if (!AppendBounded(commandLine, MAX_PATH, L"\"") || !AppendBounded(commandLine, MAX_PATH, programPath) ||
        !AppendBounded(commandLine, MAX_PATH, L"\" -r") ||
        (logDirectory != nullptr && !AppendLogDirectory(commandLine, logDirectory)))
        return RegistrationFailed();
    HKEY opened = nullptr;
    BackUpKeyToBeCreated(HKEY_CURRENT_USER, kRunOnceKey);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | KEY_QUERY_VALUE,
                        nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return RegistrationFailed();
    ScopedRegKey key(opened);
    if (!BackUpEarlierRegistration(key.Get()))
        return RegistrationFailed();
    const DWORD bytes = static_cast<DWORD>((lstrlenW(commandLine) + 1) * sizeof(wchar_t));
    if (!WithholdChange(Change::SetValue, ChangeTarget::Key(L"HKCU", kRunOnceKey, kValueName), nullptr, commandLine) &&
        RegSetValueExW(key.Get(), kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(commandLine), bytes) !=
            ERROR_SUCCESS)
        return RegistrationFailed();
    LogInfo(L"Successfully registered for start after reboot for services restoration");
    return true;
}
