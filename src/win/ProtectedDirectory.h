#pragma once
// A directory that only the administrators and LocalSystem may change: made
// new by the caller (never one that existed before), with a protected DACL
// that its files inherit, and checked through its handle, not assumed.
#include <windows.h>

#include "win/ScopedHandle.h"

// Full access for LocalSystem and the administrators, inherited by files and
// subdirectories; nothing inherited from the parent, nothing for anyone else.
extern const char kProtectedDirectorySddl[];

// Creates `path` (fails when anything of that name exists) with the DACL
// above, and opens it without delete sharing, so that it cannot be renamed
// or replaced while the handle lives. Empty when it was not made or fails
// the check.
ScopedHandle CreateProtectedDirectory(const wchar_t* path);

// True when the descriptor has a DACL, its owner is LocalSystem, the
// administrators or `currentUser` (null for none), and no entry of the DACL
// lets anyone else write, delete or change the object or its security.
// Whether the DACL is protected is not judged: only who may change the object
// now.
bool GrantsChangeOnlyToAdministrators(PSECURITY_DESCRIPTOR descriptor, PSID currentUser);

// The same for an open object (READ_CONTROL). This process's token user
// counts as trusted only when it is a member of the administrators: a file
// system that keeps no owner of its own reports the creating account as
// owner with full access. Asked of the token once per run.
bool OnlyAdministratorsMayWrite(HANDLE object);
