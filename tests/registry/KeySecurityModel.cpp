#include "KeySecurityModel.h"

#include "RegistryTestKeys.h"

#include <gtest/gtest.h>
#include <sddl.h>

namespace {

struct PreparedKey {
    HKEY root;
    std::wstring path;
    HKEY handle;
};

struct Model {
    bool restorePrivilegeHeld = true;
    std::vector<std::string> refusedOwners;
    std::vector<PreparedKey> prepared;
};

Model& State()
{
    static Model model;
    return model;
}

std::string SidString(PSID sid)
{
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "?";
    std::string result(text);
    LocalFree(text);
    return result;
}

LONG WINAPI ModelSetKeySecurity(HKEY key, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR descriptor)
{
    if ((parts & OWNER_SECURITY_INFORMATION) != 0) {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) return ERROR_INVALID_OWNER;
        const bool restore = State().restorePrivilegeHeld && TokenPrivilegeEnabled(L"SeRestorePrivilege");
        if (!restore && !TokenMayOwn(owner)) {
            State().refusedOwners.push_back(SidString(owner));
            return ERROR_INVALID_OWNER;
        }
    }
    return RegSetKeySecurity(key, parts, descriptor);
}

HKEY PreparedHandle(HKEY root, const std::wstring& path)
{
    for (const PreparedKey& key : State().prepared) {
        if (key.root == root && _wcsicmp(key.path.c_str(), path.c_str()) == 0) return key.handle;
    }
    return nullptr;
}

LONG ModelOpenKey(HKEY root, const std::wstring& path, DWORD options, REGSAM access, PHKEY key)
{
    if ((access & WRITE_OWNER) == 0) return RegOpenKeyExW(root, path.c_str(), options, access, key);
    if (!TokenPrivilegeEnabled(L"SeTakeOwnershipPrivilege")) return ERROR_ACCESS_DENIED;
    HKEY rest = nullptr;
    const LONG checked = RegOpenKeyExW(root, path.c_str(), options, access & ~WRITE_OWNER, &rest);
    if (checked != ERROR_SUCCESS) return checked;
    RegCloseKey(rest);
    const HKEY prepared = PreparedHandle(root, path);
    if (prepared == nullptr) return RegOpenKeyExW(root, path.c_str(), options, access, key);
    HANDLE duplicate = nullptr;
    const REGSAM rights = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (!DuplicateHandle(GetCurrentProcess(), prepared, GetCurrentProcess(), &duplicate, rights, FALSE, 0))
        return static_cast<LONG>(GetLastError());
    *key = static_cast<HKEY>(duplicate);
    return ERROR_SUCCESS;
}

LONG WINAPI ModelOpenKeyW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY key)
{
    return ModelOpenKey(root, subKey != nullptr ? subKey : L"", options, access, key);
}

LONG WINAPI ModelOpenKeyA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY key)
{
    const std::string narrow = subKey != nullptr ? subKey : "";
    return ModelOpenKey(root, std::wstring(narrow.begin(), narrow.end()), options, access, key);
}

}  // namespace

KeySecurityCalls ModelledKeySecurityCalls()
{
    return KeySecurityCalls{ModelOpenKeyW, ModelOpenKeyA, ModelSetKeySecurity};
}

void ModelRestorePrivilegeHeld(bool held)
{
    State().restorePrivilegeHeld = held;
}

std::vector<std::string> ModelRefusedOwners()
{
    return State().refusedOwners;
}

void ModelKeyBeforeLock(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key));
    State().prepared.push_back({root, path, key});
}

bool RoutePrivilegesOff()
{
    return !TokenPrivilegeEnabled(L"SeTakeOwnershipPrivilege") && !TokenPrivilegeEnabled(L"SeRestorePrivilege");
}

void ResetKeySecurityModel()
{
    for (const PreparedKey& key : State().prepared) RegCloseKey(key.handle);
    State() = Model();
}
