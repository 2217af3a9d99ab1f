#pragma once
// Owns a kernel object handle (CloseHandle). Both null and
// INVALID_HANDLE_VALUE count as empty, since the APIs use either.
#include <windows.h>

#include "win/UniqueResource.h"

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using ScopedHandle = UniqueResource<HANDLE, KernelHandleTraits>;
