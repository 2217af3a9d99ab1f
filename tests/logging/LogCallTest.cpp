// The log call through the default filter to a target with the program's
// line format.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "logging/Log.h"
#include "logging/Message.h"
#include "logging/Registries.h"
#include "support/LogCapture.h"

namespace {

using Lines = std::vector<std::wstring>;

void LogBoth(int n)
{
    LogInfo(L"info %d", n);
    LogDebug(L"debug %ws", L"text");
}

TEST(LogCall, InfoAndDebugLinesCarryTheirLevelNames)
{
    LogCapture capture;
    LogBoth(1);
    EXPECT_EQ(capture.Lines(), (Lines{L"info: info 1", L"debug: debug text"}));
    EXPECT_EQ(capture.Raw(), L"info: info 1\r\ndebug: debug text\r\n");
}

TEST(LogCall, LevelAboveTheDefaultFilterNeverArrives)
{
    LogCapture capture;
    for (int pass = 0; pass < 2; ++pass) {
        LogAt(81, L"hidden");
        LogAt(logging::LevelDebug, L"shown");
    }
    EXPECT_EQ(capture.Lines(), (Lines{L"debug: shown", L"debug: shown"}));
}

TEST(LogCall, TextKeepsItsOwnLineFeedBeforeTheLineEnd)
{
    LogCapture capture;
    LogDebug(L"AdjustTokenPrivileges error %u\n", 5u);
    EXPECT_EQ(capture.Raw(), L"debug: AdjustTokenPrivileges error 5\n\r\n");
}

TEST(LogCall, EmptyTextGivesTheLevelAlone)
{
    LogCapture capture;
    LogInfo(L"");
    LogInfo(L"%ws", L"");
    EXPECT_EQ(capture.Raw(), L"info: \r\ninfo: \r\n");
}

TEST(LogCall, NarrowAndWideStringConversions)
{
    LogCapture capture;
    LogInfo(L"%hs|%s|%ws|%02d|%04d|%u", "narrow", L"wide", L"ws", 7, 2024, 4000000000u);
    EXPECT_EQ(capture.Lines(), (Lines{L"info: narrow|wide|ws|07|2024|4000000000"}));
}

}  // namespace

namespace {

const int kThreads = 8;
const int kLinesPerThread = 300;
const wchar_t kPadding[] = L"a text long enough to make formatting and delivery take a while";

void LogFromWorker(int worker, int line)
{
    LogInfo(L"worker %d line %d %ws", worker, line, kPadding);
}

DWORD WINAPI Worker(void* parameter)
{
    const int worker = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
    for (int line = 0; line < kLinesPerThread; ++line) {
        LogFromWorker(worker, line);
        if (line % 37 == 0)
            Sleep(0);
    }
    return 0;
}

// One call site shared by several threads: every line arrives whole, once.
TEST(LogCallThreads, EveryLineFromOneSiteArrivesWhole)
{
    LogCapture capture;
    LogFromWorker(-1, -1);  // the site's message exists before the threads start
    capture.Clear();

    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        threads[i] = CreateThread(nullptr, 0, Worker, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, 60000), WAIT_OBJECT_0);
    for (HANDLE thread : threads)
        CloseHandle(thread);

    const std::vector<std::wstring> lines = capture.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
    std::vector<int> next(kThreads, 0);
    for (const std::wstring& line : lines) {
        int worker = -1;
        int number = -1;
        ASSERT_EQ(swscanf(line.c_str(), L"info: worker %d line %d", &worker, &number), 2) << line;
        ASSERT_TRUE(worker >= 0 && worker < kThreads) << line;
        EXPECT_EQ(number, next[worker]) << "lost, repeated or reordered: " << line;
        next[worker] = number + 1;
        const std::wstring expected = L"info: worker " + std::to_wstring(worker) + L" line " + std::to_wstring(number) +
                                      L" " + kPadding;
        EXPECT_EQ(line, expected);
    }
}

struct RaceStart {
    HANDLE go;
    logging::Message* message = nullptr;
    bool created = false;
};

// A thread entry has the system's calling convention: on 32-bit x86 a lambda
// does not convert to it.
DWORD WINAPI RaceToTheSite(void* p)
{
    RaceStart* s = static_cast<RaceStart*>(p);
    WaitForSingleObject(s->go, INFINITE);
    logging::LogCall(&s->message, &s->created, logging::LevelInfo, 5, L"race");
    return 0;
}

// Several threads reaching a new site at the same moment create one message.
TEST(LogCallThreads, FirstPassesAtOnceCreateOneMessage)
{
    LogCapture capture;
    RaceStart start;
    start.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(start.go, nullptr);
    HANDLE threads[kThreads];
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, RaceToTheSite, &start, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    SetEvent(start.go);
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, 60000), WAIT_OBJECT_0);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseHandle(start.go);

    EXPECT_EQ(capture.Lines(), std::vector<std::wstring>(kThreads, L"info: race"));
    // The default filter, the capture target and one message.
    EXPECT_TRUE(start.created);
    EXPECT_EQ(logging::Registry(logging::RegistryName::AllNodes)->size(), 3u);
}

}  // namespace
