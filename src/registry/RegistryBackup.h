#pragma once
// The registry backup of one run: before the run changes a registry value,
// a key's security or creates a key, what it replaces is written and flushed
// to a registry script in "RA Ravariv" that `reg import` and the program's
// "-undo" take back. It is right at every moment: each value's and each key's
// first state is recorded once, however often and under whichever name the
// run reaches it, and a key the run creates is recorded as removed before it
// is created, so the order within the file does not matter and whatever is on
// disk when the run stops restores the state before the run. While the run
// goes on the file is "Registry backup <start time> (incomplete).reg" and its
// first lines say it is incomplete; at the end it is renamed to
// "Registry backup <start time>.reg". A key's earlier security stands in a
// comment line as SDDL (the undo applies it; a .reg file cannot carry it).
// The file is made at the first change: a run that changes nothing leaves
// none. A backup that cannot be written costs the run nothing but the log line
// "Failed to write registry backup" (once); the repair matters more.
//
// Every call is a no-op outside BeginRegistryBackup ... EndRegistryBackup, so
// the repair steps work alike when called on their own.
#include <windows.h>

#include <cstddef>

// Names the run's file after its start time (UTC, as the log's "Log started"
// line); nothing is written yet.
void BeginRegistryBackup(const SYSTEMTIME& runStart);

// Completes the file, renames it to its final name and logs
// "Registry backup: <file name>" when one was written.
void EndRegistryBackup();

// Key paths below the root come wide (the COM rows, RunOnce, the undo) or
// narrow, in the ANSI code page (the known-good table); one that does not
// convert or does not fit kBackupKeyPathCapacity fails the backup.
constexpr size_t kBackupKeyPathCapacity = 1024;

// Before a value of the open `key` (reached as root\subKey) is set or
// removed: its present type and bytes, or that it is missing. name null is the
// key's default value. A value recorded before in this run is not recorded
// again. The key is named by what the registry says the handle is (a null
// key: by root and subKey).
void BackUpValue(HKEY key, HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD type, const BYTE* data,
                 DWORD size);
void BackUpValue(HKEY key, HKEY root, const char* subKey, const wchar_t* name, DWORD type, const BYTE* data,
                 DWORD size);
void BackUpMissingValue(HKEY key, HKEY root, const wchar_t* subKey, const wchar_t* name);
void BackUpMissingValue(HKEY key, HKEY root, const char* subKey, const wchar_t* name);

// Before the key's security is set to `next`: its present owner, group, DACL
// and (where readable) SACL, unless they already equal `next`.
void BackUpKeySecurity(HKEY root, const char* subKey, HKEY key, PSECURITY_DESCRIPTOR next);
void BackUpKeySecurity(HKEY root, const wchar_t* subKey, HKEY key, PSECURITY_DESCRIPTOR next);

// True when the key's owner, group, DACL and audit entries are those of
// `next`: setting them changes nothing. A SACL that cannot be read differs.
bool KeyHasSecurity(HKEY key, PSECURITY_DESCRIPTOR next);

// Before root\subKey is created or opened by a call that creates what is
// missing: the removal of the outermost key that does not exist yet (nothing
// when the key exists).
void BackUpKeyToBeCreated(HKEY root, const char* subKey);
void BackUpKeyToBeCreated(HKEY root, const wchar_t* subKey);

// Before the open `key` is removed with everything below it: every key of the
// tree with its security and values. False when part of it cannot be read: the
// key must then stay.
bool BackUpKeyBeforeRemoval(HKEY key, HKEY root, const wchar_t* subKey);

// Entries made while a batch lives go to disk together when it ends (one
// write and flush instead of one per entry); the caller makes the changes
// they record only after that.
class RegistryBackupBatch {
public:
    RegistryBackupBatch();
    ~RegistryBackupBatch();
    RegistryBackupBatch(const RegistryBackupBatch&) = delete;
    RegistryBackupBatch& operator=(const RegistryBackupBatch&) = delete;
};

// Tests: called right before and right after each write of entries to the
// file, the moments at which a run may stop; null for none.
typedef void (*RegistryBackupObserver)(void* context);
void SetRegistryBackupObserver(RegistryBackupObserver observer, void* context);
