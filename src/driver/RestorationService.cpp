#include "driver/RestorationService.h"

#include "logging/Log.h"
#include "win/BoundedString.h"
#include "win/ProtectedDirectory.h"
#include "win/ScopedServiceHandle.h"

#include <cwchar>

const wchar_t kRestorationServiceName[] = L"VORNTarnvexRestoration";

namespace {

const wchar_t kDisplayName[] = L"VORN Win32/Tarnvex.EV Cleaner services restoration";
const wchar_t kCopyName[] = L"VORNTarnvexEvCleaner.exe";
// Long enough for the quoted copy path, the switches and a long log directory.
const size_t kCommandLineCapacity = 2 * MAX_PATH + 64;
const int kMostDirectoryNames = 16;

bool ServiceStepFailed(const wchar_t* step)
{
    LogInfo(L"Failed to %ws: %u", step, static_cast<unsigned>(GetLastError()));
    return false;
}

// "<windows>\VORN Tarnvex.EV Cleaner <n>", a new directory; its handle lives
// until the copy is in place.
bool MakeCopyDirectory(wchar_t (&directory)[MAX_PATH], ScopedHandle* handle)
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < kMostDirectoryNames; ++attempt) {
        wchar_t name[48];
        wsprintfW(name, L"\\VORN Tarnvex.EV Cleaner %08x", static_cast<unsigned>(seed + attempt * 0x9E3779B9u));
        if (!CopyBounded(directory, MAX_PATH, windows) || !AppendBounded(directory, MAX_PATH, name))
            return false;
        *handle = CreateProtectedDirectory(directory);
        if (handle->IsValid())
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// The copy of the program in the protected directory, checked after the copy.
bool CopyProgram(const wchar_t* directory, wchar_t (&copy)[MAX_PATH])
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (!CopyBounded(copy, MAX_PATH, directory) || !AppendBounded(copy, MAX_PATH, L"\\") ||
        !AppendBounded(copy, MAX_PATH, kCopyName))
        return false;
    if (!CopyFileW(self, copy, TRUE))
        return false;
    ScopedHandle file(CreateFileW(copy, READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.IsValid() && OnlyAdministratorsMayWrite(file.Get());
}

// "<copy>" -silent -r -service -log "<directory>" [-norestart]: every path quoted.
bool FormCommandLine(const wchar_t* copy, const wchar_t* logDirectory, bool noRestart,
                     wchar_t (&commandLine)[kCommandLineCapacity])
{
    commandLine[0] = L'\0';
    return AppendBounded(commandLine, kCommandLineCapacity, L"\"") &&
           AppendBounded(commandLine, kCommandLineCapacity, copy) &&
           AppendBounded(commandLine, kCommandLineCapacity, L"\" -silent -r -service -log \"") &&
           AppendBounded(commandLine, kCommandLineCapacity, logDirectory) &&
           AppendBounded(commandLine, kCommandLineCapacity, L"\"") &&
           (!noRestart || AppendBounded(commandLine, kCommandLineCapacity, L" -norestart"));
}

// A removal at the next restart; the directory after its file.
void ScheduleRemoval(const wchar_t* path)
{
    if (path[0] != L'\0' && !MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        ServiceStepFailed(L"schedule the removal of the restoration service's copy");
}

// The running service, for the service manager's callbacks.
struct ServiceProcess {
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status = {};
    int argc = 0;
    wchar_t** argv = nullptr;
    ServiceRun run = nullptr;
    int exitCode = 0;
} service;

void ReportStatus(DWORD state)
{
    service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    service.status.dwCurrentState = state;
    // The pass is not interrupted halfway: no stop is accepted while it runs.
    service.status.dwControlsAccepted = 0;
    service.status.dwWin32ExitCode = NO_ERROR;
    service.status.dwWaitHint = state == SERVICE_RUNNING ? 0 : 3000;
    SetServiceStatus(service.statusHandle, &service.status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*)
{
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    service.statusHandle = RegisterServiceCtrlHandlerExW(kRestorationServiceName, ControlHandler, nullptr);
    if (service.statusHandle == nullptr)
        return;
    ReportStatus(SERVICE_RUNNING);
    service.exitCode = service.run(service.argc, service.argv);
    ReportStatus(SERVICE_STOPPED);
}

}  // namespace

bool RestorationServiceRegistered()
{
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.IsValid())
        return false;
    ScopedServiceHandle registered(OpenServiceW(manager.Get(), kRestorationServiceName, SERVICE_QUERY_STATUS));
    return registered.IsValid();
}

bool RegisterRestorationService(const wchar_t* logDirectory, bool noRestart)
{
    wchar_t directory[MAX_PATH];
    ScopedHandle directoryHandle;
    if (!MakeCopyDirectory(directory, &directoryHandle))
        return ServiceStepFailed(L"create the restoration service's directory");
    wchar_t copy[MAX_PATH] = L"";
    if (!CopyProgram(directory, copy)) {
        ServiceStepFailed(L"copy the program for the restoration service");
        ScheduleRemoval(copy);
        ScheduleRemoval(directory);
        return false;
    }
    wchar_t commandLine[kCommandLineCapacity];
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    ScopedServiceHandle created;
    if (FormCommandLine(copy, logDirectory, noRestart, commandLine) && manager.IsValid())
        created = ScopedServiceHandle(CreateServiceW(manager.Get(), kRestorationServiceName, kDisplayName,
                                                     SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
                                                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr));
    if (!created.IsValid()) {
        ServiceStepFailed(L"register the restoration service");
        ScheduleRemoval(copy);
        ScheduleRemoval(directory);
        return false;
    }
    LogInfo(L"Registered the restoration service: %ws", commandLine);
    return true;
}

int RunAsRestorationService(int argc, wchar_t** argv, ServiceRun run)
{
    service.argc = argc;
    service.argv = argv;
    service.run = run;
    wchar_t name[sizeof(kRestorationServiceName) / sizeof(wchar_t)];
    CopyBounded(name, sizeof(name) / sizeof(name[0]), kRestorationServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    // Returns when the service has stopped; fails at once outside the
    // service manager (started by hand).
    if (!StartServiceCtrlDispatcherW(table))
        return ServiceStepFailed(L"connect to the service manager") ? 0 : 1;
    return service.exitCode;
}

void RetireRestorationService()
{
    // Only the copy that the cleaning run made retires the service: the
    // program started from anywhere else with these switches changes nothing.
    wchar_t copy[MAX_PATH];
    wchar_t expected[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, copy, MAX_PATH);
    const UINT windowsLength = GetWindowsDirectoryW(expected, MAX_PATH);
    wchar_t* lastSeparator = length > 0 && length < MAX_PATH ? wcsrchr(copy, L'\\') : nullptr;
    if (lastSeparator == nullptr || windowsLength == 0 || windowsLength >= MAX_PATH ||
        !AppendBounded(expected, MAX_PATH, L"\\VORN Tarnvex.EV Cleaner ") ||
        _wcsnicmp(copy, expected, wcslen(expected)) != 0 || wcschr(copy + wcslen(expected), L'\\') != lastSeparator) {
        LogInfo(L"Failed to retire the restoration service: %ws is not its copy", copy);
        return;
    }

    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle own;
    if (manager.IsValid())
        own = ScopedServiceHandle(OpenServiceW(manager.Get(), kRestorationServiceName, DELETE));
    if (!own.IsValid() || !DeleteService(own.Get()))
        ServiceStepFailed(L"delete the restoration service");
    else
        LogInfo(L"Deleted the restoration service");

    ScheduleRemoval(copy);
    *lastSeparator = L'\0';
    ScheduleRemoval(copy);
    LogInfo(L"Scheduled the removal of %ws at the next restart", copy);
}
