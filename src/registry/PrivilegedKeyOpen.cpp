#include "registry/PrivilegedKeyOpen.h"

#include "logging/Log.h"
#include "registry/HeapBytes.h"
#include "win/ScopedPrivileges.h"
#include "win/ScopedRegKey.h"
#include "win/ScopedSid.h"

namespace {

const REGSAM kViewFlags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
const SECURITY_DESCRIPTOR_CONTROL kDaclControl = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;

// The key's owner and DACL as the key stores them, read once.
struct OwnerAndDacl {
    HeapBytes descriptor;
    PSID owner = nullptr;
    PACL dacl = nullptr;  // none: the key has no DACL
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

bool ReadOwnerAndDacl(HKEY key, OwnerAndDacl* security)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    if (RegGetKeySecurity(key, parts, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER)
        return false;
    security->descriptor = AllocateHeapBytes(size);
    PSECURITY_DESCRIPTOR descriptor = security->descriptor.get();
    BOOL ownerDefaulted = FALSE;
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    DWORD revision = 0;
    if (!descriptor || RegGetKeySecurity(key, parts, descriptor, &size) != ERROR_SUCCESS ||
        !GetSecurityDescriptorOwner(descriptor, &security->owner, &ownerDefaulted) || security->owner == nullptr ||
        !GetSecurityDescriptorDacl(descriptor, &daclPresent, &security->dacl, &daclDefaulted) ||
        !GetSecurityDescriptorControl(descriptor, &security->control, &revision))
        return false;
    if (!daclPresent)
        security->dacl = nullptr;
    return true;
}

bool AdministratorsSid(ScopedSid* sid)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    return AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, sid->Receive()) != FALSE;
}

// A DACL whose first entry grants `who` the rights, followed by every entry
// of `original` (none when there is no DACL): first, so that no deny entry
// of the original comes before it.
HeapBytes GrantingDacl(PSID who, ACCESS_MASK rights, PACL original)
{
    ACL_SIZE_INFORMATION originalSize = {};
    if (original != nullptr && !GetAclInformation(original, &originalSize, sizeof(originalSize), AclSizeInformation))
        return HeapBytes();
    const DWORD originalEntries = original != nullptr ? originalSize.AclBytesInUse - sizeof(ACL) : 0;
    const DWORD grantEntry = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(who);
    const DWORD size = (sizeof(ACL) + grantEntry + originalEntries + 3) & ~3u;
    // The original's revision when it is the newer one (object entries).
    const DWORD revision =
        original != nullptr && original->AclRevision > ACL_REVISION ? original->AclRevision : ACL_REVISION;
    HeapBytes dacl = AllocateHeapBytes(size);
    if (!dacl)
        return HeapBytes();
    PACL acl = reinterpret_cast<PACL>(dacl.get());
    if (!InitializeAcl(acl, size, revision) || !AddAccessAllowedAce(acl, revision, rights, who))
        return HeapBytes();
    if (originalEntries != 0 &&
        !AddAce(acl, revision, MAXDWORD, reinterpret_cast<BYTE*>(original) + sizeof(ACL), originalEntries))
        return HeapBytes();
    return dacl;
}

// The DACL part with the protection the key's own DACL has, so that neither
// the widened DACL nor the one put back changes what the key inherits.
SECURITY_INFORMATION DaclParts(SECURITY_DESCRIPTOR_CONTROL control)
{
    return DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION : 0);
}

// From the handle that may set the key's owner, with both privileges enabled.
LONG OpenThroughOwnership(const KeySecurityCalls& calls, HKEY ownerKey, REGSAM access, HKEY* key)
{
    OwnerAndDacl before;
    ScopedSid administrators;
    if (!ReadOwnerAndDacl(ownerKey, &before) || !AdministratorsSid(&administrators))
        return ERROR_ACCESS_DENIED;
    const ACCESS_MASK rights = access & ~(kViewFlags | ACCESS_SYSTEM_SECURITY);
    HeapBytes granting = GrantingDacl(administrators.Get(), rights, before.dacl);
    SECURITY_DESCRIPTOR widened;
    if (!granting || !InitializeSecurityDescriptor(&widened, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&widened, administrators.Get(), FALSE) ||
        !SetSecurityDescriptorDacl(&widened, TRUE, reinterpret_cast<PACL>(granting.get()), FALSE) ||
        !SetSecurityDescriptorControl(&widened, kDaclControl, before.control & kDaclControl))
        return ERROR_NOT_ENOUGH_MEMORY;

    const bool takeOwnership = !EqualSid(before.owner, administrators.Get());
    LONG result = takeOwnership ? calls.setKeySecurity(ownerKey, OWNER_SECURITY_INFORMATION, &widened) : ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)
        return result;
    // The owner may change the DACL: a handle for that, to the same key.
    ScopedRegKey daclKey;
    result = RegOpenKeyExW(ownerKey, L"", 0, READ_CONTROL | WRITE_DAC, daclKey.Receive());
    const bool widen = result == ERROR_SUCCESS;
    if (widen)
        result = calls.setKeySecurity(daclKey.Get(), DaclParts(before.control), &widened);
    const bool widenedDacl = widen && result == ERROR_SUCCESS;
    ScopedRegKey opened;
    if (widenedDacl)
        result = RegOpenKeyExW(ownerKey, L"", 0, access, opened.Receive());

    // The handle keeps what it was granted; the key gets its own DACL and
    // owner back.
    bool putBack = true;
    if (widenedDacl)
        putBack = calls.setKeySecurity(daclKey.Get(), DaclParts(before.control), before.descriptor.get()) ==
                  ERROR_SUCCESS;
    if (takeOwnership)
        putBack = calls.setKeySecurity(ownerKey, OWNER_SECURITY_INFORMATION, before.descriptor.get()) ==
                      ERROR_SUCCESS &&
                  putBack;
    if (!putBack) {
        LogInfo(L"Failed to put back the security of a locked key");
        return ERROR_ACCESS_DENIED;
    }
    if (result != ERROR_SUCCESS)
        return result;
    *key = opened.Release();
    return ERROR_SUCCESS;
}

template <typename Char, typename OpenKey>
LONG OpenLockedKeyWith(const KeySecurityCalls& calls, OpenKey openKey, HKEY root, const Char* subKey, REGSAM access,
                       HKEY* key)
{
    ScopedPrivileges privileges(L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege");
    if (!privileges.Enabled())
        return ERROR_PRIVILEGE_NOT_HELD;
    // By name once, in the view asked for; every later step goes through
    // this handle.
    ScopedRegKey ownerKey;
    const LONG result = openKey(root, subKey, 0, READ_CONTROL | WRITE_OWNER | (access & kViewFlags), ownerKey.Receive());
    if (result != ERROR_SUCCESS)
        return result;
    return OpenThroughOwnership(calls, ownerKey.Get(), access, key);
}

}  // namespace

LONG OpenLockedKey(const KeySecurityCalls& calls, HKEY root, const wchar_t* subKey, REGSAM access, HKEY* key)
{
    return OpenLockedKeyWith(calls, calls.openKeyW, root, subKey, access, key);
}

LONG OpenLockedKey(const KeySecurityCalls& calls, HKEY root, const char* subKey, REGSAM access, HKEY* key)
{
    return OpenLockedKeyWith(calls, calls.openKeyA, root, subKey, access, key);
}
