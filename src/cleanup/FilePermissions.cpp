#include "cleanup/FilePermissions.h"

#include <windows.h>
#include <aclapi.h>
#include <winternl.h>

#include "logging/Log.h"
#include "win/MachineChange.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"
#include "win/ScopedSid.h"
#include "win/SystemFunction.h"

namespace {

// Opened as the entry itself, not what a reparse point leads to: a link
// planted by the rootkit must not hand its target to Everyone.
HANDLE OpenEntry(const wchar_t* path, DWORD access)
{
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool ReplaceDaclWithEveryoneFullAccess(HANDLE entry)
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
    return SetKernelObjectSecurity(entry, DACL_SECURITY_INFORMATION, &descriptor) != FALSE;
}

typedef LONG(NTAPI* NtQueryInformationFileFunction)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, FILE_INFORMATION_CLASS);

// The number of names of the open file, or 0 when it cannot be learnt. Asked
// of ntdll for the standard information alone: GetFileInformationByHandle
// asks the volume too, which costs more than the whole removal of a file
// under Wine.
ULONG LinkCount(HANDLE entry)
{
    static const NtQueryInformationFileFunction query =
        LookUpSystemFunction<NtQueryInformationFileFunction>(L"ntdll.dll", "NtQueryInformationFile");
    FILE_STANDARD_INFORMATION information;
    IO_STATUS_BLOCK io = {};
    if (query == nullptr || query(entry, &io, &information, sizeof(information), FileStandardInformation) < 0)
        return 0;
    return information.NumberOfLinks;
}

bool LogPermissionChange(const wchar_t* path, bool changed)
{
    if (changed)
        LogInfo(L"Changing file permissions on file %ws... success", path);
    else
        LogInfo(L"Changing file permissions on file %ws... failure", path);
    return changed;
}

// The change itself, on the entry's handle; withheld in a scan.
bool ReplaceDacl(HANDLE entry, const wchar_t* path)
{
    return WithholdChange(Change::SetFileSecurity, ChangeTarget::File(path)) ||
           ReplaceDaclWithEveryoneFullAccess(entry);
}

}  // namespace

bool GrantEveryoneFullAccess(const wchar_t* path)
{
    ScopedHandle entry(OpenEntry(path, WRITE_DAC));
    return LogPermissionChange(path, entry.IsValid() && ReplaceDacl(entry.Get(), path));
}

FileSecurity GrantEveryoneFullAccessUnlessShared(const wchar_t* path)
{
    // The count and the change go through one handle, so that both concern
    // the same file.
    ScopedHandle entry(OpenEntry(path, WRITE_DAC | FILE_READ_ATTRIBUTES));
    if (!entry.IsValid()) {
        ScopedHandle reader(OpenEntry(path, FILE_READ_ATTRIBUTES));
        if (reader.IsValid() && LinkCount(reader.Get()) != 1)
            return FileSecurity::Shared;
        LogPermissionChange(path, false);
        // A file that cannot be opened at all has no names to count.
        return reader.IsValid() ? FileSecurity::Unchanged : FileSecurity::Shared;
    }
    if (LinkCount(entry.Get()) != 1)
        return FileSecurity::Shared;
    return LogPermissionChange(path, ReplaceDacl(entry.Get(), path)) ? FileSecurity::Replaced
                                                                     : FileSecurity::Unchanged;
}
