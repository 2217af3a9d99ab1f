#include "cleanup/ServicesExeRestore.h"

#include "cleanup/ServicesExePath.h"
#include "cleanup/ServicesExeVersion.h"
#include "logging/Log.h"
#include "win/ScopedFindHandle.h"

#include <windows.h>

namespace {

const char BackupPath[] = "RA Ravariv\\services.exe.infected";

// "<windows>\winsxs\*microsoft-windows-s*" and "<windows>\winsxs\".
bool FormComponentStorePaths(char (&pattern)[MAX_PATH], char (&storeDirectory)[MAX_PATH])
{
    if (!GetWindowsDirectoryNarrow(pattern))
        return false;
    storeDirectory[0] = '\0';
    return AppendBounded(storeDirectory, MAX_PATH, pattern) &&
           AppendBounded(pattern, MAX_PATH, "\\winsxs\\*microsoft-windows-s*") &&
           AppendBounded(storeDirectory, MAX_PATH, "\\winsxs\\");
}

void LogInfectedVersion(ULONGLONG version)
{
    const DWORD high = static_cast<DWORD>(version >> 32);
    const DWORD low = static_cast<DWORD>(version);
    LogInfo(L"Current infected services.exe version: %d.%d.%d.%d", static_cast<int>(HIWORD(high)),
            static_cast<int>(LOWORD(high)), static_cast<int>(HIWORD(low)), static_cast<int>(LOWORD(low)));
}

// The component store entry's services.exe when the entry is a directory
// holding such a file, and the path fits.
bool FormCandidatePath(const char* storeDirectory, const WIN32_FIND_DATAA& entry, char (&candidate)[MAX_PATH])
{
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    candidate[0] = '\0';
    if (!AppendBounded(candidate, MAX_PATH, storeDirectory) ||
        !AppendBounded(candidate, MAX_PATH, entry.cFileName) ||
        !AppendBounded(candidate, MAX_PATH, "\\services.exe"))
        return false;
    const DWORD attributes = GetFileAttributesA(candidate);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The first services.exe of the component store, in search order, whose
// version equals version. An unknown version (0) matches nothing: an
// unverified image must never replace the service control manager.
bool LocateCleanCopy(const char* pattern, const char* storeDirectory, ULONGLONG version,
                     char (&candidate)[MAX_PATH])
{
    if (version == 0)
        return false;
    WIN32_FIND_DATAA entry;
    ScopedFindHandle search(FindFirstFileA(pattern, &entry));
    if (!search.IsValid())
        return false;
    do {
        if (FormCandidatePath(storeDirectory, entry, candidate) && GetFileVersionNumber(candidate) == version)
            return true;
    } while (FindNextFileA(search.Get(), &entry));
    return false;
}

// Made once: an existing backup file is kept; anything else in the way
// (a directory) gets the attempt, which then fails.
void BackUpInfectedImage(const char* imagePath)
{
    const DWORD attributes = GetFileAttributesA(BackupPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return;
    LogInfo(L"Making backup of current services.exe");
    CopyFileA(imagePath, BackupPath, TRUE);
}

}  // namespace

bool RestoreServicesExe()
{
    char imagePath[MAX_PATH];
    if (!FormServicesExePath(imagePath))
        return false;
    char pattern[MAX_PATH];
    char storeDirectory[MAX_PATH];
    if (!FormComponentStorePaths(pattern, storeDirectory)) {
        LogInfo(L"Failed to get windows path");
        return false;
    }
    const ULONGLONG version = GetFileVersionNumber(imagePath);
    LogInfectedVersion(version);

    char candidate[MAX_PATH];
    if (!LocateCleanCopy(pattern, storeDirectory, version, candidate)) {
        LogInfo(L"Failed to locate clean services.exe");
        return false;
    }
    LogInfo(L"Located clean services exe: %hs", candidate);
    BackUpInfectedImage(imagePath);
    if (!MoveFileExA(candidate, imagePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogInfo(L"Failed to schedule replacement of services.exe");
        return false;
    }
    return true;
}
