#pragma once
// The walk of a directory tree on handles: every directory is opened once,
// relative to its parent, checked through its handle and held while its
// entries are listed and removed, so that no rename or link planted during
// the walk can lead it outside the tree.
#include <windows.h>

#include "cleanup/NtFile.h"
#include "cleanup/TreeEntry.h"

// Called with each entry of a walk, open, and its full path.
typedef void (*WalkCallback)(void* context, TreeEntry* entry, const wchar_t* path);

// Visits everything below the open directory root, whose full path is
// rootPath, depth first, in the order the system lists the entries: the
// callback gets each file and link, and each subdirectory after its
// contents, its handle still open. Links (junctions, directory links) are
// never entered. Paths carry rootPath's prefix ("\\?\") and may be as long as
// the system allows. query lists a directory (NtQueryDirectoryFile). The walk
// keeps its levels on the heap: a planted tree of any depth cannot exhaust
// the stack.
void WalkDirectory(const NtFileApi& api, HANDLE root, const wchar_t* rootPath, DirectoryQuery query,
                   WalkCallback callback, void* context);
