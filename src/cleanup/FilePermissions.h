#pragma once
// The security of what the removal touches and may leave behind: the
// Administrators group as owner (an owner may always rewrite the DACL) and a
// protected DACL that gives full access to the administrators and LocalSystem
// alone, so that no other user can create, rename, link or delete anything in
// or through it.
#include <windows.h>

// Gives the open entry (opened with READ_CONTROL, WRITE_DAC and WRITE_OWNER)
// that security through its handle and reads it back: true when no one but
// the administrators and LocalSystem may now write to it (the check of
// win/ProtectedDirectory.h, OnlyAdministratorsMayWrite). path names the
// entry for a scan, which withholds the change (win/MachineChange.h).
bool LockDown(HANDLE entry, const wchar_t* path);

// The descriptor for an object created with that security; null when it
// could not be built.
SECURITY_DESCRIPTOR* LockedDownDescriptor();

// "Changing file permissions on file <path>... success" or "... failure";
// returns changed.
bool LogPermissionChange(const wchar_t* path, bool changed);
