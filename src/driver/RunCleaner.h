#pragma once
#include <windows.h>

const int RunResultRestart = 5;
// "-undo FILE" refused the file: nothing was changed, no restart.
const int RunResultUndoRefused = 1;
const int RunResultNoVersion = 8;

// The run flow: banner, start time, platform report, the cleaning sequence,
// the services question, the notices and the final key press. Returns
// RunResultRestart, RunResultNoVersion, the cleaning sequence's refusal, or
// RunResultUndoRefused; a scan returns its own result (driver/ScanReport.h)
// instead of RunResultRestart.
// queryOsVersion is replaceable where a test needs a failed query.
// With `unattended`, the unattended run (see UnattendedRun.h) fills it.
struct UnattendedReport;
int RunCleaner(int argc, wchar_t** argv, void (*queryOsVersion)(OSVERSIONINFOEXW&) = nullptr,
               UnattendedReport* unattended = nullptr);
