#pragma once
// Reaching a key whose security refuses the administrators what a repair
// needs: installer-owned class registrations, service keys whose own DACL
// grants no write, keys a rootkit locked.
#include <windows.h>

// The registry calls behind the backup-and-restore open. Windows lets them
// pass over a key's DACL while SeBackupPrivilege and SeRestorePrivilege are
// enabled; a registry that ignores REG_OPTION_BACKUP_RESTORE (Wine) cannot
// show it, so tests put their own in place.
struct BackupRestoreCalls {
    decltype(&RegCreateKeyExW) createKeyW;  // the COM repair's keys (wide names)
    decltype(&RegCreateKeyExA) createKeyA;  // the known-good table's keys (narrow names)
};

inline BackupRestoreCalls SystemBackupRestoreCalls()
{
    return BackupRestoreCalls{RegCreateKeyExW, RegCreateKeyExA};
}

// Opens (or, for the narrow form, creates) the key with
// REG_OPTION_BACKUP_RESTORE while both privileges are enabled, for this call
// only. The key's security is not touched. ERROR_PRIVILEGE_NOT_HELD when the
// token cannot enable both.
LONG OpenKeyWithBackupRestore(const BackupRestoreCalls& calls, HKEY root, const wchar_t* subKey, REGSAM access,
                              HKEY* key);
LONG CreateKeyWithBackupRestore(const BackupRestoreCalls& calls, HKEY root, const char* keyPath, REGSAM access,
                                HKEY* key, DWORD* disposition);

// Through the owner's implicit right to change the DACL: the key's DACL is
// widened by one entry that grants its owner full access, the key is opened
// with `access`, and the DACL is put back as it was before returning, so the
// handle keeps the access and the key its security. Fails (with the key's
// security unchanged) when this process is not the key's owner.
LONG OpenKeyAsOwner(HKEY root, const char* keyPath, REGSAM access, HKEY* key);
