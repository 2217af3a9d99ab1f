#include "cleanup/ServicesExePath.h"

#include "logging/Log.h"

#include <cstring>

namespace {

// The Get...DirectoryA calls return 0 on failure and the size they would
// need, NUL included, when the buffer is too small.
bool DirectoryFits(UINT written, size_t capacity)
{
    return written != 0 && written < capacity;
}

}  // namespace

bool GetWindowsDirectoryNarrow(char (&path)[MAX_PATH])
{
    path[0] = '\0';
    return DirectoryFits(GetWindowsDirectoryA(path, MAX_PATH), MAX_PATH);
}

bool GetSystemDirectoryNarrow(char (&path)[MAX_PATH])
{
    path[0] = '\0';
    return DirectoryFits(GetSystemDirectoryA(path, MAX_PATH), MAX_PATH);
}

bool FormServicesExePath(char (&path)[MAX_PATH])
{
    if (!GetSystemDirectoryNarrow(path) ||
        !AppendBounded(path, MAX_PATH, "\\services.exe")) {
        LogInfo(L"Failed to get services.exe path");
        return false;
    }
    return true;
}
