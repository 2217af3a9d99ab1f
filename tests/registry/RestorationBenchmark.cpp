// The Windows 7 restoration pass by itself, for the restoration benchmark
// (tests/registry/bench_restoration.py): logging set up as the program does it
// (a log file flushed after every line, in the program's line format), then
// the pass over the built-in table with the real privilege step.
//
//   RestorationBenchmark pass <log file>   runs the pass; prints its own time
//   RestorationBenchmark pass <log file> <directory>
//                                          the same with the run's registry
//                                          backup, in <directory>\RA Ravariv
//   RestorationBenchmark pass              the same with no log target: what
//                                          the registry work alone costs
//   RestorationBenchmark start             returns at once: the cost of
//                                          starting the process alone
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "logging/FormatterCustom.h"
#include "logging/Log.h"
#include "logging/LogFileSync.h"
#include "registry/RegistryBackup.h"
#include "registry/ServicesRestore.h"

namespace {

const uint32_t kWindows7 = 0x61u;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double TimedPass(bool backup)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    if (backup)
        BeginRegistryBackup(now);
    RestoreServicesFromTable(kWindows7, BuiltInKnownGoodTable());
    if (backup)
        EndRegistryBackup();
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

int RunPass(const char* logPath, const char* backupDirectory = nullptr)
{
    if (backupDirectory && !SetCurrentDirectoryA(backupDirectory)) {
        printf("cannot enter %s\n", backupDirectory);
        return 2;
    }
    const bool backup = backupDirectory != nullptr;
    StartLogging();
    double elapsed = 0.0;
    if (logPath) {
        logging::LogFileSync logFile(logPath);
        FormatterCustom formatter;
        logFile.formatter = &formatter;
        elapsed = TimedPass(backup);
        // The formatter goes first, then the target closes the file.
    } else {
        elapsed = TimedPass(backup);
    }
    StopLogging();
    printf("pass %.6f\n", elapsed);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "pass") == 0)
        return RunPass(argv[2]);
    if (argc == 4 && strcmp(argv[1], "pass") == 0)
        return RunPass(argv[2], argv[3]);
    if (argc == 2 && strcmp(argv[1], "pass") == 0)
        return RunPass(nullptr);
    if (argc == 2 && strcmp(argv[1], "start") == 0)
        return 0;
    printf("usage: RestorationBenchmark pass [<log file> [<backup directory>]] | start\n");
    return 2;
}
