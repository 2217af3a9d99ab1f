#include "cleanup/FilePermissions.h"

#include "logging/Log.h"
#include "win/MachineChange.h"
#include "win/ProtectedDirectory.h"
#include "win/ScopedSid.h"

namespace {

// Built once per run: the two SIDs, the DACL and the descriptor that holds
// them.
class LockedDownSecurity {
public:
    LockedDownSecurity() : ready_(false)
    {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                      administrators_.Receive()) ||
            !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, localSystem_.Receive()))
            return;
        PACL acl = reinterpret_cast<PACL>(acl_);
        if (!InitializeAcl(acl, sizeof(acl_), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, administrators_.Get()) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, localSystem_.Get()))
            return;
        // Inherited by whatever appears below a directory later on.
        for (DWORD index = 0; index < 2; ++index) {
            ACE_HEADER* ace = nullptr;
            if (!GetAce(acl, index, reinterpret_cast<void**>(&ace)))
                return;
            ace->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        }
        if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorOwner(&descriptor_, administrators_.Get(), FALSE) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return;
        ready_ = true;
    }
    LockedDownSecurity(const LockedDownSecurity&) = delete;
    LockedDownSecurity& operator=(const LockedDownSecurity&) = delete;

    SECURITY_DESCRIPTOR* Descriptor() { return ready_ ? &descriptor_ : nullptr; }

private:
    bool ready_;
    ScopedSid administrators_;
    ScopedSid localSystem_;
    alignas(8) BYTE acl_[128];
    SECURITY_DESCRIPTOR descriptor_;
};

LockedDownSecurity& Security()
{
    static LockedDownSecurity security;
    return security;
}

}  // namespace

SECURITY_DESCRIPTOR* LockedDownDescriptor()
{
    return Security().Descriptor();
}

bool LockDown(HANDLE entry, const wchar_t* path)
{
    if (WithholdChange(Change::SetFileSecurity, ChangeTarget::File(path)))
        return true;
    SECURITY_DESCRIPTOR* const descriptor = LockedDownDescriptor();
    if (descriptor == nullptr)
        return false;
    // Setting the Administrators group as owner needs the restore privilege
    // or a token that may own objects as that group; without either the
    // DACL alone is replaced and the owner judged as it is.
    if (!SetKernelObjectSecurity(entry, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor) &&
        !SetKernelObjectSecurity(entry, DACL_SECURITY_INFORMATION, descriptor))
        return false;
    return OnlyAdministratorsMayWrite(entry);
}

bool LogPermissionChange(const wchar_t* path, bool changed)
{
    if (changed)
        LogInfo(L"Changing file permissions on file %ws... success", path);
    else
        LogInfo(L"Changing file permissions on file %ws... failure", path);
    return changed;
}
