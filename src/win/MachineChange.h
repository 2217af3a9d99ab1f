#pragma once
// The one place where a run's changes to the machine are made or withheld.
// A scan runs the same steps as a cleaning and a restoration run; every call
// that would change the machine (a registry value, key or key security, a
// file's security, attributes or removal, a copy, a pending rename) asks
// WithholdChange first. In a scan the change is logged as one "Would ..."
// line, handed to the observer, and not made; the caller then goes on as
// after a successful change, so that every later decision is the one a real
// run would make. Outside a scan WithholdChange returns false and costs a
// test of one flag.
//
// A new call site makes its change in one expression:
//
//     if (!WithholdChange(Change::DeleteFile, ChangeTarget::File(path)) && !DeleteFileW(path))
//         ...the change failed...
//
// and gives, where it applies, the present and the new value as text
// (current null: there is none), so that the scan can report them.
//
// Not through here, because a scan never reaches them: the registry backup
// (a scan begins none), the RunOnce key's creation (no question is asked),
// the staged copy's security and its removal after a failed copy (the copy
// itself is withheld), the removal's own directory for what waits for the
// restart (a withheld deletion never fails), and the restart (a scan's result
// is never the restart's). The route to a locked key
// (registry/PrivilegedKeyOpen.h), which changes the key's owner and DACL for
// a moment, is replaced in a scan by a read-only open. The scan writes its
// own log and log directory.
#include <windows.h>

enum class Change {
    SetValue,           // a registry value written
    CreateKey,          // a registry key created
    SetKeySecurity,     // a key's security replaced by a different one
    RewriteKeySecurity, // a key's security written again as it already is
    SetFileSecurity,    // a file's or directory's DACL replaced
    SetFileAttributes,  // a file's attributes cleared
    DeleteFile,
    RemoveDirectory,
    CopyFile,           // a new file made as a copy (the backup of services.exe, the staged copy)
    ScheduleRename,     // a move carried out at the next restart
    ScheduleRemoval,    // a removal carried out at the next restart
};

// What a change applies to: a registry key (root name "HKLM", "HKCU", "HKCR"
// and the path below it, wide or in the ANSI code page) or a file path
// (wide or narrow), and for a value its name (null: the default value).
struct ChangeTarget {
    const wchar_t* root;
    const wchar_t* path;
    const char* narrowPath;
    const wchar_t* valueName;

    static ChangeTarget Key(const wchar_t* root, const wchar_t* path, const wchar_t* valueName = nullptr)
    {
        return ChangeTarget{root, path, nullptr, valueName};
    }
    static ChangeTarget Key(const wchar_t* root, const char* path, const wchar_t* valueName = nullptr)
    {
        return ChangeTarget{root, nullptr, path, valueName};
    }
    static ChangeTarget File(const wchar_t* path) { return ChangeTarget{nullptr, path, nullptr, nullptr}; }
    static ChangeTarget File(const char* path) { return ChangeTarget{nullptr, nullptr, path, nullptr}; }
};

// Process-wide: set once by the entry before the run starts.
void SetScanMode(bool scan);
bool IsScanMode();

// True in a scan: the change has been recorded and must not be made. current
// and next are shown as the value before and after (a value's data as text,
// the destination of a copy or rename); null leaves them out, except that a
// SetValue with a null current reads "(missing)".
bool WithholdChange(Change change, const ChangeTarget& target, const wchar_t* current = nullptr,
                    const wchar_t* next = nullptr);

// A check the run makes that could not be made (a value that cannot be read,
// a key that cannot be opened); reported in a scan, ignored otherwise. The
// caller logs its own failure line as in every run.
void NoteUncheckable(const wchar_t* what, const ChangeTarget& target);

// Who hears of each withheld change and each check that could not be made:
// the scan's report. Null for none.
struct ChangeObserver {
    void (*withheld)(Change change, const ChangeTarget& target, const wchar_t* current, const wchar_t* next);
    void (*uncheckable)(const wchar_t* what, const ChangeTarget& target);
};
void ObserveChanges(const ChangeObserver* observer);

// A key whose creation a scan withheld is found by later steps of the same
// scan as a real run would find it: existing, with nothing in it.
bool IsWithheldKey(const wchar_t* root, const char* path);
