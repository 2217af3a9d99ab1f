#pragma once
// What a scan found, gathered from the changes the steps would make
// (win/MachineChange.h) and the verdicts the run sequence hands over, and
// reported in the log and on the console. Every call is a no-op outside a
// scan, so that the run sequence makes them in every mode.
#include "cleanup/ServicesExeCheck.h"

#include <cstddef>

enum class ScanPhase { None, ComRepair, ServiceHostImage, MalwareRemoval, RemovalNotReached, Restoration };

// Starts collecting: observes the withheld changes from here on.
void BeginScanReport();

// The step the run sequence enters next.
void NoteScanPhase(ScanPhase phase);
void NoteServicesExeVerdict(ServicesExeVerdict verdict);

// What was found, for the exit code and the summary.
struct ScanFindings {
    size_t hijackedComRows = 0;      // present and different from what the repair writes
    size_t missingComDefaults = 0;   // absent: the repair would create them
    bool servicesExeChecked = false; // the check ran (post-Vista cleaning phases)
    ServicesExeVerdict servicesExe = ServicesExeVerdict::Clean;
    bool cleanReplacementFound = false;
    bool removalReached = false;
    bool botIdDerived = false;
    size_t rootkitDirectories = 0;   // with entries; an empty one is a cleaning run's leftover
    size_t recordsDiffering = 0;
    size_t keysMissing = 0;
    size_t valuesDiffering = 0;
    size_t valuesMissing = 0;
    size_t securityDiffering = 0;
    size_t uncheckable = 0;          // checks that could not be made
    size_t withheldChanges = 0;
};

// Ends collecting, logs and prints the totals (recordsChecked: the family's
// records) and returns what was found.
ScanFindings EndScanReport(size_t recordsChecked);

const int ScanResultNothingFound = 0;
const int ScanResultUncheckable = 1;
const int ScanResultRootkitTraces = 2;
const int ScanResultServicesDiffer = 4;

// 2 for a rootkit trace (a hijacked COM row, an infected services.exe, a
// rootkit directory), else 4 when service records differ, else 1 when a
// check could not be made, else 0.
int ScanExitCode(const ScanFindings& findings);
