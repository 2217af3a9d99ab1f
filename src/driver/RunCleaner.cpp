#include "driver/RunCleaner.h"

#include <windows.h>

#include <conio.h>
#include <cstdio>

#include "driver/CleanSystem.h"
#include "driver/CommandLine.h"
#include "driver/Console.h"
#include "driver/PlatformProbe.h"
#include "driver/Scan.h"
#include "driver/UnattendedRun.h"
#include "logging/Log.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryUndo.h"
#include "registry/RestartRegistration.h"
#include "win/BoundedString.h"
#include "win/LogDirectory.h"

namespace {

const size_t kUndoPathCapacity = 1024;
// The notice of the runs that end with their changes made: the restoration
// and the undo.
const char kRebootForChangesNotice[] =
    "System has to be rebooted for changes to come in effect. You should save all your work and press any key to "
    "reboot...\n";

// The run's start time in UTC, logged; it also names the registry backup.
SYSTEMTIME LogStartTime()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    LogInfo(L"--------------------------------------------------------------");
    LogInfo(L"Log started %04d.%02d.%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
            now.wSecond);
    return now;
}

// A relative name is one in the log directory, where the runs write their
// backups.
bool BackupFilePath(const wchar_t* name, wchar_t (&path)[kUndoPathCapacity])
{
    const bool absolute = name[0] == L'\\' || name[0] == L'/' || (name[0] != L'\0' && name[1] == L':');
    return absolute ? CopyBounded(path, kUndoPathCapacity, name)
                    : CopyBounded(path, kUndoPathCapacity, LogDirectoryPrefix()) &&
                          AppendBounded(path, kUndoPathCapacity, name);
}

// Applies the backup and says on the console what came of it; true when
// something was applied (the run then ends as a restoration does).
bool UndoRun(const wchar_t* name)
{
    wchar_t path[kUndoPathCapacity];
    if (!BackupFilePath(name, path)) {
        printf("The file name \"%ls\" is too long. Nothing was changed.\n", name);
        return false;
    }
    const UndoOutcome outcome = UndoRegistryBackup(path);
    switch (outcome.result) {
    case UndoResult::NotOpened:
        printf("Couldn't read the registry backup \"%ls\". Nothing was changed.\n", path);
        return false;
    case UndoResult::NotABackup:
        printf("The file \"%ls\" is not a registry backup written by this program (line %u). Nothing was "
               "changed.\n",
               path, static_cast<unsigned>(outcome.failedLine));
        return false;
    case UndoResult::Damaged:
        printf("The registry backup \"%ls\" is cut short or damaged (line %u). Nothing was changed.\n", path,
               static_cast<unsigned>(outcome.failedLine));
        return false;
    case UndoResult::Done:
    case UndoResult::DoneWithFailures:
        break;
    }
    if (!outcome.complete)
        printf("The registry backup \"%ls\" is incomplete: its run did not end. What that run changed until it "
               "stopped was taken back.\n",
               path);
    if (outcome.result == UndoResult::Done)
        printf("The registry changes recorded in \"%ls\" were taken back.\n", path);
    else
        printf("The registry changes recorded in \"%ls\" were taken back; some steps failed (see the log).\n",
               path);
    return true;
}

// Asks whether the disabled services should be restored after the restart;
// true for 'y' or 'Y'.
bool AskForServicesRestoration()
{
    printf("It is recommended to restore some system services that might have been disabled by malware. Do you "
           "want to do that (y/n)?\n");
    const int key = _getch();
    return key == 'y' || key == 'Y';
}

}  // namespace

int RunCleaner(int argc, wchar_t** argv, void (*queryOsVersion)(OSVERSIONINFOEXW&), UnattendedReport* unattended)
{
    PrintBanner();
    const SYSTEMTIME started = LogStartTime();

    OSVERSIONINFOEXW version;
    (queryOsVersion ? queryOsVersion : QueryOsVersion)(version);
    if (version.dwMajorVersion == 0)
        return RunResultNoVersion;
    ReportOsInformation(version);
    const CommandLine command = ParseCommandLine(argc, argv);
    // A scan asks nothing, waits for no key and ends without a restart.
    if (command.mode == RunMode::Scan)
        return RunScan(version);
    if (unattended != nullptr && command.mode != RunMode::Undo)
        return RunUnattended(argc, argv, version, started, unattended);

    // Every registry change of the run, from the COM repair to the restart
    // registration, is backed up first; the undo's own changes too, so that
    // it can be taken back in turn.
    BeginRegistryBackup(started);
    if (command.mode == RunMode::Undo) {
        const bool undone = UndoRun(command.undoFile);
        EndRegistryBackup();
        if (!undone)
            return RunResultUndoRefused;
        PrintFinishedNotice();
        if (unattended != nullptr) {
            unattended->restartNeeded = true;
            return RunResultRestart;
        }
        printf("%s", kRebootForChangesNotice);
        _getch();
        return RunResultRestart;
    }
    bool restorationMode = false;
    const int cleaned = CleanSystem(argc, argv, version, &restorationMode);
    if (cleaned != CleanSystemDone) {
        EndRegistryBackup();
        return cleaned;
    }

    // Without the registration the restoration does not follow the restart:
    // the user is told that cleaning is finished and runs "-r" by hand.
    const bool restorationRegistered = !restorationMode && AskForServicesRestoration() && RegisterRestartRun();
    EndRegistryBackup();

    PrintFinishedNotice();
    if (restorationMode)
        printf("%s", kRebootForChangesNotice);
    else if (restorationRegistered)
        printf("System has to be rebooted to continue cleaning. You should save all your work and press any key "
               "to reboot...\n");
    else
        printf("System has to be rebooted to finish cleaning. You should save all your work and press any key to "
               "reboot...\n");
    _getch();
    return RunResultRestart;
}
