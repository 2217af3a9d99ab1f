// Turns a test prefix's registry into that of an infected machine, and checks
// afterwards that the known-good table holds again.
//
//   MachineFixture infect <family> <module>  services of the family as Windows
//       installs them, then damaged as the rootkit does it; the eight COM
//       server defaults pointed at <module>
//   MachineFixture verify <family>           every key, value and key security
//       of the family's records equal to the table; prints each difference
//   MachineFixture com                       prints the eight COM defaults
//   MachineFixture security <family>         prints "<key path>\t<SDDL>" (owner,
//       group, DACL) of every existing key of the family's records
//   MachineFixture lock-runonce              the user's RunOnce key made
//       read-only for everyone (it lasts as long as the Wine session)
//   MachineFixture file-security <path>      prints the owner and DACL of a
//       file or directory as SDDL
//   MachineFixture logon                     what Windows does with the
//       user's RunOnce values at logon: each value is deleted, then its
//       command line started; exits with the last program's exit code
#include <windows.h>

#include <sddl.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "registry/KnownGoodRecord.h"
#include "registry/ValueLine.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"
#include "win/ScopedRegKey.h"

namespace {

const REGSAM kView = KEY_WOW64_64KEY;
const char kServicesKey[] = "System\\CurrentControlset\\Services\\";
// Owner, group and DACL; the SACL cannot be read without SeSecurityPrivilege.
const SECURITY_INFORMATION kCompared =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

struct ComRow {
    HKEY root;
    const wchar_t* subKey;
};

// The registrations the rootkit redirects, in both views of each class.
const ComRow kComRows[] = {
    {HKEY_CLASSES_ROOT, L"CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32"},
    {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32"},
    {HKEY_CLASSES_ROOT, L"CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32"},
    {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32"},
    {HKEY_CLASSES_ROOT, L"CLSID\\{F3130CDB-AA52-4C3A-AB32-85FFC23AF9C1}\\InprocServer32"},
    {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{f3130cdb-aa52-4c3a-ab32-85ffc23af9c1}\\InprocServer32"},
    {HKEY_CLASSES_ROOT, L"CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32"},
    {HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32"},
};

// "BITS\Parameters" for "System\CurrentControlset\Services\BITS\Parameters".
std::string BelowServices(const char* keyPath)
{
    const size_t prefix = strlen(kServicesKey);
    return _strnicmp(keyPath, kServicesKey, prefix) == 0 ? std::string(keyPath + prefix) : std::string(keyPath);
}

std::vector<const KnownGoodRecord*> FamilyRecords(uint32_t family)
{
    std::vector<const KnownGoodRecord*> records;
    const KnownGoodTable table = BuiltInKnownGoodTable();
    for (size_t i = 0; i < table.count; ++i)
        if (table.records[i].osFamily == family)
            records.push_back(&table.records[i]);
    return records;
}

bool SetSecurity(HKEY key, const char* sddl, SECURITY_INFORMATION what)
{
    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                              descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        return false;
    return RegSetKeySecurity(key, what, descriptor.Get()) == ERROR_SUCCESS;
}

bool WriteRecord(const KnownGoodRecord& record)
{
    ScopedRegKey key;
    if (RegCreateKeyExA(record.root, record.keyPath, 0, nullptr, 0, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY | kView,
                        nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
        printf("cannot create %s\n", record.keyPath);
        return false;
    }
    ValueBlockCursor lines(record.valueLines);
    while (const wchar_t* line = lines.Next()) {
        ParsedValue value;
        if (!ParseValueLine(line, value) ||
            RegSetValueExW(key.Get(), value.name, 0, value.type, value.data.get(), value.size) != ERROR_SUCCESS) {
            printf("cannot write a value of %s\n", record.keyPath);
            return false;
        }
    }
    return SetSecurity(key.Get(), record.sddl,
                       OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                           SACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION);
}

bool SetString(HKEY key, const wchar_t* name, DWORD type, const wchar_t* data)
{
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data),
                          static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// What the rootkit does to a service: disabled, start-up rewired, recovery
// and dependencies gone, the key opened to everybody.
bool DamageService(const KnownGoodRecord& record, const std::wstring& module)
{
    ScopedRegKey key;
    if (RegOpenKeyExA(record.root, record.keyPath, 0, KEY_ALL_ACCESS | kView, key.Receive()) != ERROR_SUCCESS)
        return false;
    const DWORD disabled = SERVICE_DISABLED;
    RegSetValueExW(key.Get(), L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&disabled), sizeof(disabled));
    SetString(key.Get(), L"ImagePath", REG_EXPAND_SZ, (module + L" -k netsvcs").c_str());
    RegDeleteValueW(key.Get(), L"FailureActions");
    RegDeleteValueW(key.Get(), L"DependOnService");
    RegDeleteValueW(key.Get(), L"Description");
    return SetSecurity(key.Get(), "D:(A;;KA;;;WD)", DACL_SECURITY_INFORMATION);
}

bool DamageParameters(const KnownGoodRecord& record, const std::wstring& module)
{
    ScopedRegKey key;
    if (RegOpenKeyExA(record.root, record.keyPath, 0, KEY_ALL_ACCESS | kView, key.Receive()) != ERROR_SUCCESS)
        return false;
    return SetString(key.Get(), L"ServiceDll", REG_EXPAND_SZ, module.c_str());
}

// Setting a key's owner and SACL as Windows Setup does needs these.
bool EnableSetupPrivileges()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive()))
        return false;
    for (const wchar_t* name : {L"SeRestorePrivilege", L"SeTakeOwnershipPrivilege", L"SeSecurityPrivilege"}) {
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr))
            return false;
    }
    return true;
}

