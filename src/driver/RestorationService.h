#pragma once
// The restoration at the next start without a logon: the unattended cleaning
// run copies the program into a new directory that only the administrators
// and LocalSystem may change and registers the copy as a temporary service
// (own process, automatic start, LocalSystem). At the next start the service
// manager starts it with "-silent -r -service"; it runs the restoration,
// records the outcome, removes its own registration and has its copy removed
// at the restart after.
#include <windows.h>

extern const wchar_t kRestorationServiceName[];

// True when the service is registered (by an earlier run or now).
bool RestorationServiceRegistered();

// Copies the program and registers the service; the command line carries the
// log directory (an absolute path) and, when given, "-norestart". Logs each
// step; false when the service is not registered.
bool RegisterRestorationService(const wchar_t* logDirectory, bool noRestart);

// The service's side, in the service process: the command line to run once
// the service manager has the process, and the code it exits with.
typedef int (*ServiceRun)(int argc, wchar_t** argv);
int RunAsRestorationService(int argc, wchar_t** argv, ServiceRun run);

// At the end of the service's run: deletes its registration and schedules
// the removal of the copy and its directory at the next restart. Logs what
// fails.
void RetireRestorationService();
