#pragma once
// Which Windows the cleaner runs on, and how it reports it.
#include <windows.h>

#include <cstdint>

#include "win/OsVersionCode.h"
#include "win/Wow64.h"

// Fills the record with GetVersionExW; a failed query leaves dwMajorVersion 0.
void QueryOsVersion(OSVERSIONINFOEXW& version);

// (major << 4) | minor for 5.1, 5.2, 6.0 and 6.1, with bit 31 for servers and
// domain controllers; OsVersionUnsupported for every other version.
uint32_t GetOsVersionCode(const OSVERSIONINFOEXW& version);

// The "OS:" console line and the platform lines of the log.
void ReportOsInformation(const OSVERSIONINFOEXW& version);
