#pragma once
#include <windows.h>

// Called for each entry of a walk with the entry's full path.
typedef void (*WalkCallback)(const wchar_t* path);

// Called with a directory whose listing was refused for want of access;
// true when the listing is worth one more try.
typedef bool (*RefusedListingCallback)(const wchar_t* dir);

// Starts the listing of a directory as FindFirstFileW does. The seam for a
// system that enforces directory security, which Wine running as root does
// not.
typedef HANDLE(WINAPI* FindFirstFunction)(const wchar_t* pattern, WIN32_FIND_DATAW* data);

// Visits everything below dir, depth first, in the order the system lists
// the entries: the callback gets each file, and each subdirectory after its
// contents. Reparse points (junctions, directory links) are handed to the
// callback like files and never entered. Paths carry dir's prefix ("\\?\")
// and may be as long as the system allows. A directory whose listing is
// refused for want of access goes to refused, if given, and is listed once
// more when it returns true; one that still cannot be listed is handed to the
// callback as it is. Returns silently when dir cannot be listed.
void WalkDirectory(const wchar_t* dir, WalkCallback callback, RefusedListingCallback refused = nullptr,
                   FindFirstFunction findFirst = FindFirstFileW);
