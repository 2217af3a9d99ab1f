#pragma once
// The restoration run's pass over the known-good table: the Windows family
// from the OS version code, the two key-security privileges, then every
// record of that family in table order.
#include "registry/KeySecurity.h"
#include "registry/KnownGoodRecord.h"

#include <cstdint>

struct ServicesFamily {
    uint32_t code;            // the records' osFamily
    const wchar_t* logLine;   // "Processing Windows ... services restoration"
};

// Compares the whole 32-bit code: 5.2 workstation (XP x64) is the XP family.
ServicesFamily ChooseServicesFamily(uint32_t versionCode);

// Enables SeSecurityPrivilege and SeTakeOwnershipPrivilege for the rest of the
// process. False when the token cannot be opened or a name not looked up; a
// token that lacks a privilege is not detected (the key steps report it).
bool EnableRestorePrivileges();

using PrivilegeStep = bool (*)();

// The pass over `table`; `enablePrivileges` and `calls` are replaced only by
// tests.
void RestoreServicesFromTable(uint32_t versionCode, const KnownGoodTable& table,
                              PrivilegeStep enablePrivileges = EnableRestorePrivileges,
                              const KeySecurityCalls& calls = SystemKeySecurityCalls());

// The pass over the table built into the program (needs vorn_registry_data).
void RestoreServices(uint32_t versionCode);
