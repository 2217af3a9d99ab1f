#pragma once

// Replaces the DACL of one file or directory by a single entry that grants
// Everyone full access, logs the outcome with the path and returns it. A
// reparse point (junction, symbolic link) gets the new DACL itself; what it
// points at is left alone.
bool GrantEveryoneFullAccess(const wchar_t* path);

enum class FileSecurity {
    Replaced,   // Everyone has full access; logged
    Unchanged,  // the change failed; logged
    Shared,     // other names, or none that could be counted: left alone; logged only as
                // a failure when the file could not be opened at all
};

// GrantEveryoneFullAccess for a file whose only name is path. Security and
// attributes belong to the file, not to the name: one with other links (a
// planted link to a system file, say) keeps both.
FileSecurity GrantEveryoneFullAccessUnlessShared(const wchar_t* path);
