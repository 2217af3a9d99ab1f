#include "support/TokenState.h"

#include <vector>

namespace {

std::vector<BYTE> TokenInformation(TOKEN_INFORMATION_CLASS kind)
{
    std::vector<BYTE> buffer(8192);
    HANDLE token = nullptr;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    const bool read = GetTokenInformation(token, kind, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
    CloseHandle(token);
    return read ? buffer : std::vector<BYTE>();
}

}  // namespace

bool TokenPrivilegeEnabled(const wchar_t* name)
{
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, name, &luid)) return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    std::vector<BYTE> buffer(4096);
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
    CloseHandle(token);
    if (!read) return false;
    const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart)
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}

bool SetTokenPrivilege(const wchar_t* name, bool enabled)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    const bool done = LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
                      AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr) &&
                      GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return done;
}

bool TokenMayOwn(PSID owner)
{
    const std::vector<BYTE> user = TokenInformation(TokenUser);
    if (!user.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) return true;
    const std::vector<BYTE> groups = TokenInformation(TokenGroups);
    if (groups.empty()) return false;
    const TOKEN_GROUPS* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    for (DWORD i = 0; i < list->GroupCount; ++i) {
        if ((list->Groups[i].Attributes & SE_GROUP_OWNER) != 0 && EqualSid(owner, list->Groups[i].Sid)) return true;
    }
    return false;
}

