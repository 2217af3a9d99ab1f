#include "registry/ComServerRepair.h"

#include "logging/Log.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryRootNames.h"
#include "registry/RegistryValueRead.h"
#include "win/OsVersionCode.h"
#include "win/ScopedRegKey.h"

#include <cwchar>

namespace {

struct ComServerRow {
    HKEY root;
    const wchar_t* subKey;
    const wchar_t* newData;
};

}  // namespace

void LogRegistryLine(const wchar_t* text, HKEY root, const wchar_t* subKey, const wchar_t* value)
{
    const wchar_t* shownValue = value == nullptr ? L"" : (value[0] == L'\0' ? L"\"\"" : value);
    LogInfo(L"%ws %ws\\%ws %ws", text != nullptr ? text : L"", RegistryRootShortName(root), subKey, shownValue);
}

namespace {

// The current default value: its type and bytes for the backup, and as text
// for the log, NUL-ended even when the stored data has no NUL or an odd
// length. A key without a default value reads as missing, with the empty text.
struct DefaultValue {
    bool present = false;
    RegistryValueData value;

    const wchar_t* Text() const { return present ? reinterpret_cast<const wchar_t*>(value.data.get()) : L""; }
};

bool ReadDefaultValue(HKEY key, DefaultValue* current)
{
    const LONG result = ReadRegistryValue(key, nullptr, &current->value, sizeof(wchar_t));
    current->present = result == ERROR_SUCCESS;
    if (!current->present)
        return result == ERROR_FILE_NOT_FOUND;
    reinterpret_cast<wchar_t*>(current->value.data.get())[current->value.size / sizeof(wchar_t)] = L'\0';
    return true;
}

}  // namespace

void ReplaceDefaultValue(const wchar_t* newData, HKEY root, const wchar_t* subKey, const KeySecurityCalls& calls)
{
    // Only what the repair needs: class keys owned by the installer service
    // grant the administrators no more.
    const REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExW(root, subKey, 0, access, &opened);
    // A key that refuses even that (a rootkit's lock) is reached past its
    // DACL, in the same view, and keeps its security.
    if (result == ERROR_ACCESS_DENIED) result = OpenLockedKey(calls, root, subKey, access, &opened);
    if (result != ERROR_SUCCESS) {
        LogRegistryLine(L"Failed to open registry key", root, subKey, nullptr);
        return;
    }
    ScopedRegKey key(opened);

    DefaultValue current;
    if (!ReadDefaultValue(key.Get(), &current)) {
        LogRegistryLine(L"Failed to read registry key", root, subKey, nullptr);
        return;
    }
    if (current.present)
        BackUpValue(root, subKey, nullptr, current.value.type, current.value.data.get(), current.value.size);
    else
        BackUpMissingValue(root, subKey, nullptr);

    const DWORD newBytes = static_cast<DWORD>((wcslen(newData) + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key.Get(), nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(newData), newBytes) !=
        ERROR_SUCCESS) {
        LogRegistryLine(L"Failed to write new registry value", root, subKey, nullptr);
        return;
    }
    LogRegistryLine(L"Current registry value ", root, subKey, current.Text());
    LogRegistryLine(L"New registry value ", root, subKey, newData);
}

namespace {

const size_t kComServerRowCount = 8;

// The eight rows in repair order, handed to `visit` one by one.
template <typename Visit>
void ForEachComServerRow(uint32_t versionCode, Visit visit)
{
    const wchar_t* fourthClassServer =
        IsPostVistaFamily(versionCode) ? L"%SystemRoot%\\system32\\shell32.dll" : L"%SystemRoot%\\system32\\shdocvw.dll";
    const ComServerRow rows[kComServerRowCount] = {
        {HKEY_CLASSES_ROOT, L"CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32",
         L"%systemroot%\\system32\\wbem\\fastprox.dll"},
        {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32",
         L"%systemroot%\\system32\\wbem\\fastprox.dll"},
        {HKEY_CLASSES_ROOT, L"CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32",
         L"%systemroot%\\system32\\shell32.dll"},
        {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32",
         L"%systemroot%\\system32\\shell32.dll"},
        {HKEY_CLASSES_ROOT, L"CLSID\\{F3130CDB-AA52-4C3A-AB32-85FFC23AF9C1}\\InprocServer32",
         L"%systemroot%\\system32\\wbem\\wbemess.dll"},
        {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{f3130cdb-aa52-4c3a-ab32-85ffc23af9c1}\\InprocServer32",
         L"%systemroot%\\system32\\wbem\\wbemess.dll"},
        {HKEY_CLASSES_ROOT, L"CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32", fourthClassServer},
        {HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32",
         fourthClassServer},
    };
    for (const ComServerRow& row : rows) visit(row);
}

// Present and different from what the repair writes; a missing key or value
// is no hijack.
bool RowIsHijacked(const ComServerRow& row)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(row.root, row.subKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return false;
    ScopedRegKey key(opened);
    DefaultValue current;
    if (!ReadDefaultValue(key.Get(), &current) || !current.present)
        return false;
    return wcscmp(current.Text(), row.newData) != 0;
}

}  // namespace

void RepairComServerPaths(uint32_t versionCode)
{
    ForEachComServerRow(versionCode,
                        [](const ComServerRow& row) { ReplaceDefaultValue(row.newData, row.root, row.subKey); });
}

bool ComServerPathsHijacked(uint32_t versionCode)
{
    bool hijacked = false;
    ForEachComServerRow(versionCode,
                        [&hijacked](const ComServerRow& row) { hijacked = hijacked || RowIsHijacked(row); });
    return hijacked;
}
