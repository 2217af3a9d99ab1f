#pragma once
// Functions of system DLLs looked up at run time: those that Windows XP lacks
// (the WoW64 calls) and those of ntdll, which has no import library entry the
// program may rely on.
#include <windows.h>

// The function `name` of the loaded module `module` (for example L"ntdll.dll"),
// or null when the module is not loaded or lacks it.
template <typename Function>
Function LookUpSystemFunction(const wchar_t* module, const char* name)
{
    HMODULE loaded = GetModuleHandleW(module);
    if (loaded == nullptr)
        return nullptr;
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, name)));
}
