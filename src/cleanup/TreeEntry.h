#pragma once
// One entry of the tree being removed, opened relative to its open parent
// and checked through its own handle against what the parent's listing said
// of it. A later rename or link in the tree cannot redirect the handle.
#include <windows.h>

#include "cleanup/DirectoryListing.h"
#include "cleanup/NtFile.h"
#include "win/ScopedHandle.h"

struct TreeEntry {
    ScopedHandle handle;  // the entry itself, never what a link leads to; empty when it could not be opened
    ULONG attributes;     // as the listing gave them
    bool replaced;        // the handle is not what was listed (swapped since, or a link the system followed): left alone
    bool directory;       // a directory to walk (not a link)
    bool link;            // a reparse point: removed as itself, never entered
    bool shared;          // a file with other names: its security and attributes stay as they are
    bool deletable;       // opened with DELETE: may be deleted and moved
    bool lockedDown;      // now has the security of FilePermissions.h, read back

    TreeEntry();
};

// Opens listed, an entry of the open directory parent, and locks it down
// unless it is shared or replaced. The handle refuses others deletion and
// renaming while it is held.
void OpenTreeEntry(const NtFileApi& api, HANDLE parent, const ListedEntry& listed, TreeEntry* entry);

// Opens a directory on the way down to the tree (the drive root when parent
// is null and name an absolute native name), only to traverse it: false
// unless it is a plain directory, not a link, and the one its parent lists.
bool OpenPathDirectory(const NtFileApi& api, HANDLE parent, const ListedEntry* listed, const wchar_t* name,
                       size_t length, ScopedHandle* directory);

// Deletes the entry through its handle: a file not shared has its read-only,
// hidden and system attributes cleared first. The entry is gone when the
// handle closes. Returns the status.
LONG DeleteTreeEntry(const NtFileApi& api, TreeEntry* entry);
