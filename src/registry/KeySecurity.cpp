#include "registry/KeySecurity.h"

#include "registry/RegistryBackup.h"
#include "win/ScopedLocalMemory.h"
#include "win/ScopedPrivileges.h"

#include <sddl.h>

LONG SetKeySecurityWithPrivileges(const KeySecurityCalls& calls, HKEY key, SECURITY_INFORMATION parts,
                                  PSECURITY_DESCRIPTOR descriptor)
{
    ScopedPrivileges restore(L"SeRestorePrivilege");
    return calls.setKeySecurity(key, parts, descriptor);
}

namespace {

template <typename Char, typename Convert>
KeySecurityOutcome SetFromSddl(const KeySecurityCalls& calls, HKEY key, const Char* sddl, SECURITY_INFORMATION parts,
                               Convert convert, const ChangeTarget& target)
{
    ScopedLocalMemory descriptor;
    if (!convert(sddl, SDDL_REVISION_1, descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        return KeySecurityOutcome::NotParsed;
    const bool unchanged = IsScanMode() && KeyHasSecurity(key, descriptor.Get());
    if (WithholdChange(unchanged ? Change::RewriteKeySecurity : Change::SetKeySecurity, target))
        return KeySecurityOutcome::Set;
    return SetKeySecurityWithPrivileges(calls, key, parts, descriptor.Get()) == ERROR_SUCCESS
               ? KeySecurityOutcome::Set
               : KeySecurityOutcome::NotSet;
}

}  // namespace

KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const char* sddl,
                                          SECURITY_INFORMATION parts, const ChangeTarget& target)
{
    return SetFromSddl(calls, key, sddl, parts, ConvertStringSecurityDescriptorToSecurityDescriptorA, target);
}

KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const wchar_t* sddl,
                                          SECURITY_INFORMATION parts, const ChangeTarget& target)
{
    return SetFromSddl(calls, key, sddl, parts, ConvertStringSecurityDescriptorToSecurityDescriptorW, target);
}
