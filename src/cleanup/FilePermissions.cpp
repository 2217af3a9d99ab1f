#include "cleanup/FilePermissions.h"

#include "logging/Log.h"
#include "win/ScopedHandle.h"
#include "win/ScopedSid.h"

namespace {

// Every right that changes an object, its name, its contents or its security.
const ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                 FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Built once per run: the two SIDs, the DACL and the descriptor that holds
// them, and the running account.
class LockedDownSecurity {
public:
    LockedDownSecurity() : ready_(false), runningAdministrator_(false)
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
        runningAdministrator_ = ReadRunningAccount();
        ready_ = true;
    }
    LockedDownSecurity(const LockedDownSecurity&) = delete;
    LockedDownSecurity& operator=(const LockedDownSecurity&) = delete;

    bool Ready() const { return ready_; }
    SECURITY_DESCRIPTOR* Descriptor() { return ready_ ? &descriptor_ : nullptr; }

    // The administrators, LocalSystem, and the account running the removal
    // when it is an administrator itself: a file system that keeps no owner
    // of its own reports the creating account as owner with full access.
    bool MayWrite(PSID sid) const
    {
        return IsValidSid(sid) && (EqualSid(sid, administrators_.Get()) || EqualSid(sid, localSystem_.Get()) ||
                                   (runningAdministrator_ && EqualSid(sid, reinterpret_cast<PSID>(
                                                                               const_cast<BYTE*>(runningUser_)))));
    }

private:
    bool ReadRunningAccount()
    {
        BOOL member = FALSE;
        if (!CheckTokenMembership(nullptr, administrators_.Get(), &member) || !member)
            return false;
        ScopedHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
            return false;
        alignas(8) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        if (!GetTokenInformation(token.Get(), TokenUser, user, sizeof(user), &size))
            return false;
        const PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
        return IsValidSid(sid) && CopySid(sizeof(runningUser_), runningUser_, sid);
    }

    bool ready_;
    bool runningAdministrator_;
    ScopedSid administrators_;
    ScopedSid localSystem_;
    alignas(8) BYTE acl_[128];
    alignas(8) BYTE runningUser_[SECURITY_MAX_SID_SIZE];
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

bool IsLockedDown(HANDLE entry)
{
    LockedDownSecurity& security = Security();
    alignas(8) BYTE descriptor[1024];
    DWORD needed = 0;
    if (!security.Ready() || !GetKernelObjectSecurity(entry, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                      descriptor, sizeof(descriptor), &needed))
        return false;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || owner == nullptr ||
        !security.MayWrite(owner))
        return false;
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    // No DACL at all lets everyone in.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) || !present || dacl == nullptr)
        return false;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, index, reinterpret_cast<void**>(&ace)))
            return false;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        const ACCESS_ALLOWED_ACE* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kWriteRights) == 0)
            continue;
        // Other kinds of allowing entry lay out their trustee differently.
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !security.MayWrite(reinterpret_cast<PSID>(const_cast<DWORD*>(&allowed->SidStart))))
            return false;
    }
    return true;
}

bool LockDown(HANDLE entry)
{
    SECURITY_DESCRIPTOR* const descriptor = LockedDownDescriptor();
    if (descriptor == nullptr)
        return false;
    // Setting the Administrators group as owner needs the restore privilege
    // or a token that may own objects as that group; without either the
    // DACL alone is replaced and the owner judged as it is.
    if (!SetKernelObjectSecurity(entry, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor) &&
        !SetKernelObjectSecurity(entry, DACL_SECURITY_INFORMATION, descriptor))
        return false;
    return IsLockedDown(entry);
}

bool LogPermissionChange(const wchar_t* path, bool changed)
{
    if (changed)
        LogInfo(L"Changing file permissions on file %ws... success", path);
    else
        LogInfo(L"Changing file permissions on file %ws... failure", path);
    return changed;
}
