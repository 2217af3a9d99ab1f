// Writes 100,000 lines through the log call into a LogFileSync, then the same
// bytes with a bare loop of fwrite and fflush per line (the floor for a
// flushed log), and prints the times and their ratios. The floor runs twice:
// on a stream opened as the log's own (appending, unshared) and on a plain
// "wb" stream, because the runtime's append mode seeks to the end before
// every write and that cost belongs to the open mode, not to the log call.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "logging/AppendFileOpen.h"
#include "logging/FormatterCustom.h"
#include "logging/Log.h"
#include "logging/LogFileSync.h"
#include "support/BenchmarkClock.h"

namespace {

const int kLines = 100000;
// Each run is repeated and the fastest counts: the machine is shared.
const int kRepeats = 3;

double LogCallRun(const char* path)
{
    StartLogging();
    double elapsed;
    {
        logging::LogFileSync file(path);
        FormatterCustom formatter;
        file.formatter = &formatter;
        const double start = SecondsNow();
        for (int i = 0; i < kLines; ++i)
            LogInfo(L"Deleting file %ws: line %d", L"C:\\$Recycle.Bin\\S-1-5-21-0-0-0-1000\\$0123456789abcdef", i);
        elapsed = SecondsNow() - start;
        file.formatter = nullptr;
    }
    StopLogging();
    return elapsed;
}

// The floor: the log's own bytes, one fwrite and one fflush per line.
double FloorRun(const std::string& logBytes, const char* path, bool appendUnshared)
{
    std::vector<size_t> lineEnds;
    for (size_t at = 2; at + 3 < logBytes.size(); at += 2) {
        if (memcmp(logBytes.data() + at, "\r\0\n\0", 4) == 0)
            lineEnds.push_back(at + 4);
    }
    FILE* f = nullptr;
    if (appendUnshared)
        logging::OpenForAppendUnshared(path, &f);
    else
        f = fopen(path, "wb");
    if (!f)
        return -1.0;
    const double start = SecondsNow();
    fwrite(logBytes.data(), 2, 1, f);
    fflush(f);
    size_t from = 2;
    for (size_t end : lineEnds) {
        fwrite(logBytes.data() + from, 2, (end - from) / 2, f);
        fflush(f);
        from = end;
    }
    const double elapsed = SecondsNow() - start;
    fclose(f);
    return elapsed;
}

}  // namespace

int main()
{
    char temp[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, temp))
        return 1;
    const std::string logPath = std::string(temp) + "vorn-benchmark-log.log";
    const std::string floorPath = std::string(temp) + "vorn-benchmark-floor.log";
    double logSeconds = 0.0;
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        DeleteFileA(logPath.c_str());
        const double seconds = LogCallRun(logPath.c_str());
        if (repeat == 0 || seconds < logSeconds)
            logSeconds = seconds;
    }
    std::string logBytes;
    if (!ReadFileBytes(logPath, &logBytes))
        return 1;
    printf("lines: %d, bytes: %u, fastest of %d runs each\n", kLines, static_cast<unsigned>(logBytes.size()), kRepeats);
    printf("log call into LogFileSync:          %.3f s (%.2f us/line)\n", logSeconds, logSeconds * 1e6 / kLines);

    bool same = true;
    const struct {
        bool appendUnshared;
        const char* name;
    } floors[] = {{true, "floor, appending unshared stream:"}, {false, "floor, plain \"wb\" stream:       "}};
    for (const auto& floor : floors) {
        double floorSeconds = 0.0;
        for (int repeat = 0; repeat < kRepeats; ++repeat) {
            DeleteFileA(floorPath.c_str());
            const double seconds = FloorRun(logBytes, floorPath.c_str(), floor.appendUnshared);
            if (seconds <= 0)
                return 1;
            if (repeat == 0 || seconds < floorSeconds)
                floorSeconds = seconds;
        }
        std::string floorBytes;
        if (!ReadFileBytes(floorPath, &floorBytes))
            return 1;
        same = same && floorBytes == logBytes;
        printf("%s  %.3f s (%.2f us/line), ratio %.2f\n", floor.name, floorSeconds, floorSeconds * 1e6 / kLines,
               logSeconds / floorSeconds);
    }
    printf("same bytes: %s\n", same ? "yes" : "no");
    DeleteFileA(logPath.c_str());
    DeleteFileA(floorPath.c_str());
    return same ? 0 : 1;
}
