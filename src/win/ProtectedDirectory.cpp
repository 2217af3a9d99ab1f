#include "win/ProtectedDirectory.h"

#include <sddl.h>

#include <memory>
#include <new>

#include "win/ScopedLocalMemory.h"
#include "win/ScopedSid.h"
#include "win/TokenUser.h"

const char kProtectedDirectorySddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

// Every right that changes the object, its contents or its security.
const ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                    GENERIC_ALL | MAXIMUM_ALLOWED;

bool IsTrusted(PSID sid, PSID currentUser)
{
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           (currentUser != nullptr && EqualSid(sid, currentUser));
}

}  // namespace

bool GrantsChangeOnlyToAdministrators(PSECURITY_DESCRIPTOR descriptor, PSID currentUser)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    // A missing DACL, or a null one, lets everyone in.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr)
        return false;
    // The owner may always rewrite the DACL.
    if (!IsTrusted(owner, currentUser))
        return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return false;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;  // object or callback entries: not what this program writes
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangingRights) != 0 &&
            !IsTrusted(const_cast<DWORD*>(&allowed->SidStart), currentUser))
            return false;
    }
    return true;
}

namespace {

// The token user when it is an administrator, else nothing; read once.
class TrustedRunningAccount {
public:
    TrustedRunningAccount()
    {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        ScopedSid administrators;
        BOOL member = FALSE;
        if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                     administrators.Receive()) &&
            CheckTokenMembership(nullptr, administrators.Get(), &member) && member)
            QueryTokenUser(&user_);
    }
    TrustedRunningAccount(const TrustedRunningAccount&) = delete;
    TrustedRunningAccount& operator=(const TrustedRunningAccount&) = delete;

    PSID Sid() const { return TokenUserSid(user_); }

private:
    ScopedLocalMemory user_;
};

}  // namespace

bool OnlyAdministratorsMayWrite(HANDLE object)
{
    static const TrustedRunningAccount runningAccount;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    // Room for what this program writes; a larger descriptor is read whole.
    alignas(8) BYTE small[1024];
    DWORD bytes = 0;
    if (GetKernelObjectSecurity(object, what, small, sizeof(small), &bytes))
        return GrantsChangeOnlyToAdministrators(small, runningAccount.Sid());
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0)
        return false;
    std::unique_ptr<BYTE[]> descriptor(new (std::nothrow) BYTE[bytes]);
    return descriptor && GetKernelObjectSecurity(object, what, descriptor.get(), bytes, &bytes) &&
           GrantsChangeOnlyToAdministrators(descriptor.get(), runningAccount.Sid());
}

ScopedHandle CreateProtectedDirectory(const wchar_t* path)
{
    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kProtectedDirectorySddl, SDDL_REVISION_1,
                                                             descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        return ScopedHandle();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    // Fails with ERROR_ALREADY_EXISTS for anything already there: whoever
    // made that could have left a way in.
    if (!CreateDirectoryW(path, &attributes))
        return ScopedHandle();
    ScopedHandle directory(CreateFileW(path, READ_CONTROL | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!directory.IsValid() || !GetFileInformationByHandle(directory.Get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !OnlyAdministratorsMayWrite(directory.Get()))
        return ScopedHandle();
    return directory;
}
