#include "driver/UnattendedRun.h"

#include <cstdio>
#include <cwchar>

#include "driver/CleanSystem.h"
#include "driver/CommandLine.h"
#include "driver/Console.h"
#include "driver/PlatformProbe.h"
#include "driver/RestorationService.h"
#include "driver/RunCleaner.h"
#include "driver/Scan.h"
#include "driver/ScanReport.h"
#include "logging/Log.h"
#include "registry/RegistryBackup.h"
#include "registry/RestorationState.h"
#include "win/LogDirectory.h"
#include "win/ProtectedDirectory.h"
#include "win/ScopedHandle.h"

namespace {

// The absolute path of the directory that holds the run's files, without a
// trailing separator, for the restoration service's "-log".
bool LogDirectoryPath(wchar_t (&directory)[MAX_PATH])
{
    const wchar_t* relative = LogDirectoryPrefix()[0] != L'\0' ? LogDirectoryPrefix() : L".";
    const DWORD length = GetFullPathNameW(relative, MAX_PATH, directory, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return false;
    size_t end = wcslen(directory);
    while (end > 3 && directory[end - 1] == L'\\')
        directory[--end] = L'\0';
    // A quoted argument ending in a backslash would swallow its closing quote.
    return end > 0 && directory[end - 1] != L'\\';
}

// The service writes as LocalSystem: into a directory that others may change
// (a planted link in place of the log) it does not write at all.
bool OnlyAdministratorsMayWriteDirectory(const wchar_t* directory)
{
    ScopedHandle handle(CreateFileW(directory, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    return handle.IsValid() && GetFileInformationByHandle(handle.Get(), &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           OnlyAdministratorsMayWrite(handle.Get());
}

// Registers the restoration service unless an earlier run's is still waiting.
void ScheduleRestoration(bool noRestart, UnattendedReport* report)
{
    if (ReadRestorationState() == RestorationState::Pending && RestorationServiceRegistered()) {
        LogInfo(L"Services restoration already scheduled for the next start");
        report->restorationPending = true;
        return;
    }
    wchar_t logDirectory[MAX_PATH];
    if (!LogDirectoryPath(logDirectory) || !OnlyAdministratorsMayWriteDirectory(logDirectory)) {
        LogInfo(L"Failed to register for start after reboot for services restoration: the log directory may be "
                L"changed by users other than the administrators");
        return;
    }
    if (!RegisterRestorationService(logDirectory, noRestart))
        return;
    if (!RecordRestorationPending())
        LogInfo(L"Failed to record the pending services restoration");
    report->restorationScheduled = true;
}

int RunUnattendedCleaning(int argc, wchar_t** argv, const OSVERSIONINFOEXW& version, uint32_t osVersionCode,
                          bool noRestart, UnattendedReport* report)
{
    // The scan's answer decides; the machine is changed only after it.
    const int found = RunScan(version);
    if (found == CleanSystemUnsupported)
        return found;
    if (found == ScanResultUncheckable)
        LogInfo(L"Failed to check the machine for rootkit traces; nothing changed");
    report->tracesFound = found == ScanResultRootkitTraces;
    report->servicesDiffered =
        found == ScanResultServicesDiffer || (report->tracesFound && ServicesDifferFromKnownGood(osVersionCode));
    const RestorationState state = ReadRestorationState();
    // A restored machine whose services still differ (the administrator's
    // own configuration) is not restored and restarted at every start.
    const bool restorationWanted =
        report->servicesDiffered &&
        (report->tracesFound || (state != RestorationState::Done && state != RestorationState::Failed));
    if (!report->tracesFound && !restorationWanted) {
        LogInfo(L"No rootkit traces found and no services restoration needed; nothing changed");
        return UnattendedNothingDone;
    }
    if (report->tracesFound) {
        bool restorationMode = false;
        const int cleaned = CleanSystem(argc, argv, version, &restorationMode);
        if (cleaned != CleanSystemDone)
            return cleaned;
        report->restartNeeded = true;
    }
    if (restorationWanted) {
        ScheduleRestoration(noRestart, report);
        report->restartNeeded = report->restartNeeded || report->restorationScheduled;
    }
    return report->restartNeeded ? RunResultRestart : UnattendedNothingDone;
}

void PrintSummary(int exitCode, int failedSteps, const UnattendedReport& report, bool restartInitiated)
{
    const char* found;
    if (report.restoration)
        found = report.servicesDiffered ? "services differed from the known-good table"
                                        : "services match the known-good table";
    else if (report.tracesFound)
        found = report.servicesDiffered ? "rootkit traces found, services differ from the known-good table"
                                        : "rootkit traces found";
    else
        found = report.servicesDiffered ? "no rootkit traces, services differ from the known-good table"
                                        : "no rootkit traces found";
    const char* done;
    if (report.restoration)
        done = report.servicesDiffered ? "services restored" : "nothing changed";
    else if (report.restorationScheduled)
        done = report.tracesFound ? "cleaned, services restoration scheduled for the next start"
                                  : "services restoration scheduled for the next start";
    else if (report.restorationPending)
        done = report.tracesFound ? "cleaned, services restoration already scheduled"
                                  : "services restoration already scheduled";
    else
        done = report.tracesFound ? "cleaned" : "nothing changed";
    const char* restart = restartInitiated ? "restart initiated"
                          : report.restartNeeded || report.restorationPending ? "restart needed"
                                                                            : "no restart needed";
    printf("Summary: %s; %s; %d failed steps; %s; exit code %d\n", found, done, failedSteps, restart, exitCode);
}

}  // namespace

int RunUnattended(int argc, wchar_t** argv, const OSVERSIONINFOEXW& version, const SYSTEMTIME& started,
                  UnattendedReport* report)
{
    const CommandLine line = ParseCommandLine(argc, argv);
    report->restoration = line.mode == RunMode::Restoration;
    const uint32_t osVersionCode = GetOsVersionCode(version);
    if (osVersionCode == OsVersionUnsupported) {
        bool restorationMode = false;
        return CleanSystem(argc, argv, version, &restorationMode);  // prints the refusal
    }

    BeginRegistryBackup(started);
    int result;
    if (report->restoration) {
        report->servicesDiffered = ServicesDifferFromKnownGood(osVersionCode);
        bool restorationMode = false;
        result = CleanSystem(argc, argv, version, &restorationMode);
        report->restartNeeded = result == CleanSystemDone && report->servicesDiffered;
        if (result == CleanSystemDone)
            result = report->restartNeeded ? RunResultRestart : UnattendedNothingDone;
    } else {
        result = RunUnattendedCleaning(argc, argv, version, osVersionCode, line.noRestart, report);
    }
    EndRegistryBackup();
    PrintFinishedNotice();
    return result;
}

int FinishUnattendedRun(int runResult, bool noRestart, bool asService, const FailedStepWatch& watch,
                        const UnattendedReport& report, const RestartSteps& restart)
{
    if (runResult != RunResultRestart && runResult != UnattendedNothingDone)
        return runResult;  // unsupported or undetermined Windows: as in every run
    if (asService)
        RetireRestorationService();
    bool restartInitiated = false;
    // An earlier run's restoration waits for a restart this run need not make.
    int code = report.restorationPending ? UnattendedRestartNeeded : UnattendedNothingDone;
    if (runResult == RunResultRestart) {
        code = UnattendedRestartNeeded;
        if (!noRestart) {
            restartInitiated = restart.enableShutdownPrivilege() && restart.initiateDelayedRestart();
            if (restartInitiated)
                code = UnattendedRestartInitiated;
            else
                printf("Failed to initiate system reboot. Restart your system manually.\n");
        }
    }
    const int failedSteps = watch.FailedSteps();
    if (failedSteps > 0)
        code = UnattendedStepFailed;
    if (asService && !RecordRestorationOutcome(failedSteps > 0, code))
        LogInfo(L"Failed to record the outcome of the services restoration");
    LogInfo(L"Exit code %d", code);
    PrintSummary(code, failedSteps, report, restartInitiated);
    return code;
}
