#include "cleanup/FilePermissions.h"

#include <windows.h>
#include <aclapi.h>

#include "logging/Log.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"
#include "win/ScopedSid.h"

namespace {

bool ReplaceDaclWithEveryoneFullAccess(const wchar_t* path)
{
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    ScopedSid everyone;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                  everyone.Receive()))
        return false;

    EXPLICIT_ACCESS_W access = {};
    access.grfAccessPermissions = 0xFFFFFFFF;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone.Get());
    ScopedLocalMemory acl;
    if (SetEntriesInAclW(1, &access, nullptr, acl.Receive<PACL>()) != ERROR_SUCCESS)
        return false;

    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, static_cast<PACL>(acl.Get()), FALSE))
        return false;

    // Opened as the entry itself, not what a reparse point leads to: a link
    // planted by the rootkit must not hand its target to Everyone.
    ScopedHandle entry(CreateFileW(path, WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry.IsValid())
        return false;
    return SetKernelObjectSecurity(entry.Get(), DACL_SECURITY_INFORMATION, &descriptor) != FALSE;
}

}  // namespace

bool GrantEveryoneFullAccess(const wchar_t* path)
{
    if (ReplaceDaclWithEveryoneFullAccess(path)) {
        LogInfo(L"Changing file permissions on file %ws... success", path);
        return true;
    }
    LogInfo(L"Changing file permissions on file %ws... failure", path);
    return false;
}
