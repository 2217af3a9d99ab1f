#pragma once
// Bounded building of wide paths. Every function leaves the destination
// unchanged and returns false when the result with its NUL would not fit.
#include <cstddef>

#include "win/BoundedString.h"

// Room for the longest path the system accepts behind the "\\?\" prefix
// (32767 characters) and its NUL.
constexpr size_t kLongPathCapacity = 32768;

// Joins component to path with one backslash between them, as the shell's
// path append does, but with no limit of its own and no rewriting of ".",
// ".." or trailing dots, so that planted names are addressed exactly.
bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* component);

// The same with a component of `length` characters that need not end in a
// NUL (a name as a directory listing gives it).
bool JoinPathCounted(wchar_t* path, size_t capacity, const wchar_t* component, size_t length);
