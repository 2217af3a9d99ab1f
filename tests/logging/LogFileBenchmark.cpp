// Writes 100,000 lines through the log call into a LogFileSync, then the same
// bytes with a bare loop of fwrite and fflush per line (the floor for a
// flushed log), and prints both times and their ratio.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "logging/FormatterCustom.h"
#include "logging/Log.h"
#include "logging/LogFileSync.h"

namespace {

const int kLines = 100000;

double Now()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool ReadAll(const char* path, std::string* bytes)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return false;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->append(chunk, got);
    fclose(f);
    return true;
}

double LogCallRun(const char* path)
{
    StartLogging();
    double elapsed;
    {
        logging::LogFileSync file(path);
        FormatterCustom formatter;
        file.formatter = &formatter;
        const double start = Now();
        for (int i = 0; i < kLines; ++i)
            LogInfo(L"Deleting file %ws: line %d", L"C:\\$Recycle.Bin\\S-1-5-21-0-0-0-1000\\$0123456789abcdef", i);
        elapsed = Now() - start;
        file.formatter = nullptr;
    }
    StopLogging();
    return elapsed;
}

// The floor: the log's own bytes, one fwrite and one fflush per line.
double FloorRun(const std::string& logBytes, const char* path)
{
    std::vector<size_t> lineEnds;
    for (size_t at = 2; at + 3 < logBytes.size(); at += 2) {
        if (memcmp(logBytes.data() + at, "\r\0\n\0", 4) == 0)
            lineEnds.push_back(at + 4);
    }
    FILE* f = fopen(path, "wb");
    if (!f)
        return -1.0;
    const double start = Now();
    fwrite(logBytes.data(), 2, 1, f);
    fflush(f);
    size_t from = 2;
    for (size_t end : lineEnds) {
        fwrite(logBytes.data() + from, 2, (end - from) / 2, f);
        fflush(f);
        from = end;
    }
    const double elapsed = Now() - start;
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
    DeleteFileA(logPath.c_str());
    DeleteFileA(floorPath.c_str());

    const double logSeconds = LogCallRun(logPath.c_str());
    std::string logBytes;
    if (!ReadAll(logPath.c_str(), &logBytes))
        return 1;
    const double floorSeconds = FloorRun(logBytes, floorPath.c_str());
    std::string floorBytes;
    if (floorSeconds < 0 || !ReadAll(floorPath.c_str(), &floorBytes))
        return 1;

    printf("lines: %d, bytes: %u, same bytes: %s\n", kLines, static_cast<unsigned>(logBytes.size()),
           logBytes == floorBytes ? "yes" : "no");
    printf("log call into LogFileSync: %.3f s (%.2f us/line)\n", logSeconds, logSeconds * 1e6 / kLines);
    printf("fwrite+fflush floor:       %.3f s (%.2f us/line)\n", floorSeconds, floorSeconds * 1e6 / kLines);
    printf("ratio: %.2f\n", floorSeconds > 0 ? logSeconds / floorSeconds : 0.0);
    DeleteFileA(logPath.c_str());
    DeleteFileA(floorPath.c_str());
    return logBytes == floorBytes ? 0 : 1;
}
