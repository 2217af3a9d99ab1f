#pragma once

// Replaces the DACL of one file or directory by a single entry that grants
// Everyone full access, logs the outcome with the path and returns it. A
// reparse point (junction, symbolic link) gets the new DACL itself; what it
// points at is left alone.
bool GrantEveryoneFullAccess(const wchar_t* path);
