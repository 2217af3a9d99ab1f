#pragma once
// One record of the known-good registry table: a key, the security it must
// carry and the values it must hold, for one Windows family.
#include <windows.h>

#include <cstddef>
#include <cstdint>

struct KnownGoodRecord {
    uint32_t osFamily;          // OS family code 0 to 5
    uint32_t keepExisting;      // 1: values that differ are left as they are
    HKEY root;                  // always HKEY_LOCAL_MACHINE
    const char* keyPath;        // below root, narrow
    const char* sddl;           // security descriptor, SDDL revision 1
    const wchar_t* valueLines;  // value block: NUL-ended lines, closed by an empty line
};

struct KnownGoodTable {
    const KnownGoodRecord* records;
    size_t count;
};

// The table built into the program: every family's records, in family order.
KnownGoodTable BuiltInKnownGoodTable();
