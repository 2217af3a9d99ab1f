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

KeySecurityOutcome SetFromDescriptor(const KeySecurityCalls& calls, HKEY key, BOOL converted,
                                     const ScopedLocalMemory& descriptor, SECURITY_INFORMATION parts)
{
    if (!converted)
        return KeySecurityOutcome::NotParsed;
    return SetKeySecurityWithPrivileges(calls, key, parts, descriptor.Get()) == ERROR_SUCCESS
               ? KeySecurityOutcome::Set
               : KeySecurityOutcome::NotSet;
}

}  // namespace

KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const char* sddl,
                                          SECURITY_INFORMATION parts)
{
    ScopedLocalMemory descriptor;
    const BOOL converted = ConvertStringSecurityDescriptorToSecurityDescriptorA(
        sddl, SDDL_REVISION_1, descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr);
    return SetFromDescriptor(calls, key, converted, descriptor, parts);
}

KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const wchar_t* sddl,
                                          SECURITY_INFORMATION parts)
{
    ScopedLocalMemory descriptor;
    const BOOL converted = ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr);
    return SetFromDescriptor(calls, key, converted, descriptor, parts);
}
