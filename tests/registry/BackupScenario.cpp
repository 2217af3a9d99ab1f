#include "BackupScenario.h"

#include "registry/ComServerRepair.h"
#include "registry/RecordRestore.h"
#include "registry/RestartRegistration.h"
#include "win/ScopedHandle.h"
#include "win/ScopedRegKey.h"
#include "win/Wow64.h"

#include <cwctype>
#include <vector>

namespace {

const wchar_t kClasses[] = L"Software\\Classes\\VornBackupTest";
const wchar_t kClassesBelowRoot[] = L"VornBackupTest";
const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kTableSecurity[] = "O:BAG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// Below System, as the services are: Wine's reg.exe removes keys below
// Software in the 32-bit view whatever view it is told.
std::wstring Scratch()
{
    return L"System\\VornRegistryTest\\Stops";
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::vector<std::wstring> ChildKeys(HKEY key)
{
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return children;
        children.push_back(name);
    }
}

void ReadTree(HKEY root, const std::wstring& path, RegistryState* state)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return;
    std::map<std::wstring, StoredValue>& values = (*state)[Lower(path)];
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = 16384;
        if (RegEnumValueW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        values[Lower(name)] = ReadStoredValue(root, path, name[0] != L'\0' ? name : nullptr);
    }
    for (const std::wstring& child : ChildKeys(key.Get()))
        ReadTree(root, path + L"\\" + child, state);
}

void ReadSecurity(HKEY root, const std::wstring& path, SecurityState* state)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return;
    (*state)[Lower(path)] = KeySecurityString(root, path);
    for (const std::wstring& child : ChildKeys(key.Get()))
        ReadSecurity(root, path + L"\\" + child, state);
}

}  // namespace

bool operator==(const StoredValue& a, const StoredValue& b)
{
    return a.exists == b.exists && a.type == b.type && a.bytes == b.bytes;
}

void PrepareScenario()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kClasses);
    StoreValue(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + L"\\Server\\InprocServer32", nullptr, REG_SZ,
               Utf16(L"C:\\windows\\system32\\planted.dll"));
    StoreValue(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + L"\\NoDefault\\InprocServer32", L"ThreadingModel",
               REG_SZ, Utf16(L"Both"));
    const std::wstring scratch = Scratch();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, scratch);
    StoreValue(HKEY_LOCAL_MACHINE, scratch + L"\\Service", L"Start", REG_DWORD, DwordBytes(4));
    StoreValue(HKEY_LOCAL_MACHINE, scratch + L"\\Service", L"ImagePath", REG_EXPAND_SZ,
               Utf16(L"C:\\windows\\system32\\planted.exe -k netsvcs"));
    StoreValue(HKEY_LOCAL_MACHINE, scratch + L"\\Service", L"Kept", REG_SZ, Utf16(L"the machine's own"));
    SetKeySecurityString(HKEY_LOCAL_MACHINE, scratch + L"\\Service", "O:BAG:SYD:(A;;KA;;;WD)");
    ScopedRegKey runOnce;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                        runOnce.Receive(), nullptr) == ERROR_SUCCESS)
        RegDeleteValueW(runOnce.Get(), L"TarnvexEVCleaner");
}

void RunScenario()
{
    const std::string service = Narrow(Scratch() + L"\\Service");
    const std::string created = service + "\\Security";
    const std::string deep = Narrow(Scratch() + L"\\Other\\Deep\\Key");
    const KnownGoodRecord records[] = {
        {0, 0, HKEY_LOCAL_MACHINE, service.c_str(), kTableSecurity,
         L"\"Start\"=dword:00000002\0\"ImagePath\"=hex(2):25,00,00,00\0\"Description\"=\"restored\"\0"
         L"\"Kept\"=\"the table's\"\0"},
        {0, 0, HKEY_LOCAL_MACHINE, created.c_str(), kTableSecurity, L"\"Security\"=hex:01,00,04,80\0"},
        {0, 1, HKEY_LOCAL_MACHINE, service.c_str(), kTableSecurity,
         L"\"Kept\"=\"the table's\"\0\"ObjectName\"=\"LocalSystem\"\0"},
        {0, 0, HKEY_LOCAL_MACHINE, deep.c_str(), kTableSecurity, L"\"X\"=dword:00000001\0"},
    };
    const std::wstring server = std::wstring(kClassesBelowRoot) + L"\\Server\\InprocServer32";
    ReplaceDefaultValue(L"%systemroot%\\system32\\first.dll", HKEY_CLASSES_ROOT, server.c_str());
    ReplaceDefaultValue(L"%systemroot%\\system32\\second.dll", HKEY_LOCAL_MACHINE,
                        (std::wstring(kClasses) + L"\\Server\\InprocServer32").c_str());
    ReplaceDefaultValue(L"%systemroot%\\system32\\third.dll", HKEY_CLASSES_ROOT,
                        (std::wstring(kClassesBelowRoot) + L"\\NoDefault\\InprocServer32").c_str());
    for (const KnownGoodRecord& record : records)
        RestoreRecord(record);
    RegisterRestartRunFor(L"C:\\VORN Tools\\VORNTarnvexEvCleaner.exe");
}

