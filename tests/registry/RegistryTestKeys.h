#pragma once
// Scratch keys for the registry repair tests: each test works below a key of
// its own in the test's throw-away prefix and reads back what was stored.
#include <windows.h>

#include "support/TokenState.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct StoredValue {
    bool exists = false;
    DWORD type = REG_NONE;
    Bytes bytes;
};

// "Software\VornRegistryTest\<name>", emptied of anything an earlier test left.
std::wstring FreshScratchPath(HKEY root, const std::wstring& name);
std::string Narrow(const std::wstring& ascii);

bool KeyExists(HKEY root, const std::wstring& path);
void DeleteKeyTree(HKEY root, const std::wstring& path);
// Creates the key when missing; a null name is the default value. The bytes
// are stored exactly as given (through NtSetValueKey: Wine's RegSetValueExW
// adds a missing NUL to string data, which Windows does not).
void StoreValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const Bytes& bytes);
StoredValue ReadStoredValue(HKEY root, const std::wstring& path, const wchar_t* name);

// Owner, group and DACL of a key as SDDL text; empty when unreadable.
std::string KeySecurityString(HKEY root, const std::wstring& path);
// Sets owner, group and DACL from SDDL text; where the key refuses that, only
// the DACL, through the owner's implicit right to it (a DACL that locks the
// test out is lifted so).
void SetKeySecurityString(HKEY root, const std::wstring& path, const char* sddl);

// UTF-16LE bytes of `text`, with the terminating NUL unless told otherwise.
Bytes Utf16(const std::wstring& text, bool withNul = true);
Bytes DwordBytes(uint32_t value);
