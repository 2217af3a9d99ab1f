#include "registry/KeySecurity.h"

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
                               Convert convert)
{
    ScopedLocalMemory descriptor;
    if (!convert(sddl, SDDL_REVISION_1, descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        return KeySecurityOutcome::NotParsed;
    return SetKeySecurityWithPrivileges(calls, key, parts, descriptor.Get()) == ERROR_SUCCESS
               ? KeySecurityOutcome::Set
               : KeySecurityOutcome::NotSet;
}

}  // namespace

KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const char* sddl,
                                          SECURITY_INFORMATION parts)
{
    return SetFromSddl(calls, key, sddl, parts, ConvertStringSecurityDescriptorToSecurityDescriptorA);
}

KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const wchar_t* sddl,
                                          SECURITY_INFORMATION parts)
{
    return SetFromSddl(calls, key, sddl, parts, ConvertStringSecurityDescriptorToSecurityDescriptorW);
}
