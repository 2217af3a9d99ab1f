#include "registry/RestorationState.h"

#include "registry/RegistryBackup.h"
#include "registry/RegistryValueRead.h"
#include "win/ScopedRegKey.h"

#include <cwchar>

const wchar_t kRestorationStateKey[] = L"Software\\VORN\\Tarnvex.EV Cleaner";
const wchar_t kRestorationStateValue[] = L"Restoration";

namespace {

bool StartsWith(const wchar_t* text, const wchar_t* start)
{
    return wcsncmp(text, start, wcslen(start)) == 0;
}

bool WriteState(const wchar_t* text)
{
    HKEY opened = nullptr;
    BackUpKeyToBeCreated(HKEY_LOCAL_MACHINE, kRestorationStateKey);
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRestorationStateKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS)
        return false;
    ScopedRegKey key(opened);
    RegistryValueData earlier;
    const LONG read = ReadRegistryValue(key.Get(), kRestorationStateValue, &earlier);
    if (read == ERROR_SUCCESS)
        BackUpValue(key.Get(), HKEY_LOCAL_MACHINE, kRestorationStateKey, kRestorationStateValue, earlier.type,
                    earlier.data.get(), earlier.size);
    else if (read == ERROR_FILE_NOT_FOUND)
        BackUpMissingValue(key.Get(), HKEY_LOCAL_MACHINE, kRestorationStateKey, kRestorationStateValue);
    else
        return false;  // never replace what could not be backed up
    const DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.Get(), kRestorationStateValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

}  // namespace

RestorationState ReadRestorationState()
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRestorationStateKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) !=
        ERROR_SUCCESS)
        return RestorationState::None;
    ScopedRegKey key(opened);
    RegistryValueData value;
    if (ReadRegistryValue(key.Get(), kRestorationStateValue, &value, sizeof(wchar_t)) != ERROR_SUCCESS ||
        value.type != REG_SZ)
        return RestorationState::None;
    wchar_t* text = reinterpret_cast<wchar_t*>(value.data.get());
    text[value.size / sizeof(wchar_t)] = L'\0';
    if (wcscmp(text, L"pending") == 0)
        return RestorationState::Pending;
    if (StartsWith(text, L"done "))
        return RestorationState::Done;
    if (StartsWith(text, L"failed "))
        return RestorationState::Failed;
    return RestorationState::None;
}

bool RecordRestorationPending()
{
    return WriteState(L"pending");
}

bool RecordRestorationOutcome(bool failed, int exitCode)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t text[64];
    wsprintfW(text, L"%s %04d.%02d.%02d %02d:%02d:%02d exit %d", failed ? L"failed" : L"done", now.wYear, now.wMonth,
              now.wDay, now.wHour, now.wMinute, now.wSecond, exitCode);
    return WriteState(text);
}
