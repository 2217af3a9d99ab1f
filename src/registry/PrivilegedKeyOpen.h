#pragma once
// Reaching a key whose DACL refuses the administrators what a repair needs:
// installer-owned class registrations, service keys whose own DACL grants no
// write, keys a rootkit locked.
#include <windows.h>

#include "registry/KeySecurity.h"

// Opens the key for `access` (its view flag included) past its DACL, by a
// route whose granted access Windows documents for every supported version,
// in the view asked for: with SeTakeOwnershipPrivilege and SeRestorePrivilege
// enabled for this call, the key is opened by name for READ_CONTROL and
// WRITE_OWNER (which the first privilege grants), made Administrators' own,
// given its DACL with a first entry that grants Administrators `access`, and
// opened again through that handle for `access`. Its own DACL and owner are
// then put back, each checked (an owner other than this token's needs the
// second privilege); the handle keeps what it was granted.
// Fails with the key's security as it was when a step fails. When putting it
// back fails, no handle is returned and "Failed to put back the security of a
// locked key" is logged. ERROR_PRIVILEGE_NOT_HELD when the token cannot
// enable both privileges.
LONG OpenLockedKey(const KeySecurityCalls& calls, HKEY root, const wchar_t* subKey, REGSAM access, HKEY* key);
LONG OpenLockedKey(const KeySecurityCalls& calls, HKEY root, const char* subKey, REGSAM access, HKEY* key);
