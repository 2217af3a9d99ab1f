#pragma once
// The shutdown privilege and the restart that ends every completed run.
#include <windows.h>

// Sets SeShutdownPrivilege in the token to enabled (or removed); logs the
// failing step at debug level.
bool SetPrivilege(HANDLE token, bool enable);

// Enables SeShutdownPrivilege in the process token.
bool EnableShutdownPrivilege();

// Asks the system for an immediate, planned restart (security fix).
bool InitiateRestart();

// The same after kUnattendedRestartDelay seconds, so that the tool that
// started the run collects its exit code before the system goes down.
const DWORD kUnattendedRestartDelay = 60;
bool InitiateDelayedRestart();

// The two steps of the restart, replaceable where a test cannot restart.
struct RestartSteps {
    bool (*enableShutdownPrivilege)();
    bool (*initiateRestart)();
    bool (*initiateDelayedRestart)();
};

inline RestartSteps SystemRestartSteps()
{
    return RestartSteps{EnableShutdownPrivilege, InitiateRestart, InitiateDelayedRestart};
}
