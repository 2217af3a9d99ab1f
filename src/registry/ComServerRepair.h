#pragma once
// The cleaning run's repair of the four COM classes whose in-process server
// the rootkit redirects: each default value is set back to the system's own
// module, unexpanded, as REG_EXPAND_SZ, in two registry views per class.
#include <windows.h>

#include "registry/PrivilegedKeyOpen.h"

#include <cstdint>

// The eight repairs in order; the fourth class's module follows the Windows
// generation (shell32 from Vista on, shdocvw before).
void RepairComServerPaths(uint32_t versionCode);

// True when a row's default value is present and differs from what the
// repair writes (the rootkit's redirection). Reads only.
bool ComServerPathsHijacked(uint32_t versionCode);

// One repair: logs the old value (whole, whatever its length; an absent one
// as empty) and the new value, or the step that failed. The key is opened
// for query and set value only, through OpenLockedKey when its DACL refuses
// even that (the key keeps its security). A missing key is reported and
// never created.
void ReplaceDefaultValue(const wchar_t* newData, HKEY root, const wchar_t* subKey,
                         const KeySecurityCalls& calls = SystemKeySecurityCalls());

// "<text> <root>\<subKey> <value>"; a null value prints nothing, an empty
// one two double quotes.
void LogRegistryLine(const wchar_t* text, HKEY root, const wchar_t* subKey, const wchar_t* value);
