#include "logging/AppendFileOpen.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>

namespace logging {

namespace {

int ErrorNumber(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    default:
        return EINVAL;
    }
}

}  // namespace

int OpenForAppendUnshared(const char* path, FILE** stream)
{
    *stream = nullptr;
    if (!path)
        return EINVAL;
    // The name itself, never what a link planted in its place leads to, and
    // only a file that has no other name: the log directory may be one that
    // others can write to.
    HANDLE file = CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ErrorNumber(GetLastError());
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        information.nNumberOfLinks != 1) {
        CloseHandle(file);
        return EACCES;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND);
    if (descriptor == -1) {
        CloseHandle(file);
        return EINVAL;
    }
    *stream = _fdopen(descriptor, "ab");
    if (*stream == nullptr) {
        _close(descriptor);
        return EINVAL;
    }
    return 0;
}

}  // namespace logging
