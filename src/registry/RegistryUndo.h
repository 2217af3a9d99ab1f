#pragma once
// Taking a run back with its registry backup ("-undo FILE"): every value back
// as it was, every value the run added removed, every key it created removed
// (deepest first), in the native view, and every key's security from its SDDL
// comment. The whole file is read and checked before the first change; a file
// the program did not write, or one that cannot be read through, changes
// nothing. Every change goes into the undo run's own registry backup first, so
// that the undo can be taken back too. Each step is logged.
#include <windows.h>

#include <cstddef>

#include "registry/KeySecurity.h"

enum class UndoResult {
    Done,        // every entry applied
    DoneWithFailures,  // applied; some steps failed (the log says which)
    NotOpened,   // the file could not be opened or read
    NotABackup,  // not one of the program's registry backups
    Damaged,     // one, but cut short or damaged
};

struct UndoOutcome {
    UndoResult result;
    bool complete;      // the backup's run had ended
    size_t failedLine;  // for NotABackup and Damaged: the first line that did not read (1 = first)
};

UndoOutcome UndoRegistryBackup(const wchar_t* path);

// Sets the key's owner, group, DACL (protected or inheriting, as the SDDL
// says) and, when the SDDL has one, SACL, as a backup's comment states them:
// the key is opened with SeTakeOwnershipPrivilege (WRITE_OWNER on a key whose
// DACL does not grant it) and SeSecurityPrivilege (the SACL), and set through
// SetKeySecurityWithPrivileges (any owner), each enabled for this call only.
// The present security goes into the run's backup first. ERROR_SUCCESS or the
// registry's error. calls: the registry's, or models of Windows' rules.
LONG ApplyBackedUpKeySecurity(HKEY root, const wchar_t* subKey, const wchar_t* sddl,
                              const KeySecurityCalls& calls = SystemKeySecurityCalls());
