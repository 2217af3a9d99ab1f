#include "registry/ServicesRestore.h"

#include "logging/Log.h"
#include "registry/RecordRestore.h"
#include "win/ScopedHandle.h"

ServicesFamily ChooseServicesFamily(uint32_t versionCode)
{
    static const struct {
        uint32_t versionCode;
        ServicesFamily family;
    } kFamilies[] = {
        {0x00000060u, {1, L"Processing Windows Vista services restoration"}},
        {0x00000061u, {2, L"Processing Windows 7 services restoration"}},
        {0x80000052u, {3, L"Processing Windows Server 2003 services restoration"}},
        {0x80000060u, {5, L"Processing Windows Server 2008 services restoration"}},
        {0x80000061u, {4, L"Processing Windows Server 2008 R2 services restoration"}},
    };
    for (const auto& entry : kFamilies) {
        if (entry.versionCode == versionCode) return entry.family;
    }
    return {0, L"Processing Windows XP services restoration"};
}

bool EnableRestorePrivileges()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive())) return false;

    // TOKEN_PRIVILEGES with room for two entries: 4 + 2 x 12 bytes.
    struct {
        DWORD PrivilegeCount;
        LUID_AND_ATTRIBUTES Privileges[2];
    } privileges;
    static_assert(sizeof(privileges) == 28, "count and two LUID_AND_ATTRIBUTES");
    privileges.PrivilegeCount = 2;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    privileges.Privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, L"SeSecurityPrivilege", &privileges.Privileges[0].Luid) ||
        !LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privileges.Privileges[1].Luid))
        return false;
    AdjustTokenPrivileges(token.Get(), FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&privileges), sizeof(privileges),
                          nullptr, nullptr);
    return true;
}

void RestoreServicesFromTable(uint32_t versionCode, const KnownGoodTable& table, PrivilegeStep enablePrivileges,
                              const KeySecurityCalls& calls)
{
    const ServicesFamily family = ChooseServicesFamily(versionCode);
    LogInfo(L"%ws", family.logLine);
    if (!enablePrivileges()) LogInfo(L"Failed to acquire needed privileges.");
    for (size_t i = 0; i < table.count; ++i) {
        if (table.records[i].osFamily == family.code) RestoreRecord(table.records[i], calls);
    }
}
