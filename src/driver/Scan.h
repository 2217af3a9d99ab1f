#pragma once
// The scan ("-scan"): the phases of a cleaning run and then those of a
// restoration run, in their order and through their own code, with every
// change withheld (win/MachineChange.h) and reported instead. No question,
// no key wait, no registry backup, no restart; only the log is written.
#include <windows.h>

#include <cstdint>

// Runs after the platform report. Returns a scan result (ScanReport.h), or
// the cleaning sequence's refusal of an unsupported Windows version (3).
int RunScan(const OSVERSIONINFOEXW& version);

// Whether the restoration would change anything on this machine: its pass
// run with every change withheld (its "Would ..." lines reach the log).
bool ServicesDifferFromKnownGood(uint32_t versionCode);
