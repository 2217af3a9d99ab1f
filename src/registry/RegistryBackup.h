#pragma once
// The registry backup of one run: before the run changes a registry value or
// a key's security, what it replaces is written and flushed to a registry
// script in "RA Ravariv" ("Registry backup <start time>.reg") that `reg import`
// and the registry editor take back. Keys the run created are removed by the
// script (deepest first, at its end); a key's earlier security cannot be
// carried by a .reg file and stands in a comment line as SDDL, to be applied by
// hand. The file is made at the first change: a run that changes nothing
// leaves none. A backup that cannot be written costs the run nothing but the
// log line "Failed to write registry backup" (once); the repair matters more.
//
// Every call is a no-op outside BeginRegistryBackup ... EndRegistryBackup, so
// the repair steps work alike when called on their own.
#include <windows.h>

#include <cstddef>

// Names the run's file after its start time (UTC, as the log's "Log started"
// line); nothing is written yet.
void BeginRegistryBackup(const SYSTEMTIME& runStart);

// Completes the file (the removal of created keys) and logs
// "Registry backup: <file name>" when one was written.
void EndRegistryBackup();

// Key paths below the root come wide (the COM rows, RunOnce) or narrow, in the
// ANSI code page (the known-good table); one that does not convert or does
// not fit kBackupKeyPathCapacity fails the backup.
constexpr size_t kBackupKeyPathCapacity = 1024;

// Before a value is set: its present type and bytes, or that it is missing.
// name null is the key's default value.
void BackUpValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);
void BackUpValue(HKEY root, const char* subKey, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);
void BackUpMissingValue(HKEY root, const wchar_t* subKey, const wchar_t* name);
void BackUpMissingValue(HKEY root, const char* subKey, const wchar_t* name);

// Before the key's security is set to `next`: its present owner, group, DACL
// and (where readable) SACL, unless they already equal `next`.
void BackUpKeySecurity(HKEY root, const char* subKey, HKEY key, PSECURITY_DESCRIPTOR next);

// True when the key's owner, group, DACL and audit entries are those of
// `next`: setting them changes nothing. A SACL that cannot be read differs.
bool KeyHasSecurity(HKEY key, PSECURITY_DESCRIPTOR next);

// A key the run created: the script removes it.
void NoteCreatedKey(HKEY root, const char* subKey);

// Entries made while a batch lives go to disk together when it ends (one
// flush instead of one per entry); the caller makes the changes they record
// only after that.
class RegistryBackupBatch {
public:
    RegistryBackupBatch();
    ~RegistryBackupBatch();
    RegistryBackupBatch(const RegistryBackupBatch&) = delete;
    RegistryBackupBatch& operator=(const RegistryBackupBatch&) = delete;
};
