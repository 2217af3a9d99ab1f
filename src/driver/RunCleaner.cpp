#include "driver/RunCleaner.h"

#include <windows.h>

#include <conio.h>
#include <cstdio>

#include "driver/CleanSystem.h"
#include "driver/Console.h"
#include "driver/PlatformProbe.h"
#include "driver/UnattendedRun.h"
#include "logging/Log.h"
#include "registry/RegistryBackup.h"
#include "registry/RestartRegistration.h"

namespace {

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
    if (unattended != nullptr)
        return RunUnattended(argc, argv, version, started, unattended);

    // Every registry change of the run, from the COM repair to the restart
    // registration, is backed up first.
    BeginRegistryBackup(started);
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
        printf("System has to be rebooted for changes to come in effect. You should save all your work and press "
               "any key to reboot...\n");
    else if (restorationRegistered)
        printf("System has to be rebooted to continue cleaning. You should save all your work and press any key "
               "to reboot...\n");
    else
        printf("System has to be rebooted to finish cleaning. You should save all your work and press any key to "
               "reboot...\n");
    _getch();
    return RunResultRestart;
}
