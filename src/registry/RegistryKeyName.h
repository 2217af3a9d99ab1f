#pragma once
// The name of the key a handle refers to, as registry scripts name it
// ("HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\..."): one key reached under two
// names (HKEY_CLASSES_ROOT\CLSID\... and HKLM\Software\Classes\CLSID\..., or
// the user's classes) has one name here, the one of the key the registry
// really opened.
#include <windows.h>

#include <cstddef>

// Asks the registry for the key's own name; where it cannot tell, the name is
// formed from root and subKey, with HKEY_CLASSES_ROOT taken as
// HKLM\Software\Classes, where writes through it land unless the user's
// classes hold the key. False when the name does not fit `capacity`.
bool RegistryKeyScriptName(HKEY key, HKEY root, const wchar_t* subKey, wchar_t* name, size_t capacity);

// The same for a key not opened (one that may be missing): the registry's
// name of its nearest existing parent and the missing rest.
bool RegistryKeyScriptNameOf(HKEY root, const wchar_t* subKey, wchar_t* name, size_t capacity);

// Splits a script name into its root and the path below it; false for a root
// the program does not write.
bool SplitRegistryKeyScriptName(const wchar_t* name, HKEY* root, const wchar_t** subKey);
