#include "registry/PrivilegedKeyOpen.h"

#include "registry/HeapBytes.h"
#include "win/ScopedPrivileges.h"
#include "win/ScopedRegKey.h"

LONG OpenKeyWithBackupRestore(const BackupRestoreCalls& calls, HKEY root, const wchar_t* subKey, REGSAM access,
                              HKEY* key)
{
    ScopedPrivileges privileges(L"SeBackupPrivilege", L"SeRestorePrivilege");
    if (!privileges.Enabled()) return ERROR_PRIVILEGE_NOT_HELD;
    return calls.createKeyW(root, subKey, 0, nullptr, REG_OPTION_BACKUP_RESTORE, access, nullptr, key, nullptr);
}

LONG CreateKeyWithBackupRestore(const BackupRestoreCalls& calls, HKEY root, const char* keyPath, REGSAM access,
                                HKEY* key, DWORD* disposition)
{
    ScopedPrivileges privileges(L"SeBackupPrivilege", L"SeRestorePrivilege");
    if (!privileges.Enabled()) return ERROR_PRIVILEGE_NOT_HELD;
    return calls.createKeyA(root, keyPath, 0, nullptr, REG_OPTION_BACKUP_RESTORE, access, nullptr, key,
                            disposition);
}

namespace {

// The key's owner and DACL as the key stores them.
HeapBytes ReadOwnerAndDacl(HKEY key)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    if (RegGetKeySecurity(key, parts, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) return HeapBytes();
    HeapBytes descriptor = AllocateHeapBytes(size);
    if (!descriptor || RegGetKeySecurity(key, parts, descriptor.get(), &size) != ERROR_SUCCESS) return HeapBytes();
    return descriptor;
}

// A DACL whose first entry grants `owner` full access, followed by every
// entry of `original` (none when the key has no DACL entries).
HeapBytes OwnerFirstDacl(PSID owner, PACL original)
{
    ACL_SIZE_INFORMATION originalSize = {};
    if (original != nullptr &&
        !GetAclInformation(original, &originalSize, sizeof(originalSize), AclSizeInformation))
        return HeapBytes();
    const DWORD originalEntries = original != nullptr ? originalSize.AclBytesInUse - sizeof(ACL) : 0;
    const DWORD ownerEntry = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(owner);
    const DWORD size = (sizeof(ACL) + ownerEntry + originalEntries + 3) & ~3u;
    // The original's revision when it is the newer one (object entries).
    const DWORD revision = original != nullptr && original->AclRevision > ACL_REVISION ? original->AclRevision
                                                                                         : ACL_REVISION;
    HeapBytes dacl = AllocateHeapBytes(size);
    if (!dacl) return HeapBytes();
    PACL acl = reinterpret_cast<PACL>(dacl.get());
    if (!InitializeAcl(acl, size, revision) || !AddAccessAllowedAce(acl, revision, KEY_ALL_ACCESS, owner))
        return HeapBytes();
    if (originalEntries != 0 &&
        !AddAce(acl, revision, MAXDWORD, reinterpret_cast<BYTE*>(original) + sizeof(ACL), originalEntries))
        return HeapBytes();
    return dacl;
}

}  // namespace

LONG OpenKeyAsOwner(HKEY root, const char* keyPath, REGSAM access, HKEY* key)
{
    const REGSAM view = access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    HKEY opened = nullptr;
    const LONG ownerOpen = RegOpenKeyExA(root, keyPath, 0, READ_CONTROL | WRITE_DAC | view, &opened);
    if (ownerOpen != ERROR_SUCCESS) return ownerOpen;
    ScopedRegKey securityKey(opened);

    HeapBytes before = ReadOwnerAndDacl(securityKey.Get());
    if (!before) return ERROR_ACCESS_DENIED;
    PSECURITY_DESCRIPTOR descriptor = before.get();
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    BOOL daclPresent = FALSE;
    PACL dacl = nullptr;
    BOOL daclDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || owner == nullptr ||
        !GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted))
        return ERROR_ACCESS_DENIED;

    HeapBytes widened = OwnerFirstDacl(owner, daclPresent ? dacl : nullptr);
    SECURITY_DESCRIPTOR temporary;
    if (!widened || !InitializeSecurityDescriptor(&temporary, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&temporary, TRUE, reinterpret_cast<PACL>(widened.get()), FALSE))
        return ERROR_ACCESS_DENIED;
    const LONG widen = RegSetKeySecurity(securityKey.Get(), DACL_SECURITY_INFORMATION, &temporary);
    if (widen != ERROR_SUCCESS) return widen;

    const LONG result = RegOpenKeyExA(root, keyPath, 0, access, key);
    // The handle keeps what it was granted; the key gets its own DACL back.
    RegSetKeySecurity(securityKey.Get(), DACL_SECURITY_INFORMATION, descriptor);
    return result;
}
