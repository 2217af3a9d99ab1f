#pragma once
// Setting a key's security the way Windows allows it. An owner other than
// the token user or one of its owner groups (SYSTEM, TrustedInstaller, a
// service) is taken only while SeRestorePrivilege is enabled; otherwise the
// call fails with ERROR_INVALID_OWNER. The handle needs WRITE_OWNER for the
// owner and group, WRITE_DAC for the DACL and ACCESS_SYSTEM_SECURITY for the
// SACL.
#include <windows.h>

// The calls whose rules Wine does not enforce (it takes any owner, and does
// not let SeTakeOwnershipPrivilege grant WRITE_OWNER); tests put models of
// Windows' rules in their place.
struct KeySecurityCalls {
    // Opens a key; asked for WRITE_OWNER while SeTakeOwnershipPrivilege is
    // enabled, Windows grants that whatever the key's DACL says.
    decltype(&RegOpenKeyExW) openKeyW;
    decltype(&RegOpenKeyExA) openKeyA;
    decltype(&RegSetKeySecurity) setKeySecurity;
};

inline KeySecurityCalls SystemKeySecurityCalls()
{
    return KeySecurityCalls{RegOpenKeyExW, RegOpenKeyExA, RegSetKeySecurity};
}

// Sets `parts` of the key's security from `descriptor`, SeRestorePrivilege
// enabled for this call only (where the token has it: an owner of its own
// needs none). The registry's result.
LONG SetKeySecurityWithPrivileges(const KeySecurityCalls& calls, HKEY key, SECURITY_INFORMATION parts,
                                  PSECURITY_DESCRIPTOR descriptor);

enum class KeySecurityOutcome { Set, NotParsed, NotSet };

// The same from SDDL text (revision 1), narrow or wide.
KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const char* sddl,
                                          SECURITY_INFORMATION parts);
KeySecurityOutcome SetKeySecurityFromSddl(const KeySecurityCalls& calls, HKEY key, const wchar_t* sddl,
                                          SECURITY_INFORMATION parts);