int Infect(uint32_t family, const std::wstring& module)
{
    if (!EnableSetupPrivileges()) {
        printf("cannot enable the set-up privileges\n");
        return 1;
    }
    const std::vector<const KnownGoodRecord*> records = FamilyRecords(family);
    for (const KnownGoodRecord* record : records)
        if (!WriteRecord(*record))
            return 1;

    int damaged = 0;
    for (const KnownGoodRecord* record : records) {
        const std::string below = BelowServices(record->keyPath);
        const size_t slash = below.find('\\');
        if (slash == std::string::npos)
            damaged += DamageService(*record, module);
        else if (below.substr(slash) == "\\Parameters")
            damaged += DamageParameters(*record, module);
    }
    // Whole subkeys deleted: the services' own security settings.
    for (const KnownGoodRecord* record : records) {
        const std::string below = BelowServices(record->keyPath);
        if (below.size() > 9 && below.compare(below.size() - 9, 9, "\\Security") == 0 &&
            SHDeleteKeyA(record->root, record->keyPath) == ERROR_SUCCESS)
            ++damaged;
    }

    for (const ComRow& row : kComRows) {
        ScopedRegKey key;
        if (RegCreateKeyExW(row.root, row.subKey, 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, key.Receive(),
                            nullptr) != ERROR_SUCCESS ||
            !SetString(key.Get(), nullptr, REG_SZ, module.c_str()))
            return 1;
    }
    printf("%u records written, %d keys damaged\n", static_cast<unsigned>(records.size()), damaged);
    return 0;
}

// The compared parts of a descriptor as SDDL text.
std::string SddlOf(PSECURITY_DESCRIPTOR descriptor)
{
    ScopedLocalMemory text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, kCompared,
                                                              text.Receive<char*>(), nullptr))
        return "(unconvertible)";
    return static_cast<const char*>(text.Get());
}

