#pragma once
// How the log names the registry roots the repair works below.
#include <windows.h>

// "HKCR\", "HKCU\" or "HKLM\" before a key path; "" for any other root.
const char* RegistryRootPathPrefix(HKEY root);

// "HKCR", "HKCU" or "HKLM"; "hk" for any other root.
const wchar_t* RegistryRootShortName(HKEY root);

// "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE", as
// registry scripts name them; "" for any other root.
const wchar_t* RegistryRootFullName(HKEY root);
