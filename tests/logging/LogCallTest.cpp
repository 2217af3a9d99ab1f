// The log call through the default filter to a target with the program's
// line format.
#include <gtest/gtest.h>

#include "logging/Log.h"
#include "logging/Message.h"
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
