#pragma once
// Reading one of the program's registry backups back: the whole file is read
// and checked before anything acts on it, then walked entry by entry as often
// as the caller needs.
#include <windows.h>

#include "registry/HeapBytes.h"
#include "registry/ValueLine.h"

#include <cstddef>

struct BackupScript {
    HeapBytes text;       // the file's text after its byte order mark, NUL-ended
    size_t units = 0;     // UTF-16 units of the text
    bool complete = false;  // the run that wrote it ended
};

// What one walk hands to its caller; a callback that returns false stops it.
struct BackupWalk {
    // "[key]": a block of values follows; sddl is the key's security before
    // the run, or null when the block carries none.
    bool (*key)(void* context, const wchar_t* keyName, const wchar_t* sddl);
    // A value line of the last key: value is null for a removal ("name"=-);
    // name null is the default value (@). value->name is not used.
    bool (*value)(void* context, const wchar_t* name, const ParsedValue* value);
    // "[-key]".
    bool (*removedKey)(void* context, const wchar_t* keyName);
    void* context;
};

enum class BackupReadResult { Read, NotOpened, NotABackup, Damaged };

// Reads the file through one handle and checks every line: the program's
// first lines, then only blocks it writes, every value line whole and of a
// known form, every security comment valid SDDL, and for a backup whose run
// ended the end line. *line is the line that failed (1 = the first).
BackupReadResult ReadBackupScript(const wchar_t* path, BackupScript* script, size_t* line);

// Walks the checked script; false when a callback stopped it.
bool WalkBackupScript(const BackupScript& script, const BackupWalk& walk);
