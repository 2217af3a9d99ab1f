#include "cleanup/ServicesExeRestore.h"

#include "cleanup/ServicesExeCheck.h"
#include "cleanup/ServicesExePath.h"
#include "cleanup/ServicesExeVersion.h"
#include "logging/Log.h"
#include "win/ScopedFindHandle.h"
#include "win/LogDirectory.h"
#include "win/ScopedHandle.h"
#include "win/ScopedPrivileges.h"
#include "win/Wow64.h"

#include <windows.h>

#include <memory>
#include <new>

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

const SECURITY_INFORMATION ImageSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The file's owner, group and DACL (self-relative); empty when unreadable.
std::unique_ptr<unsigned char[]> ReadImageSecurity(const FileSecurityCalls& calls, const char* path)
{
    ScopedHandle file(CreateFileA(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    DWORD size = 0;
    if (!file.IsValid() || calls.get(file.Get(), ImageSecurityParts, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return nullptr;
    std::unique_ptr<unsigned char[]> descriptor(new (std::nothrow) unsigned char[size]);
    if (!descriptor || !calls.get(file.Get(), ImageSecurityParts, descriptor.get(), size, &size))
        return nullptr;
    return descriptor;
}

// What the image is: its version, machine type, file identity and security,
// read from the native system directory.
struct InfectedImage {
    ULONGLONG version;
    bool machineKnown;
    WORD machine;
    bool identityKnown;
    FileIdentity identity;
    std::unique_ptr<unsigned char[]> security;
};

InfectedImage ExamineInfectedImage(const FileSecurityCalls& calls, const char* path)
{
    InfectedImage image = {0, false, 0, false, {0, 0, 0}, nullptr};
    FsRedirectionGuard nativeSystemDirectory;
    image.version = GetFileVersionNumber(path);
    image.machineKnown = ReadImageMachine(path, &image.machine);
    image.identityKnown = ReadFileIdentity(path, &image.identity);
    image.security = ReadImageSecurity(calls, path);
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

// A store copy replaces the image only when it has the image's version and
// machine type (the store of a 64-bit system holds x86 services.exe files of
// the same version too), passes the infection check itself, and is not the
// image under another name: on Vista and later the image is a hard link into
// the store, so a patched image is patched there too.
bool IsCleanCopyOf(const InfectedImage& image, const char* candidate)
{
    if (GetFileVersionNumber(candidate) != image.version)
        return false;
    WORD machine = 0;
    if (!ReadImageMachine(candidate, &machine) || machine != image.machine)
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
    if (image.version == 0 || !image.machineKnown || !image.identityKnown)
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

// CopyFile gives the copy what the system directory gives new files (owned
// by Administrators, writable by them): it takes the image's own owner, group
// and DACL instead. An owner such as TrustedInstaller is taken only with
// SeRestorePrivilege enabled; WRITE_OWNER comes with SeTakeOwnershipPrivilege
// whatever the directory handed down.
bool TakeImageSecurity(const FileSecurityCalls& calls, const char* staged, PSECURITY_DESCRIPTOR security)
{
    ScopedPrivileges privileges(L"SeRestorePrivilege", L"SeTakeOwnershipPrivilege");
    ScopedHandle file(
        CreateFileA(staged, READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.IsValid() && calls.set(file.Get(), ImageSecurityParts, security) != FALSE;
}

// Removes a staged copy that will not be moved. Once it has the image's
// security its DACL may refuse the administrators DELETE (TrustedInstaller's
// grants them read and execute): an open with backup semantics gets DELETE
// from SeRestorePrivilege whatever the DACL says.
void DeleteStagedCopy(const char* staged)
{
    if (DeleteFileA(staged))
        return;
    ScopedPrivileges restore(L"SeRestorePrivilege");
    ScopedHandle file(CreateFileA(staged, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE,
                                  nullptr));
}

// Copies the clean store file to a new file beside the image, with the
// image's security, so that the restart moves the copy and the store keeps
// its own file.
bool StageCleanCopy(const FileSecurityCalls& calls, const char* candidate, const InfectedImage& image,
                    char (&staged)[MAX_PATH])
{
    char systemDirectory[MAX_PATH];
    if (!image.security || !GetSystemDirectoryNarrow(systemDirectory))
        return false;
    FsRedirectionGuard nativeSystemDirectory;
    if (GetTempFileNameA(systemDirectory, StagedCopyPrefix, 0, staged) == 0)
        return false;
    if (!CopyFileA(candidate, staged, FALSE) || !TakeImageSecurity(calls, staged, image.security.get())) {
        DeleteStagedCopy(staged);
        return false;
    }
    return true;
}

bool ScheduleReplacement(const char* staged, const char* imagePath)
{
    FsRedirectionGuard nativeSystemDirectory;
    if (MoveFileExA(staged, imagePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        return true;
    DeleteStagedCopy(staged);
    return false;
}

}  // namespace

bool RestoreServicesExe(const FileSecurityCalls& calls)
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
    const InfectedImage image = ExamineInfectedImage(calls, imagePath);
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
    if (!StageCleanCopy(calls, candidate, image, staged) || !ScheduleReplacement(staged, imagePath)) {
        LogInfo(L"Failed to schedule replacement of services.exe");
        return false;
    }
    return true;
}
