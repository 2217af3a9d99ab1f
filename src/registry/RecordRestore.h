#pragma once
// Restores one known-good record: its key, the key's security and its values.
// Every step reports its outcome in the log; nothing stops the caller's pass.
#include "registry/KnownGoodRecord.h"
#include "registry/PrivilegedKeyOpen.h"
#include "registry/RegistryValueRead.h"
#include "registry/ValueLine.h"
#include "win/ScopedRegKey.h"

#include <cstdint>

enum class CurrentValue { Missing, Equal, Different };

// The registry type is not compared: the same bytes under another type match.
// A value that cannot be read counts as missing, so that a write is attempted.
// What it holds now is kept in `present` for the backup.
CurrentValue CompareWithCurrent(HKEY key, const ParsedValue& knownGood, RegistryValueData* present);

void RestoreRecord(const KnownGoodRecord& record, const KeySecurityCalls& calls = SystemKeySecurityCalls());

// Creates the key (and missing parents) or opens the existing one, for full
// access and the key's audit list, in the native 64-bit view; where the key's
// DACL refuses that, through OpenLockedKey (the key keeps its security).
// Empty on failure. createdNew, when given, tells whether the key did not
// exist before.
ScopedRegKey OpenRecordKey(HKEY root, const char* keyPath, bool* createdNew = nullptr,
                           const KeySecurityCalls& calls = SystemKeySecurityCalls());

// Sets owner, group, protected DACL and SACL from `sddl`, with the privilege
// an owner such as SYSTEM needs. Returns the handle to go on with: a fresh one
// opened under the new security when that works, otherwise the given one.
ScopedRegKey ApplyKeySecurity(const char* sddl, ScopedRegKey key,
                              const KeySecurityCalls& calls = SystemKeySecurityCalls());

// Brings one value line into `key`: written when missing, or when different
// and `keepExisting` is zero.
void RestoreValue(const wchar_t* line, HKEY key, uint32_t keepExisting);
