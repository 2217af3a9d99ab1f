#pragma once
// The unattended run ("-silent"): no question, no key wait; the restoration
// follows when the services differ from the known-good table, through the
// restoration service; the exit code tells a deployment tool what happened.
#include <windows.h>

#include "driver/FailedStepWatch.h"
#include "driver/Restart.h"

const int UnattendedNothingDone = 0;
const int UnattendedStepFailed = 1;
const int UnattendedRestartInitiated = 1641;
const int UnattendedRestartNeeded = 3010;

// What the run found and did, for the exit code and the summary line.
struct UnattendedReport {
    bool restoration = false;          // a "-r" run
    bool tracesFound = false;          // a hijacked COM row or an infected services.exe
    bool servicesDiffered = false;     // before the run
    bool restorationScheduled = false;
    bool restorationPending = false;   // registered by an earlier run
    bool restartNeeded = false;        // the run changed something that takes effect at the restart
};

// The run flow's unattended part, after the banner, the start time and the
// platform report: the checks, the cleaning sequence or the restoration, and
// the restoration service. Returns RunResultRestart when the run changed
// something, 0 when it changed nothing, or the cleaning sequence's refusal.
int RunUnattended(int argc, wchar_t** argv, const OSVERSIONINFOEXW& version, const SYSTEMTIME& started,
                  UnattendedReport* report);

// After the run flow: the restart (delayed; not with -norestart), the
// service's own retirement and recorded outcome, the summary line; returns
// the exit code. `watch` has counted the steps that failed.
int FinishUnattendedRun(int runResult, bool noRestart, bool asService, const FailedStepWatch& watch,
                        const UnattendedReport& report, const RestartSteps& restart);