std::string SecurityOf(HKEY key)
{
    DWORD size = 0;
    RegGetKeySecurity(key, kCompared, nullptr, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    if (RegGetKeySecurity(key, kCompared, descriptor.data(), &size) != ERROR_SUCCESS)
        return "(unreadable)";
    return SddlOf(descriptor.data());
}

// The table's string in the form Windows writes it back.
std::string NormalisedSecurity(const char* sddl)
{
    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                              descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        return "(invalid)";
    return SddlOf(descriptor.Get());
}

int Verify(uint32_t family)
{
    int differences = 0;
    size_t values = 0;
    const std::vector<const KnownGoodRecord*> records = FamilyRecords(family);
    for (const KnownGoodRecord* record : records) {
        ScopedRegKey key;
        if (RegOpenKeyExA(record->root, record->keyPath, 0, KEY_READ | READ_CONTROL | kView, key.Receive()) !=
            ERROR_SUCCESS) {
            printf("missing key %s\n", record->keyPath);
            ++differences;
            continue;
        }
        const std::string security = SecurityOf(key.Get());
        if (security != NormalisedSecurity(record->sddl)) {
            printf("security of %s: %s\n", record->keyPath, security.c_str());
            ++differences;
        }
        ValueBlockCursor lines(record->valueLines);
        while (const wchar_t* line = lines.Next()) {
            ParsedValue expected;
            if (!ParseValueLine(line, expected)) {
                printf("line of %s not parsed: %ls\n", record->keyPath, line);
                ++differences;
                continue;
            }
            ++values;
            DWORD type = 0, size = 0;
            LONG status = RegQueryValueExW(key.Get(), expected.name, nullptr, &type, nullptr, &size);
            std::vector<BYTE> data(size ? size : 1);
            if (status == ERROR_SUCCESS)
                status = RegQueryValueExW(key.Get(), expected.name, nullptr, &type, data.data(), &size);
            if (status != ERROR_SUCCESS || type != expected.type || size != expected.size ||
                memcmp(data.data(), expected.data.get(), size) != 0) {
                printf("value %s\\%ls differs\n", record->keyPath, expected.name);
                ++differences;
            }
        }
    }
    printf("%u records, %u values, %d differences\n", static_cast<unsigned>(records.size()),
           static_cast<unsigned>(values), differences);
    return differences == 0 ? 0 : 1;
}

int PrintComDefaults()
{
    for (const ComRow& row : kComRows) {
        wchar_t data[1024] = L"(missing)";
        DWORD size = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        ScopedRegKey key;
        if (RegOpenKeyExW(row.root, row.subKey, 0, KEY_READ | kView, key.Receive()) == ERROR_SUCCESS &&
            RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
                ERROR_SUCCESS)
            data[size / sizeof(wchar_t)] = L'\0';
        printf("%ls\t%lu\t%ls\n", row.subKey, static_cast<unsigned long>(type), data);
    }
    return 0;
}

int RunOnceAtLogon()
{
    const wchar_t runOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    std::vector<std::wstring> commands;
    {
        ScopedRegKey key;
        // Read as the 64-bit logon reads it on 64-bit Windows.
        if (RegOpenKeyExW(HKEY_CURRENT_USER, runOnce, 0, KEY_ALL_ACCESS | kView, key.Receive()) != ERROR_SUCCESS)
            return 1;
        std::vector<std::wstring> names;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD length = 256;
            if (RegEnumValueW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(name);
        }
        for (const std::wstring& name : names) {
            wchar_t data[2048] = {};
            DWORD size = sizeof(data) - sizeof(wchar_t);
            if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
                ERROR_SUCCESS)
                commands.push_back(data);
            RegDeleteValueW(key.Get(), name.c_str());
        }
    }
    DWORD exitCode = 1;
    for (std::wstring& command : commands) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            printf("cannot start %ls\n", command.c_str());
            return 1;
        }
        ScopedHandle thread(process.hThread), child(process.hProcess);
        WaitForSingleObject(child.Get(), INFINITE);
        GetExitCodeProcess(child.Get(), &exitCode);
    }
    return static_cast<int>(exitCode);
}

int PrintSecurity(uint32_t family)
{
    for (const KnownGoodRecord* record : FamilyRecords(family)) {
        ScopedRegKey key;
        if (RegOpenKeyExA(record->root, record->keyPath, 0, READ_CONTROL | kView, key.Receive()) == ERROR_SUCCESS)
            printf("%s\t%s\n", record->keyPath, SecurityOf(key.Get()).c_str());
    }
    return 0;
}

int LockRunOnce()
{
    ScopedRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, nullptr, 0,
                        READ_CONTROL | WRITE_DAC | kView, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return 1;
    return SetSecurity(key.Get(), "D:P(A;;KR;;;WD)", DACL_SECURITY_INFORMATION) ? 0 : 1;
}

int PrintFileSecurity(const wchar_t* path)
{
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(path, what, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    if (size == 0 || !GetFileSecurityW(path, what, descriptor.data(), size, &size))
        return 1;
    ScopedLocalMemory text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1, what,
                                                              text.Receive<char*>(), nullptr))
        return 1;
    printf("%s\n", static_cast<const char*>(text.Get()));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && wcscmp(argv[1], L"infect") == 0)
        return Infect(static_cast<uint32_t>(_wtoi(argv[2])), argv[3]);
    if (argc == 3 && wcscmp(argv[1], L"verify") == 0)
        return Verify(static_cast<uint32_t>(_wtoi(argv[2])));
    if (argc == 2 && wcscmp(argv[1], L"com") == 0)
        return PrintComDefaults();
    if (argc == 2 && wcscmp(argv[1], L"logon") == 0)
        return RunOnceAtLogon();
    if (argc == 3 && wcscmp(argv[1], L"security") == 0)
        return PrintSecurity(static_cast<uint32_t>(_wtoi(argv[2])));
    if (argc == 2 && wcscmp(argv[1], L"lock-runonce") == 0)
        return LockRunOnce();
    if (argc == 3 && wcscmp(argv[1], L"file-security") == 0)
        return PrintFileSecurity(argv[2]);
    printf("usage: MachineFixture infect <family> <module> | verify <family> | com | logon | security <family> | "
           "lock-runonce | file-security <path>\n");
    return 2;
}
