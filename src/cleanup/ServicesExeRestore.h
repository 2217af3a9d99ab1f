#pragma once
// The service host image replacement: backs up the infected services.exe to
// "RA Ravariv\services.exe.infected" (relative to the current directory),
// copies a clean store file of the same version beside it, gives the copy the
// image's own owner, group and DACL and schedules it to be moved over the
// image at the next restart. The component store keeps its own file.
#include <windows.h>

// The file security calls of the copy's last step. Wine keeps no descriptor
// of a file's own (it makes one up from the Unix mode bits) and takes any
// owner; tests put models of Windows' rules in their place.
struct FileSecurityCalls {
    decltype(&GetKernelObjectSecurity) get;
    decltype(&SetKernelObjectSecurity) set;
};

inline FileSecurityCalls SystemFileSecurityCalls()
{
    return FileSecurityCalls{GetKernelObjectSecurity, SetKernelObjectSecurity};
}

// True when a clean copy was found (same version and PE machine type, with
// the address-space randomisation flag, not the image itself under another
// name), the image was backed up (or a backup from an earlier run exists),
// the copy took the image's security (a TrustedInstaller owner with
// SeRestorePrivilege, enabled for that call) and the move was scheduled;
// false otherwise, with nothing scheduled. Switches WoW64 file-system
// redirection off around each call that names the native system directory.
bool RestoreServicesExe(const FileSecurityCalls& calls = SystemFileSecurityCalls());
