#include "driver/Entry.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "driver/CommandLine.h"
#include "driver/RunCleaner.h"
#include "logging/FormatterCustom.h"
#include "logging/Log.h"
#include "logging/LogFileSync.h"
#include "win/LogDirectory.h"

namespace {

const wchar_t kLogDirectory[] = L"RA Ravariv";
const wchar_t kExtendedPathPrefix[] = L"\\\\?\\";

// "\\?\" followed by the desktop folder; relative paths resolve against it.
wchar_t desktopPath[521];

bool IsExistingDirectory(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

const wchar_t* DesktopPath()
{
    return desktopPath;
}

bool PrepareDesktopPath()
{
    const size_t prefixLength = wcslen(kExtendedPathPrefix);
    wmemcpy(desktopPath, kExtendedPathPrefix, prefixLength + 1);
    // SHGetFolderPathW writes at most MAX_PATH characters behind the prefix.
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktopPath + prefixLength) != S_OK)
        return false;
    LogInfo(L"Desktop dir: %ws", desktopPath);
    return true;
}

bool PrepareLogDirectory()
{
    const DWORD attributes = GetFileAttributesW(kLogDirectory);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (!IsExistingDirectory(kLogDirectory))
        CreateDirectoryW(kLogDirectory, nullptr);  // a failure only costs the log file
    return true;
}

namespace {

bool PrepareGivenLogDirectory(const wchar_t* directory)
{
    // Resolved once against the directory the program was started in, and
    // made the current directory: every later name of the run's files is
    // relative to it. A name that exists and is no directory is refused.
    wchar_t fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameW(directory, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (!IsExistingDirectory(fullPath) && !CreateDirectoryW(fullPath, nullptr) && !IsExistingDirectory(fullPath))
        return false;
    if (!SetCurrentDirectoryW(fullPath) || !UseLogDirectory(fullPath))
        return false;
    LogInfo(L"Log dir: %ws", fullPath);
    return true;
}

}  // namespace

int RunEntry(int argc, wchar_t** argv, const RestartSteps& restart)
{
    StartLogging();
    const CommandLine commandLine = ParseCommandLine(argc, argv);
    UseLogDirectory(nullptr);
    if (commandLine.logDirectory != nullptr) {
        // No desktop needed: LocalSystem has none.
        if (!PrepareGivenLogDirectory(commandLine.logDirectory)) {
            printf("Couldn't prepare directory for logs\n");
            StopLogging();
            return EntryResultNoLogDirectory;
        }
    } else {
        if (!PrepareDesktopPath()) {
            printf("Couldn't retrieve path to Desktop\n");
            StopLogging();
            return EntryResultNoLogDirectory;
        }
        SetCurrentDirectoryW(desktopPath);
        if (!PrepareLogDirectory()) {
            printf("Couldn't prepare directory for logs\n");
            StopLogging();
            return EntryResultNoLogDirectory;
        }
    }

    int result;
    {
        logging::LogFileSync logFile(commandLine.logDirectory != nullptr ? "TarnvexFix.log"
                                                                          : "RA Ravariv\\TarnvexFix.log");
        FormatterCustom formatter;
        logFile.formatter = &formatter;

        result = RunCleaner(argc, argv);
        if (result == RunResultRestart) {
            if (!restart.enableShutdownPrivilege() || !restart.initiateRestart())
                printf("Failed to initiate system reboot. Restart your system manually.\n");
        }
        // The formatter goes first, then the target closes the file.
    }
    StopLogging();
    return result;
}
