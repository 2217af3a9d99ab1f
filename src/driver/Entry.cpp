#include "driver/Entry.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "driver/CommandLine.h"
#include "driver/FailedStepWatch.h"
#include "driver/RestorationService.h"
#include "driver/RunCleaner.h"
#include "driver/UnattendedRun.h"
#include "logging/FormatterCustom.h"
#include "logging/Log.h"
#include "logging/LogFileSync.h"
#include "win/BoundedString.h"
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

// Where an unattended run without a desktop keeps "RA Ravariv": the Windows
// directory's Debug, beside the system's own logs (not redirected under WoW64).
bool UseSystemDebugDirectory()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wchar_t path[521];
    if (!CopyBounded(path, 521, kExtendedPathPrefix) || !AppendBounded(path, 521, windows) ||
        !AppendBounded(path, 521, L"\\Debug"))
        return false;
    // Present on every Windows; made where a system lacks it. Only the
    // administrators may create it in the Windows directory.
    if (!IsExistingDirectory(path))
        CreateDirectoryW(path, nullptr);
    return SetCurrentDirectoryW(path) != FALSE;
}

int RunEntryWith(int argc, wchar_t** argv, const CommandLine& line, const RestartSteps& restart)
{
    StartLogging();
    UseLogDirectory(nullptr);
    if (line.logDirectory != nullptr) {
        // No desktop needed: LocalSystem has none.
        if (!PrepareGivenLogDirectory(line.logDirectory)) {
            printf("Couldn't prepare directory for logs\n");
            StopLogging();
            return EntryResultNoLogDirectory;
        }
    } else if (PrepareDesktopPath()) {
        SetCurrentDirectoryW(desktopPath);
    } else if (!line.silent || !UseSystemDebugDirectory()) {
        printf("Couldn't retrieve path to Desktop\n");
        StopLogging();
        return EntryResultNoLogDirectory;
    }
    if (line.logDirectory == nullptr && !PrepareLogDirectory()) {
        printf("Couldn't prepare directory for logs\n");
        StopLogging();
        return EntryResultNoLogDirectory;
    }

    int result;
    {
        logging::LogFileSync logFile(line.logDirectory != nullptr ? "TarnvexFix.log" : "RA Ravariv\\TarnvexFix.log");
        FormatterCustom formatter;
        logFile.formatter = &formatter;

        if (line.silent) {
            FailedStepWatch watch;
            UnattendedReport report;
            result = RunCleaner(argc, argv, nullptr, &report);
            const bool asService = line.service && line.mode == RunMode::Restoration;
            result = FinishUnattendedRun(result, line.noRestart, asService, watch, report, restart);
        } else {
            result = RunCleaner(argc, argv);
            if (result == RunResultRestart && !line.noRestart) {
                if (!restart.enableShutdownPrivilege() || !restart.initiateRestart())
                    printf("Failed to initiate system reboot. Restart your system manually.\n");
            }
        }
        // The formatter goes first, then the target closes the file.
    }
    StopLogging();
    return result;
}

int RunServiceProcess(int argc, wchar_t** argv)
{
    return RunEntryWith(argc, argv, ParseCommandLine(argc, argv), SystemRestartSteps());
}

}  // namespace

int RunEntry(int argc, wchar_t** argv, const RestartSteps& restart)
{
    const CommandLine line = ParseCommandLine(argc, argv);
    // The restoration service: the service manager must hear from the
    // process before the run starts.
    if (line.service && line.silent && line.mode == RunMode::Restoration)
        return RunAsRestorationService(argc, argv, RunServiceProcess);
    return RunEntryWith(argc, argv, line, restart);
}
