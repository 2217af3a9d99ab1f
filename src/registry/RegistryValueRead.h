#pragma once
// Reading a registry value whole, at whatever size it has: the repair compares
// it, logs it and backs it up.
#include <windows.h>

#include "registry/HeapBytes.h"

struct RegistryValueData {
    DWORD type = REG_NONE;
    DWORD size = 0;   // bytes of the value
    HeapBytes data;   // the value, then `spare` zero bytes
};

// Reads the value `name` (null: the default value) of an open key, again when
// it grows between the size query and the read. ERROR_SUCCESS, or the
// registry's error (ERROR_FILE_NOT_FOUND for a missing value); on a failure
// `value` holds no data.
LONG ReadRegistryValue(HKEY key, const wchar_t* name, RegistryValueData* value, DWORD spare = 0);

// Tests: the registry call behind every read above (null puts back
// RegQueryValueExW). A value Windows refuses to read (a key handle without
// KEY_QUERY_VALUE) reads under Wine as an administrator all the same, so a
// test puts a refusing stand-in here.
typedef LONG(WINAPI* RegistryValueQuery)(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                         LPDWORD size);
void SetRegistryValueQuery(RegistryValueQuery query);
