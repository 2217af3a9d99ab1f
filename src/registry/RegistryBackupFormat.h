#pragma once
// The lines that make a registry script one of the program's backups: the
// writer puts them in, the undo checks them before it trusts the file.
//
//   Windows Registry Editor Version 5.00
//   <empty line>
//   ; VORNTarnvexEvCleaner registry backup of the run started <UTC time>
//   ; Incomplete: ...        (or, once the run has ended, "; Complete: ...")
//   blocks, each after an empty line: [-key], or an optional security
//   comment (caption, SDDL), [key] and the value lines of that key
//   ; End of the registry backup     (a complete backup's last line)

extern const wchar_t kBackupSignature[];       // the third line up to the time
extern const wchar_t kBackupIncompleteLine[];  // the fourth line while the run goes on
extern const wchar_t kBackupCompleteLine[];    // the same length, once it has ended
extern const wchar_t kBackupEndLine[];
extern const wchar_t kBackupSecurityCaption[];          // "(owner, group, DACL, SACL):"
extern const wchar_t kBackupSecurityCaptionWithoutSacl[];  // "(owner, group, DACL):"
