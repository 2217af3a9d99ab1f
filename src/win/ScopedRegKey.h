#pragma once
// Owns an opened registry key (RegCloseKey). Never holds a predefined root
// such as HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "win/UniqueResource.h"

struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
using ScopedRegKey = UniqueResource<HKEY, RegKeyTraits>;