RegistryState ScenarioState()
{
    RegistryState state;
    ReadTree(HKEY_LOCAL_MACHINE, kClasses, &state);
    ReadTree(HKEY_LOCAL_MACHINE, Scratch(), &state);
    state[L"runonce"][L"tarnvexevcleaner"] = ReadStoredValue(HKEY_CURRENT_USER, kRunOnce, L"TarnvexEVCleaner");
    return state;
}

SecurityState ScenarioSecurity()
{
    SecurityState state;
    ReadSecurity(HKEY_LOCAL_MACHINE, kClasses, &state);
    ReadSecurity(HKEY_LOCAL_MACHINE, Scratch(), &state);
    return state;
}

std::string Differences(const RegistryState& expected, const RegistryState& actual)
{
    std::string report;
    for (const auto& key : expected) {
        const auto found = actual.find(key.first);
        if (found == actual.end()) {
            report += "key missing: " + Narrow(key.first) + "\n";
            continue;
        }
        for (const auto& value : key.second) {
            const auto other = found->second.find(value.first);
            if (other == found->second.end() || !(other->second == value.second))
                report += "value differs: " + Narrow(key.first) + " " + Narrow(value.first) + "\n";
        }
        for (const auto& value : found->second)
            if (key.second.find(value.first) == key.second.end())
                report += "value added: " + Narrow(key.first) + " " + Narrow(value.first) + "\n";
    }
    for (const auto& key : actual)
        if (expected.find(key.first) == expected.end())
            report += "key added: " + Narrow(key.first) + "\n";
    return report;
}

SYSTEMTIME RunStart(WORD second)
{
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 10;
    t.wHour = 13;
    t.wMinute = 4;
    t.wSecond = second;
    return t;
}

BackupDirectory::BackupDirectory()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetCurrentDirectoryW(MAX_PATH, saved_);
    static int counter = 0;
    path_ = std::wstring(temp) + L"registry-backup-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    CreateDirectoryW(path_.c_str(), nullptr);
    CreateDirectoryW((path_ + L"\\RA Ravariv").c_str(), nullptr);
    SetCurrentDirectoryW(path_.c_str());
}

BackupDirectory::~BackupDirectory()
{
    SetCurrentDirectoryW(saved_);
}

std::wstring BackupDirectory::File(const std::wstring& name) const
{
    return path_ + L"\\RA Ravariv\\" + name;
}

std::vector<std::wstring> BackupDirectory::Files() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path_ + L"\\RA Ravariv\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (entry.cFileName[0] != L'.')
            names.push_back(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

int ImportScript(const std::wstring& file)
{
    std::wstring command = L"reg.exe import \"" + file + L"\"";
    if (IsWow64())
        command += L" /reg:64";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    ScopedHandle thread(process.hThread), child(process.hProcess);
    WaitForSingleObject(child.Get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.Get(), &code);
    return static_cast<int>(code);
}

std::wstring ScriptText(const std::wstring& file)
{
    ScopedHandle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char block[65536];
    DWORD read = 0;
    while (handle.IsValid() && ReadFile(handle.Get(), block, sizeof block, &read, nullptr) && read != 0)
        bytes.append(block, read);
    if (bytes.size() < 2 || bytes[0] != '\xff' || bytes[1] != '\xfe')
        return std::wstring();
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}
