#include "cleanup/PendingRemoval.h"

#include <cstddef>
#include <cstring>

#include "cleanup/FilePermissions.h"
#include "cleanup/WidePath.h"
#include "logging/Log.h"
#include "win/MachineChange.h"
#include "win/ProtectedDirectory.h"

namespace {

const ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                     READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const ULONG kDirectoryOptions = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;
// Tries at a name of its own before the run gives up on moving anything.
const unsigned kCreateTries = 16;

// "\??\" and the Win32 path without its "\\?\" prefix.
bool NativeName(const wchar_t* win32, wchar_t* native, size_t capacity)
{
    if (wcsncmp(win32, L"\\\\?\\", 4) == 0)
        win32 += 4;
    return CopyBounded(native, capacity, L"\\??\\") && AppendBounded(native, capacity, win32);
}

}  // namespace

void LogNotScheduled(const wchar_t* path)
{
    LogInfo(L"Not scheduled for removal at restart, it cannot be moved: %ws", path);
}

PendingRemoval::PendingRemoval(const NtFileApi& api) : api_(api), path_(), moved_(0), failed_(false) {}

bool PendingRemoval::Create()
{
    if (directory_.IsValid())
        return true;
    if (failed_)
        return false;
    failed_ = true;
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    wchar_t native[MAX_PATH + 8];
    SECURITY_DESCRIPTOR* const security = LockedDownDescriptor();
    if (length == 0 || length >= MAX_PATH || security == nullptr || !NativeName(windows, native, MAX_PATH + 8)) {
        LogInfo(L"Failed to create the directory for removal at restart");
        return false;
    }
    ScopedHandle parent;
    if (!OpenPathDirectory(api_, nullptr, nullptr, native, TextLength(native), &parent)) {
        LogInfo(L"Failed to create the directory for removal at restart in %ws", windows);
        return false;
    }
    // A name no earlier run or other program used: creation fails where one
    // exists, so the directory and its security are this run's alone.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (unsigned attempt = 0; attempt < kCreateTries; ++attempt) {
        wchar_t name[64];
        wsprintfW(name, L"TarnvexFix removal %08lx%08lx-%lx-%u", now.dwHighDateTime, now.dwLowDateTime,
                  GetCurrentProcessId(), attempt);
        const LONG status =
            OpenFileAt(api_, parent.Get(), name, TextLength(name), kDirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       FILE_CREATE, kDirectoryOptions, security, directory_.Receive());
        if (status == kStatusObjectNameCollision)
            continue;
        if (status < 0)
            break;
        if (!OnlyAdministratorsMayWrite(directory_.Get())) {
            directory_.Close();
            break;
        }
        if (!CopyBounded(path_, MAX_PATH, L"\\\\?\\") || !AppendBounded(path_, MAX_PATH, windows) ||
            !JoinPath(path_, MAX_PATH, name)) {
            directory_.Close();
            break;
        }
        failed_ = false;
        return true;
    }
    LogInfo(L"Failed to create the directory for removal at restart in %ws", windows);
    return false;
}

void PendingRemoval::MoveAndSchedule(TreeEntry* entry, const wchar_t* path)
{
    if (!entry->handle.IsValid() || !entry->deletable || entry->link) {
        LogNotScheduled(path);
        return;
    }
    // The move into the run's own directory and its scheduling, as one.
    if (WithholdChange(Change::ScheduleRemoval, ChangeTarget::File(path)))
        return;
    if (!Create()) {
        LogNotScheduled(path);
        return;
    }
    wchar_t name[16];
    const int nameLength = wsprintfW(name, L"%u", moved_ + 1);
    // The new name, relative to the run's directory; the buffer is never
    // shorter than the structure, which the system requires.
    const size_t nameOffset = offsetof(FILE_RENAME_INFORMATION, FileName);
    alignas(8) BYTE rename[sizeof(FILE_RENAME_INFORMATION) + sizeof(name)] = {};
    FILE_RENAME_INFORMATION* const information = reinterpret_cast<FILE_RENAME_INFORMATION*>(rename);
    information->ReplaceIfExists = FALSE;
    information->RootDirectory = directory_.Get();
    information->FileNameLength = static_cast<ULONG>(nameLength) * sizeof(wchar_t);
    memcpy(rename + nameOffset, name, information->FileNameLength);
    wchar_t newPath[MAX_PATH];
    IO_STATUS_BLOCK io = {};
    if (!CopyBounded(newPath, MAX_PATH, path_) || !JoinPath(newPath, MAX_PATH, name) ||
        api_.setInformation(entry->handle.Get(), &io, rename, sizeof(rename), FileRenameInformation) < 0) {
        LogNotScheduled(path);
        return;
    }
    ++moved_;
    if (MoveFileExW(newPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogInfo(L"Scheduled removal at restart %ws", newPath);
}

void PendingRemoval::ScheduleDirectory()
{
    if (!directory_.IsValid())
        return;
    directory_.Close();
    if (MoveFileExW(path_, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogInfo(L"Scheduled removal at restart %ws", path_);
}
