#pragma once

// Called for each entry of a walk with the entry's full path.
typedef void (*WalkCallback)(const wchar_t* path);

// Visits everything below dir, depth first, in the order the system lists
// the entries: the callback gets each file, and each subdirectory after its
// contents. Reparse points (junctions, directory links) are handed to the
// callback like files and never entered. Paths carry dir's prefix ("\\?\")
// and may be as long as the system allows. Returns silently when dir cannot
// be listed.
void WalkDirectory(const wchar_t* dir, WalkCallback callback);
