// One step of the service host image repair, run by the restart test in a
// prefix it prepared:
//   check          prints "infected" or "clean"
//   restore <dir>  makes <dir> the current directory, runs the replacement,
//                  prints its log lines, then "pending:" and each entry of the
//                  pending rename list, and exits with 0 on success, 1 on failure
// The pending list is read here because Wine carries pending renames out
// whenever a new session of the prefix starts, so it lasts only as long as
// the session of this run.
#include "cleanup/ServicesExeCheck.h"
#include "cleanup/ServicesExeRestore.h"
#include "support/LogCapture.h"
#include "win/ScopedRegKey.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void PrintLine(const std::wstring& line)
{
    // The lines are ASCII; anything else shows as '?'.
    std::string narrow;
    for (wchar_t c : line)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    std::printf("%s\n", narrow.c_str());
}

void PrintPendingRenames()
{
    std::printf("pending:\n");
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                      key.Receive()) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return;
    std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
        return;
    for (const wchar_t* at = data.c_str(); *at != L'\0'; at += lstrlenW(at) + 1)
        PrintLine(at);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring step = argc > 1 ? argv[1] : L"";
    LogCapture capture;
    if (step == L"check" && argc == 2) {
        std::printf("%s\n", ServicesExeIsInfected() ? "infected" : "clean");
        return 0;
    }
    if (step == L"restore" && argc == 3) {
        if (!SetCurrentDirectoryW(argv[2]))
            return 2;
        const bool restored = RestoreServicesExe();
        for (const std::wstring& line : capture.Lines())
            PrintLine(line);
        PrintPendingRenames();
        return restored ? 0 : 1;
    }
    std::fprintf(stderr, "usage: check | restore <directory>\n");
    return 2;
}
