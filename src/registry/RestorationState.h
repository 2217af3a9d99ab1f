#pragma once
// What the machine says about the unattended restoration, in the native view:
// HKLM\Software\VORN\Tarnvex.EV Cleaner, value "Restoration" (REG_SZ):
// "pending", "done <UTC time> exit <code>" or "failed <UTC time> exit <code>".
#include <windows.h>

enum class RestorationState { None, Pending, Done, Failed };

extern const wchar_t kRestorationStateKey[];    // below HKEY_LOCAL_MACHINE
extern const wchar_t kRestorationStateValue[];

// None when the value is missing or unreadable, or holds anything else.
RestorationState ReadRestorationState();

// Writes "pending"; what it replaces goes into the run's registry backup.
bool RecordRestorationPending();

// Writes "done ..." (or "failed ..." when `failed`) with the time and the code.
bool RecordRestorationOutcome(bool failed, int exitCode);
