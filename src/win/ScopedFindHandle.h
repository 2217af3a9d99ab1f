#pragma once
// Owns a directory search opened by FindFirstFile (FindClose). Search handles
// are not kernel handles: CloseHandle is wrong for them.
#include <windows.h>

#include "win/UniqueResource.h"

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
using ScopedFindHandle = UniqueResource<HANDLE, FindHandleTraits>;
