#pragma once
// Models of the Windows rules that Wine's registry does not enforce, in place
// of the calls the key-security steps make (KeySecurityCalls):
// - an owner is taken only when it is the token user or a group of the token
//   that carries SE_GROUP_OWNER, or while SeRestorePrivilege is enabled at
//   that moment; otherwise ERROR_INVALID_OWNER (1307);
// - an open that asks for WRITE_OWNER gets it while SeTakeOwnershipPrivilege
//   is enabled, whatever the key's DACL says (the rest of the access as the
//   DACL gives it), and is refused otherwise. Windows could grant it by the
//   DACL too; nothing here relies on that.
#include "registry/KeySecurity.h"

#include <string>
#include <vector>

KeySecurityCalls ModelledKeySecurityCalls();

// false: the token is taken to lack SeRestorePrivilege (Wine's has it).
void ModelRestorePrivilegeHeld(bool held);

// The owners the model refused since the last reset, as SID strings.
std::vector<std::string> ModelRefusedOwners();

// Wine grants WRITE_OWNER only to a key's owner: for a key the test is about
// to lock, a handle taken now stands in for what the privilege would grant
// (the model hands out duplicates of it with exactly the access asked for).
void ModelKeyBeforeLock(HKEY root, const std::wstring& path);

// SeTakeOwnershipPrivilege and SeRestorePrivilege are both off again, as the
// tests leave them before a route that enables them for its call only.
bool RoutePrivilegesOff();

// Forgets refused owners and prepared handles; the restore privilege held.
void ResetKeySecurityModel();
