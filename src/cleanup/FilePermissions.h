#pragma once
// The security of what the removal touches and may leave behind: the
// Administrators group as owner (an owner may always rewrite the DACL) and a
// protected DACL that gives full access to the administrators and LocalSystem
// alone, so that no other user can create, rename, link or delete anything in
// or through it.
#include <windows.h>

// Gives the open entry (opened with READ_CONTROL, WRITE_DAC and WRITE_OWNER)
// that security through its handle and reads it back: true when no one but
// the administrators and LocalSystem may now write to it.
bool LockDown(HANDLE entry);

// The check alone, on what the entry's handle reads back.
bool IsLockedDown(HANDLE entry);

// The descriptor for an object created with that security; null when it
// could not be built.
SECURITY_DESCRIPTOR* LockedDownDescriptor();

// "Changing file permissions on file <path>... success" or "... failure";
// returns changed.
bool LogPermissionChange(const wchar_t* path, bool changed);
