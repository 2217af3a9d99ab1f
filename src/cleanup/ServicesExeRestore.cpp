#include "cleanup/ServicesExeRestore.h"

#include "cleanup/ServicesExeCheck.h"
#include "cleanup/ServicesExePath.h"
#include "cleanup/ServicesExeVersion.h"
#include "logging/Log.h"
#include "win/ScopedFindHandle.h"
#include "win/LogDirectory.h"
#include "win/ScopedHandle.h"
#include "win/Wow64.h"

#include <windows.h>

namespace {

const char BackupName[] = "services.exe.infected";
// GetTempFileNameA makes "svcXXXX.tmp" beside the image.
const char StagedCopyPrefix[] = "svc";

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

// Which file a name leads to: two names of one file (hard links) share it.
struct FileIdentity {
    DWORD volumeSerial;
    DWORD indexHigh;
    DWORD indexLow;
};

bool ReadFileIdentity(const char* path, FileIdentity* identity)
{
    ScopedHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &information))
        return false;
    identity->volumeSerial = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

// What the image is: its version and its file identity, read from the native
// system directory.
struct InfectedImage {
    ULONGLONG version;
    bool identityKnown;
    FileIdentity identity;
};

InfectedImage ExamineInfectedImage(const char* path)
{
    InfectedImage image = {0, false, {0, 0, 0}};
    FsRedirectionGuard nativeSystemDirectory;
    image.version = GetFileVersionNumber(path);
    image.identityKnown = ReadFileIdentity(path, &image.identity);
    return image;
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

// A store copy replaces the image only when it has the image's version,
// passes the infection check itself, and is not the image under another name:
// on Vista and later the image is a hard link into the store, so a patched
// image is patched there too.
bool IsCleanCopyOf(const InfectedImage& image, const char* candidate)
{
    if (GetFileVersionNumber(candidate) != image.version)
        return false;
    if (JudgeImage(candidate) != ImageVerdict::HasDynamicBase)
        return false;
    FileIdentity identity;
    return ReadFileIdentity(candidate, &identity) && !SameFile(identity, image.identity);
}

// The first acceptable services.exe of the component store, in search order.
// An unknown version (0) or identity matches nothing: an unverified image
// must never replace the service control manager.
bool LocateCleanCopy(const char* pattern, const char* storeDirectory, const InfectedImage& image,
                     char (&candidate)[MAX_PATH])
{
    if (image.version == 0 || !image.identityKnown)
        return false;
    WIN32_FIND_DATAA entry;
    ScopedFindHandle search(FindFirstFileA(pattern, &entry));
    if (!search.IsValid())
        return false;
    do {
        if (FormCandidatePath(storeDirectory, entry, candidate) && IsCleanCopyOf(image, candidate))
            return true;
    } while (FindNextFileA(search.Get(), &entry));
    return false;
}

// Made once: an existing backup file (from an earlier run) is kept; anything
// else in the way (a directory) gets the attempt, which then fails.
bool BackUpInfectedImage(const char* imagePath)
{
    char backupPath[MAX_PATH];
    if (!CopyBounded(backupPath, MAX_PATH, LogDirectoryPrefixA()) || !AppendBounded(backupPath, MAX_PATH, BackupName))
        return false;
    const DWORD attributes = GetFileAttributesA(backupPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return true;
    LogInfo(L"Making backup of current services.exe");
    FsRedirectionGuard nativeSystemDirectory;
    return CopyFileA(imagePath, backupPath, TRUE) != FALSE;
}

// Copies the clean store file to a new file beside the image, so that the
// restart moves the copy and the store keeps its own file.
bool StageCleanCopy(const char* candidate, char (&staged)[MAX_PATH])
{
    char systemDirectory[MAX_PATH];
    if (!GetSystemDirectoryNarrow(systemDirectory))
        return false;
    FsRedirectionGuard nativeSystemDirectory;
    if (GetTempFileNameA(systemDirectory, StagedCopyPrefix, 0, staged) == 0)
        return false;
    if (!CopyFileA(candidate, staged, FALSE)) {
        DeleteFileA(staged);
        return false;
    }
    return true;
}

bool ScheduleReplacement(const char* staged, const char* imagePath)
{
    FsRedirectionGuard nativeSystemDirectory;
    if (MoveFileExA(staged, imagePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        return true;
    DeleteFileA(staged);
    return false;
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
    const InfectedImage image = ExamineInfectedImage(imagePath);
    LogInfectedVersion(image.version);

    char candidate[MAX_PATH];
    if (!LocateCleanCopy(pattern, storeDirectory, image, candidate)) {
        LogInfo(L"Failed to locate clean services.exe");
        return false;
    }
    LogInfo(L"Located clean services exe: %hs", candidate);
    // Nothing is scheduled without a copy of what it replaces.
    if (!BackUpInfectedImage(imagePath))
        return false;
    char staged[MAX_PATH];
    if (!StageCleanCopy(candidate, staged) || !ScheduleReplacement(staged, imagePath)) {
        LogInfo(L"Failed to schedule replacement of services.exe");
        return false;
    }
    return true;
}
