#pragma once
// The service host image replacement: backs up the infected services.exe to
// "services.exe.infected" in the run's log directory (win/LogDirectory.h),
// copies a clean store file of the same version beside it and schedules that
// copy to be moved over it at the next restart. The component store keeps its
// own file.

// True when a clean copy was found (same version, with the address-space
// randomisation flag, not the image itself under another name), the image was
// backed up (or a backup from an earlier run exists) and the move was
// scheduled; false otherwise, with nothing scheduled. Switches WoW64
// file-system redirection off around each call that names the native system
// directory.
bool RestoreServicesExe();
