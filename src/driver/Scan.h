#pragma once
// What a cleaning and a restoration run would find on this machine, with
// nothing changed: the question an unattended run asks before it changes
// anything, so that a clean machine is left as it is.
#include <windows.h>

#include <cstdint>

// A scan result (ScanReport.h): rootkit traces (a hijacked COM row, an
// infected services.exe) whatever else was found, else service records that
// differ from the known-good table, else a check that could not be made, else
// nothing; or CleanSystemUnsupported (3) for a Windows the cleaner does not know.
int RunScan(const OSVERSIONINFOEXW& version);

// Whether the restoration would change anything on this machine.
bool ServicesDifferFromKnownGood(uint32_t versionCode);
