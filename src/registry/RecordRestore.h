#pragma once
// Restores one known-good record: its key, the key's security and its values.
// Every step reports its outcome in the log; nothing stops the caller's pass.
#include "registry/KnownGoodRecord.h"
#include "registry/PrivilegedKeyOpen.h"
#include "win/ScopedRegKey.h"

#include <cstdint>

void RestoreRecord(const KnownGoodRecord& record, const KeySecurityCalls& calls = SystemKeySecurityCalls());

// Creates the key (and missing parents) or opens the existing one, for full
// access and the key's audit list, in the native 64-bit view; where the key's
// DACL refuses that, through OpenLockedKey (the key keeps its security).
// Empty on failure. createdNew, when given, tells whether the key did not
// exist before.
ScopedRegKey OpenRecordKey(HKEY root, const char* keyPath, bool* createdNew = nullptr,
                           const KeySecurityCalls& calls = SystemKeySecurityCalls());

// Sets owner, group, protected DACL and SACL from `sddl` on the key
// root\keyPath open as `key`, with the privilege an owner such as SYSTEM
// needs. Returns the handle to go on with: a fresh one opened under the new
// security when that works, otherwise the given one.
ScopedRegKey ApplyKeySecurity(const char* sddl, ScopedRegKey key, HKEY root, const char* keyPath,
                              const KeySecurityCalls& calls = SystemKeySecurityCalls());

// Brings one value line into `key`: written when missing, or when different
// and `keepExisting` is zero.
void RestoreValue(const wchar_t* line, HKEY key, uint32_t keepExisting);
